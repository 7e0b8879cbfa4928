// TDesigner: the form designer, as far as packages of components need one.
//
// It installs a package (initialises its units, then calls each unit's
// Register function in table order, which puts component classes on palette
// pages through RegisterComponents), shows the palette, creates a component
// of a palette class on a form as dropping it would, lists the published
// properties of a class as a property inspector does, and uninstalls a
// package (takes its classes off the palette and out of the class registry,
// then finalises its units in reverse order).
//
//   Vcl::TDesigner designer;
//   designer.Install(package);
//   for (const auto& page : designer.Palette()) ...
//   designer.Uninstall(package);
#ifndef QUORVEX_FRAMEWORK_DESIGNER_H
#define QUORVEX_FRAMEWORK_DESIGNER_H

#include "Classes.h"
#include "Frameworkexport.h"
#include "Packages.h"

#include <string>
#include <vector>

namespace Vcl {

struct PalettePage {
    std::string Name;
    std::vector<TClass> Classes;  // in registration order
};

// One line of the property inspector.
struct InspectorRow {
    std::string Name;
    std::string TypeName;
    bool IsEvent;       // shown on the events page rather than the properties page
    std::string Value;  // as a form file writes it; empty when inspecting a class
};

class QUORVEX_FRAMEWORK_API TDesigner {
public:
    TDesigner();
    // Uninstalls the packages still installed, the last installed first.
    ~TDesigner();
    TDesigner(const TDesigner&) = delete;
    TDesigner& operator=(const TDesigner&) = delete;

    // EPackageError when the package is already installed. When a unit's
    // initialisation or Register raises, what the package did so far is undone
    // and the error goes on.
    void Install(const PackageDescriptor& package);
    // EPackageError when the package is not installed.
    void Uninstall(const PackageDescriptor& package);
    bool IsInstalled(const PackageDescriptor& package) const;

    // The pages in the order they were first used, each with its classes.
    std::vector<PalettePage> Palette() const;

    // Creates a component of the palette class `cls` owned by `form` and names
    // it after its class with the first free number (a leading T of the class
    // name dropped): Clock1, Clock2, ... EComponentError when `cls` is not on
    // the palette.
    TComponent* DropComponent(TClass cls, TComponent& form);

    // The published properties of `cls` in declaration order, events included
    // and marked.
    std::vector<InspectorRow> Inspect(TClass cls) const;
    // The same for `component`, with its values; event handlers are named by
    // the published methods of the component's form (its topmost owner).
    std::vector<InspectorRow> Inspect(const TComponent& component) const;

    // Used by RegisterComponents.
    void AddToPalette(const std::string& page, TClass cls);

private:
    struct PaletteEntry {
        std::string page;
        TClass cls;
        const PackageDescriptor* package;
    };
    struct Installed {
        const PackageDescriptor* package;
        std::vector<TClass> registeredClasses;  // classes this package added to the class registry
    };
    void removePackage(Installed& installed);

    std::vector<PaletteEntry> palette_;
    std::vector<Installed> installed_;
    Installed* installing_ = nullptr;
};

}  // namespace Vcl

#endif

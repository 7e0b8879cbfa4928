// Packages: a shared library of components, described by a unit table and a
// list of named resources.
//
// A package defines one PackageDescriptor and exports it through a function
// named GetPackageDescriptor, so that TPackageModule can load the package
// file and find it:
//
//   static const Vcl::PackageUnit units[] = {
//       {"Clockpackage", nullptr, nullptr, nullptr},
//       {"Clockunit", &InitClockUnit, &DoneClockUnit, &RegisterClock},
//   };
//   static const Vcl::PackageResource resources[] = {
//       {"CLOCK", Vcl::TResourceKind::Bitmap, clockBmp, sizeof clockBmp},
//   };
//   static const Vcl::PackageDescriptor package = {"Clockpackage", units, 2, resources, 1};
//   QUORVEX_PACKAGE_ENTRY const Vcl::PackageDescriptor* GetPackageDescriptor() { return &package; }
//
// Initialising a package runs the unit table's initialisation entries in
// order; finalising runs the finalisation entries in reverse order. Each unit
// entry is use-counted: its initialisation work runs at the first
// initialisation only and its finalisation work at the matching last
// finalisation, so nested loads (the application and the designer loading
// the same package) do the work once.
#ifndef QUORVEX_FRAMEWORK_PACKAGES_H
#define QUORVEX_FRAMEWORK_PACKAGES_H

#include "Ansistring.h"
#include "Frameworkexport.h"
#include "Typeinfo.h"

#include <cstddef>
#include <string>
#include <vector>

// Marks a package's descriptor function for export with C linkage.
#if defined(_WIN32)
#  define QUORVEX_PACKAGE_ENTRY extern "C" __declspec(dllexport)
#else
#  define QUORVEX_PACKAGE_ENTRY extern "C" __attribute__((visibility("default")))
#endif

namespace Vcl {

// One unit of a package. Each entry may be null.
struct PackageUnit {
    const char* Name;
    void (*Initialize)();  // the unit's initialisation work
    void (*Finalize)();    // the unit's finalisation work
    void (*Register)();    // called by the designer when it installs the package
};

enum class TResourceKind {
    Data,   // raw bytes
    Bitmap  // a BMP image, file header included
};

// One named resource of a package.
struct PackageResource {
    const char* Name;
    TResourceKind Kind;
    const unsigned char* Bytes;
    std::size_t Size;
};

struct PackageDescriptor {
    const char* Name;
    const PackageUnit* Units;  // the unit table, in initialisation order
    std::size_t UnitCount;
    const PackageResource* Resources;
    std::size_t ResourceCount;
};

// The exported function through which a loaded package is found.
using PackageDescriptorFunction = const PackageDescriptor* (*)();
constexpr const char* PackageDescriptorSymbol = "GetPackageDescriptor";

// Runs the initialisation entries in table order, each counted. When one
// raises, the units already initialised are finalised again (in reverse
// order) and the error goes on.
QUORVEX_FRAMEWORK_API void InitializePackage(const PackageDescriptor& package);
// Runs the finalisation entries in reverse table order, each counted; a unit
// that is not initialised is left alone.
QUORVEX_FRAMEWORK_API void FinalizePackage(const PackageDescriptor& package);
// How many initialisations of `unit` are not yet matched by a finalisation.
QUORVEX_FRAMEWORK_API int UnitUseCount(const PackageUnit& unit);

// The package's resource of that name (letter case ignored), or null.
QUORVEX_FRAMEWORK_API const PackageResource* FindPackageResource(const PackageDescriptor& package,
                                                                 const std::string& name);
// The bytes of the package's resource of that name; EPackageError when the
// package has no such resource.
QUORVEX_FRAMEWORK_API std::vector<unsigned char> LoadPackageResource(const PackageDescriptor& package,
                                                                     const std::string& name);

// A package file loaded into the process: loading finds its descriptor and
// initialises its units; destruction finalises them and unloads the file.
class QUORVEX_FRAMEWORK_API TPackageModule {
public:
    // EPackageError when the file cannot be loaded or is not a package.
    explicit TPackageModule(const std::string& fileName);
    ~TPackageModule();
    TPackageModule(const TPackageModule&) = delete;
    TPackageModule& operator=(const TPackageModule&) = delete;

    const PackageDescriptor& Descriptor() const noexcept { return *descriptor_; }

private:
    void* handle_ = nullptr;
    const PackageDescriptor* descriptor_ = nullptr;
};

// Puts the component classes Classes[0..HighIndex] on the palette page `Page`
// of the designer that is installing a package, in that order, and registers
// them for form files. Meant for a unit's Register function; EComponentError
// when no designer is installing a package, for an empty page name, for a
// class that is not a component constructible by class, and for a class
// already on the palette.
QUORVEX_FRAMEWORK_API void RegisterComponents(const System::AnsiString& Page, const TClass* Classes,
                                              int HighIndex);

}  // namespace Vcl

#endif

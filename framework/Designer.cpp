// The designer stand-in and RegisterComponents, which reaches the designer
// that is installing a package on the calling thread.
#include "Designer.h"

#include "Formstream.h"
#include "Frameworkerrors.h"

#include <algorithm>

namespace Vcl {

namespace {

thread_local TDesigner* installingDesigner = nullptr;

// Sets the installing designer for the duration of a scope.
class InstallScope {
public:
    explicit InstallScope(TDesigner* designer) : previous_(installingDesigner) { installingDesigner = designer; }
    ~InstallScope() { installingDesigner = previous_; }
    InstallScope(const InstallScope&) = delete;
    InstallScope& operator=(const InstallScope&) = delete;

private:
    TDesigner* previous_;
};

bool IsRegistered(TClass cls)
{
    return GetClass(cls->ClassName()) == cls;
}

}  // namespace

void RegisterComponents(const System::AnsiString& Page, const TClass* Classes, int HighIndex)
{
    if (installingDesigner == nullptr)
        throw EComponentError("Components can only be registered while a designer installs a package");
    if (Page.IsEmpty())
        throw EComponentError("A palette page needs a name");
    if (Classes == nullptr || HighIndex < 0)
        throw EComponentError("No component classes to register");
    for (int i = 0; i <= HighIndex; ++i)
        installingDesigner->AddToPalette(Page.ToStdString(), Classes[i]);
}

TDesigner::TDesigner() = default;

TDesigner::~TDesigner()
{
    while (!installed_.empty()) {
        try {
            Uninstall(*installed_.back().package);
        } catch (...) {
            installed_.pop_back();
        }
    }
}

bool TDesigner::IsInstalled(const PackageDescriptor& package) const
{
    return std::any_of(installed_.begin(), installed_.end(),
                       [&](const Installed& entry) { return entry.package == &package; });
}

void TDesigner::Install(const PackageDescriptor& package)
{
    if (IsInstalled(package) || (installing_ != nullptr && installing_->package == &package))
        throw EPackageError(std::string("Package ") + (package.Name != nullptr ? package.Name : "") +
                            " is already installed");
    InitializePackage(package);
    Installed entry{&package, {}};
    installing_ = &entry;
    try {
        InstallScope scope(this);
        for (std::size_t i = 0; i < package.UnitCount; ++i)
            if (package.Units[i].Register != nullptr)
                package.Units[i].Register();
    } catch (...) {
        installing_ = nullptr;
        removePackage(entry);
        FinalizePackage(package);
        throw;
    }
    installing_ = nullptr;
    installed_.push_back(std::move(entry));
}

void TDesigner::Uninstall(const PackageDescriptor& package)
{
    auto it = std::find_if(installed_.begin(), installed_.end(),
                           [&](const Installed& entry) { return entry.package == &package; });
    if (it == installed_.end())
        throw EPackageError(std::string("Package ") + (package.Name != nullptr ? package.Name : "") +
                            " is not installed");
    Installed entry = std::move(*it);
    installed_.erase(it);
    removePackage(entry);
    FinalizePackage(package);
}

void TDesigner::removePackage(Installed& installed)
{
    palette_.erase(std::remove_if(palette_.begin(), palette_.end(),
                                  [&](const PaletteEntry& e) { return e.package == installed.package; }),
                   palette_.end());
    for (TClass cls : installed.registeredClasses)
        UnRegisterClass(cls);
    installed.registeredClasses.clear();
}

void TDesigner::AddToPalette(const std::string& page, TClass cls)
{
    if (installing_ == nullptr)
        throw EComponentError("Components can only be registered while a designer installs a package");
    if (cls == nullptr || !cls->InheritsFrom(TComponent::StaticClass()) || !cls->IsConstructible())
        throw EComponentError("Only components that can be created by class go on the palette");
    if (std::any_of(palette_.begin(), palette_.end(), [&](const PaletteEntry& e) { return e.cls == cls; }))
        throw EComponentError("Component class " + cls->ClassName() + " is already on the palette");
    if (!IsRegistered(cls)) {
        RegisterClass(cls);
        installing_->registeredClasses.push_back(cls);
    }
    palette_.push_back(PaletteEntry{page, cls, installing_->package});
}

std::vector<PalettePage> TDesigner::Palette() const
{
    std::vector<PalettePage> pages;
    for (const PaletteEntry& entry : palette_) {
        auto page = std::find_if(pages.begin(), pages.end(), [&](const PalettePage& p) { return p.Name == entry.page; });
        if (page == pages.end())
            page = pages.insert(pages.end(), PalettePage{entry.page, {}});
        page->Classes.push_back(entry.cls);
    }
    return pages;
}

TComponent* TDesigner::DropComponent(TClass cls, TComponent& form)
{
    if (std::none_of(palette_.begin(), palette_.end(), [&](const PaletteEntry& e) { return e.cls == cls; }))
        throw EComponentError("The class is not on the palette");
    std::string base = cls->ClassName();
    if (base.size() > 1 && base[0] == 'T' && base[1] >= 'A' && base[1] <= 'Z')
        base.erase(0, 1);
    int number = 1;
    while (form.FindComponent(System::AnsiString(base + std::to_string(number))) != nullptr)
        ++number;
    TComponent* component = cls->Create(&form);
    try {
        component->SetName(System::AnsiString(base + std::to_string(number)));
    } catch (...) {
        delete component;
        throw;
    }
    return component;
}

std::vector<InspectorRow> TDesigner::Inspect(TClass cls) const
{
    std::vector<InspectorRow> rows;
    for (const TPropInfo* property : cls->Properties())
        rows.push_back(InspectorRow{property->Name(), property->PropType().Name(),
                                    property->PropType().Kind() == TTypeKind::Method, std::string()});
    return rows;
}

std::vector<InspectorRow> TDesigner::Inspect(const TComponent& component) const
{
    const TComponent* form = &component;
    while (form->GetOwner() != nullptr)
        form = form->GetOwner();
    std::vector<InspectorRow> rows = Inspect(component.ClassType());
    const auto properties = component.ClassType()->Properties();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (properties[i]->ReadAccess() != TAccess::None)
            rows[i].Value = PropertyValueText(*properties[i], component, form);
    return rows;
}

}  // namespace Vcl

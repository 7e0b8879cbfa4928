// A package file for the loader test: one component class registered for
// form files while the package is initialised, and one data resource.
#include "Framework.h"

namespace {

class ModuleWidget : public Vcl::TComponent {
public:
    explicit ModuleWidget(Vcl::TComponent* Owner) : TComponent(Owner) {}
    static Vcl::TClass StaticClass()
    {
        static const Vcl::TMetaClass meta =
            Vcl::ClassInfo<ModuleWidget>("ModuleWidget", "Moduleunit", Vcl::TComponent::StaticClass())
                .Constructible()
                .Build();
        return &meta;
    }
    Vcl::TClass ClassType() const override { return StaticClass(); }
};

void InitModuleUnit() { Vcl::RegisterClass(ModuleWidget::StaticClass()); }
void DoneModuleUnit() { Vcl::UnRegisterClass(ModuleWidget::StaticClass()); }
void RegisterModuleUnit()
{
    const Vcl::TClass classes[] = {ModuleWidget::StaticClass()};
    Vcl::RegisterComponents("Module", classes, 0);
}

const Vcl::PackageUnit units[] = {
    {"Testpackage", nullptr, nullptr, nullptr},
    {"Moduleunit", &InitModuleUnit, &DoneModuleUnit, &RegisterModuleUnit},
};
const unsigned char greeting[] = {'h', 'i', 0, 0xFF};
const Vcl::PackageResource resources[] = {
    {"GREETING", Vcl::TResourceKind::Data, greeting, sizeof greeting},
};
const Vcl::PackageDescriptor package = {"Testpackage", units, 2, resources, 1};

}  // namespace

QUORVEX_PACKAGE_ENTRY const Vcl::PackageDescriptor* GetPackageDescriptor()
{
    return &package;
}

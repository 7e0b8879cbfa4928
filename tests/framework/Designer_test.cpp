// Packages and the designer: unit initialisation order and use counts,
// registration on the palette, the inspector, uninstalling, resources and
// the loading of a package file.
#include "Testcomponents.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace FrameworkTest;

std::vector<std::string> events;

void InitA() { events.push_back("init A"); }
void DoneA() { events.push_back("done A"); }
void InitB() { events.push_back("init B"); }
void DoneB() { events.push_back("done B"); }
void RegisterB()
{
    events.push_back("register B");
    const Vcl::TClass classes[] = {Widget::StaticClass(), PlainWidget::StaticClass()};
    Vcl::RegisterComponents("Test", classes, 1);
}
void RegisterC()
{
    events.push_back("register C");
    // Only the class up to the highest index is registered.
    const Vcl::TClass classes[] = {Form::StaticClass(), Widget::StaticClass()};
    Vcl::RegisterComponents("Other", classes, 0);
}

const Vcl::PackageUnit units[] = {
    {"Pkg", nullptr, nullptr, nullptr},
    {"UnitA", &InitA, &DoneA, nullptr},
    {"UnitB", &InitB, &DoneB, &RegisterB},
    {"UnitC", nullptr, nullptr, &RegisterC},
};
const unsigned char bitmap[] = {'B', 'M', 1, 2};
const Vcl::PackageResource resources[] = {
    {"DESCRIPTION", Vcl::TResourceKind::Data, bitmap + 2, 2},
    {"Widget", Vcl::TResourceKind::Bitmap, bitmap, sizeof bitmap},
};
const Vcl::PackageDescriptor package = {"Pkg", units, 4, resources, 2};

void RegisterBad()
{
    events.push_back("register bad");
    const Vcl::TClass classes[] = {Vcl::TPersistent::StaticClass()};
    Vcl::RegisterComponents("Test", classes, 0);
}
const Vcl::PackageUnit badUnits[] = {
    {"UnitA", &InitA, &DoneA, nullptr},
    {"UnitB", &InitB, &DoneB, &RegisterB},
    {"UnitBad", nullptr, nullptr, &RegisterBad},
};
const Vcl::PackageDescriptor badRegistration = {"Bad", badUnits, 3, nullptr, 0};

void InitFails()
{
    events.push_back("init fails");
    throw Vcl::Exception("unit cannot start");
}
const Vcl::PackageUnit failingUnits[] = {
    {"UnitA", &InitA, &DoneA, nullptr},
    {"UnitFails", &InitFails, &DoneB, nullptr},
    {"UnitB", &InitB, &DoneB, nullptr},
};
const Vcl::PackageDescriptor failingInit = {"Failing", failingUnits, 3, nullptr, 0};

std::vector<std::string> Names(const std::vector<Vcl::TClass>& classes)
{
    std::vector<std::string> names;
    for (Vcl::TClass cls : classes)
        names.push_back(cls->ClassName());
    return names;
}

class FrameworkDesigner : public ::testing::Test {
protected:
    void SetUp() override { events.clear(); }
};

TEST_F(FrameworkDesigner, InstallInitialisesThenRegistersInUnitOrder)
{
    Vcl::TDesigner designer;
    designer.Install(package);
    EXPECT_EQ(events, (std::vector<std::string>{"init A", "init B", "register B", "register C"}));

    const auto pages = designer.Palette();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].Name, "Test");
    EXPECT_EQ(Names(pages[0].Classes), (std::vector<std::string>{"Widget", "PlainWidget"}));
    EXPECT_EQ(pages[1].Name, "Other");
    EXPECT_EQ(Names(pages[1].Classes), (std::vector<std::string>{"Form"}));
    // Registered classes can be named by form files.
    EXPECT_EQ(Vcl::GetClass("PlainWidget"), PlainWidget::StaticClass());
    for (const auto& unit : units)
        EXPECT_EQ(Vcl::UnitUseCount(unit), 1) << unit.Name;
    EXPECT_THROW(designer.Install(package), Vcl::EPackageError);
}

TEST_F(FrameworkDesigner, NestedInitialisationIsCounted)
{
    Vcl::TDesigner designer;
    Vcl::InitializePackage(package);  // the application loaded it first
    designer.Install(package);
    EXPECT_EQ(events, (std::vector<std::string>{"init A", "init B", "register B", "register C"}));
    EXPECT_EQ(Vcl::UnitUseCount(units[1]), 2);

    designer.Uninstall(package);
    EXPECT_EQ(events.size(), 4u);  // still in use: no finalisation work
    EXPECT_EQ(Vcl::UnitUseCount(units[1]), 1);
    EXPECT_TRUE(designer.Palette().empty());

    Vcl::FinalizePackage(package);
    EXPECT_EQ(events.back(), "done A");
    EXPECT_EQ(Vcl::UnitUseCount(units[1]), 0);
    Vcl::FinalizePackage(package);  // one finalisation too many does nothing
    EXPECT_EQ(events.size(), 6u);
}

TEST_F(FrameworkDesigner, UninstallFinalisesInReverseOrder)
{
    Vcl::TDesigner designer;
    designer.Install(package);
    designer.Uninstall(package);
    EXPECT_EQ(events, (std::vector<std::string>{"init A", "init B", "register B", "register C", "done B",
                                                "done A"}));
    EXPECT_TRUE(designer.Palette().empty());
    EXPECT_FALSE(designer.IsInstalled(package));
    EXPECT_EQ(Vcl::GetClass("Widget"), nullptr);
    for (const auto& unit : units)
        EXPECT_EQ(Vcl::UnitUseCount(unit), 0) << unit.Name;
    EXPECT_THROW(designer.Uninstall(package), Vcl::EPackageError);
}

TEST_F(FrameworkDesigner, DestroyingTheDesignerUninstalls)
{
    {
        Vcl::TDesigner designer;
        designer.Install(package);
    }
    EXPECT_EQ(events.back(), "done A");
    EXPECT_EQ(Vcl::UnitUseCount(units[1]), 0);
}

TEST_F(FrameworkDesigner, FailedRegistrationUndoesTheInstall)
{
    Vcl::TDesigner designer;
    EXPECT_THROW(designer.Install(badRegistration), Vcl::EComponentError);
    EXPECT_EQ(events, (std::vector<std::string>{"init A", "init B", "register B", "register bad", "done B",
                                                "done A"}));
    EXPECT_TRUE(designer.Palette().empty());
    EXPECT_FALSE(designer.IsInstalled(badRegistration));
    EXPECT_EQ(Vcl::GetClass("Widget"), nullptr);
    EXPECT_EQ(Vcl::UnitUseCount(badUnits[0]), 0);
    // The same classes can be installed afterwards.
    designer.Install(package);
    EXPECT_EQ(designer.Palette().size(), 2u);
}

TEST_F(FrameworkDesigner, FailedInitialisationFinalisesTheUnitsBefore)
{
    EXPECT_THROW(Vcl::InitializePackage(failingInit), Vcl::Exception);
    EXPECT_EQ(events, (std::vector<std::string>{"init A", "init fails", "done A"}));
    for (const auto& unit : failingUnits)
        EXPECT_EQ(Vcl::UnitUseCount(unit), 0) << unit.Name;
}

TEST_F(FrameworkDesigner, RegistrationNeedsAnInstallingDesigner)
{
    const Vcl::TClass classes[] = {Widget::StaticClass()};
    EXPECT_THROW(Vcl::RegisterComponents("Test", classes, 0), Vcl::EComponentError);
    EXPECT_EQ(Vcl::GetClass("Widget"), nullptr);
}

TEST_F(FrameworkDesigner, InspectorListsPublishedPropertiesInOrder)
{
    Vcl::TDesigner designer;
    const auto rows = designer.Inspect(Widget::StaticClass());
    std::vector<std::string> properties, eventNames;
    for (const auto& row : rows)
        (row.IsEvent ? eventNames : properties).push_back(row.Name);
    EXPECT_EQ(properties, (std::vector<std::string>{"Name", "Tag", "Flags", "Mode", "Enabled", "Count", "Limit",
                                                    "Caption", "Hint", "Serial"}));
    EXPECT_EQ(eventNames, (std::vector<std::string>{"OnChange", "OnCount"}));
    EXPECT_EQ(rows[2].TypeName, "Sides");

    const auto base = designer.Inspect(Vcl::TComponent::StaticClass());
    ASSERT_EQ(base.size(), 2u);
    EXPECT_EQ(base[0].Name, "Name");
    EXPECT_EQ(base[1].Name, "Tag");
}

TEST_F(FrameworkDesigner, DroppedComponentsAreNamedAndInspectedWithValues)
{
    Vcl::TDesigner designer;
    designer.Install(package);
    Form form(nullptr);
    Vcl::TComponent* first = designer.DropComponent(Widget::StaticClass(), form);
    Vcl::TComponent* second = designer.DropComponent(Widget::StaticClass(), form);
    EXPECT_EQ(first->GetName(), "Widget1");
    EXPECT_EQ(second->GetName(), "Widget2");
    EXPECT_EQ(second->GetOwner(), &form);
    EXPECT_THROW(designer.DropComponent(Vcl::TComponent::StaticClass(), form), Vcl::EComponentError);

    auto* widget = Vcl::DownCast<Widget>(first);
    widget->OnCount = System::Bind(&form, &Form::CountChanged);
    widget->SetCaption("a'b");
    const auto rows = designer.Inspect(*widget);
    EXPECT_EQ(rows[0].Value, "'Widget1'");
    EXPECT_EQ(rows[2].Value, "[Left]");
    EXPECT_EQ(rows[4].Value, "false");
    EXPECT_EQ(rows[7].Value, "'a''b'");
    EXPECT_EQ(rows[9].Value, "42");
    EXPECT_EQ(rows[10].Value, "");
    EXPECT_EQ(rows[11].Value, "CountChanged");
}

TEST_F(FrameworkDesigner, PackageResourcesByName)
{
    const Vcl::PackageResource* found = Vcl::FindPackageResource(package, "widget");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Kind, Vcl::TResourceKind::Bitmap);
    EXPECT_EQ(Vcl::LoadPackageResource(package, "WIDGET"), (std::vector<unsigned char>{'B', 'M', 1, 2}));
    EXPECT_EQ(Vcl::LoadPackageResource(package, "Description"), (std::vector<unsigned char>{1, 2}));
    EXPECT_EQ(Vcl::FindPackageResource(package, "Missing"), nullptr);
    EXPECT_THROW(Vcl::LoadPackageResource(package, "Missing"), Vcl::EPackageError);
}

TEST_F(FrameworkDesigner, LoadsAPackageFile)
{
    {
        Vcl::TPackageModule module(FRAMEWORK_TEST_PACKAGE);
        const Vcl::PackageDescriptor& loaded = module.Descriptor();
        EXPECT_STREQ(loaded.Name, "Testpackage");
        EXPECT_EQ(Vcl::UnitUseCount(loaded.Units[1]), 1);
        // The unit's initialisation registered its class.
        EXPECT_NE(Vcl::GetClass("ModuleWidget"), nullptr);
        EXPECT_EQ(Vcl::LoadPackageResource(loaded, "greeting"), (std::vector<unsigned char>{'h', 'i', 0, 0xFF}));

        Vcl::TDesigner designer;
        designer.Install(loaded);
        ASSERT_EQ(designer.Palette().size(), 1u);
        EXPECT_EQ(Names(designer.Palette()[0].Classes), (std::vector<std::string>{"ModuleWidget"}));
        designer.Uninstall(loaded);
        // Still loaded by the module: still initialised.
        EXPECT_NE(Vcl::GetClass("ModuleWidget"), nullptr);
    }
    EXPECT_EQ(Vcl::GetClass("ModuleWidget"), nullptr);
}

TEST_F(FrameworkDesigner, LoadingSomethingElseFails)
{
    EXPECT_THROW(Vcl::TPackageModule("/nonexistent/package.so"), Vcl::EPackageError);
    // A shared library without a package descriptor.
    EXPECT_THROW(Vcl::TPackageModule(FRAMEWORK_LIBRARY), Vcl::EPackageError);
}

}  // namespace

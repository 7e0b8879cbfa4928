// The palette components as the framework sees them: their published
// properties, form files written and read back, registration through the
// designer, and the package's unit table and resources.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Componenttesting.h"
#include "Quorvpak.h"

namespace {

using namespace ComponentTesting;
using RegexComponent::RegularExpression;
using RegexComponent::RegularExpressionInterface;

std::vector<std::string> Names(const std::vector<Vcl::InspectorRow>& rows)
{
    std::vector<std::string> names;
    for (const auto& row : rows)
        names.push_back(row.Name);
    return names;
}

std::vector<std::string> Names(const std::vector<Vcl::TClass>& classes)
{
    std::vector<std::string> names;
    for (Vcl::TClass cls : classes)
        names.push_back(cls->ClassName());
    return names;
}

class ComponentForms : public ::testing::Test {
protected:
    void SetUp() override { RegisterFormClasses(); }
};

// ---- Published properties ----------------------------------------------------------

TEST(ComponentPublishing, RegularExpressionPublishesEverythingInOrder)
{
    const std::vector<std::string> expected = {
        "Name",           "Tag",           "MatchOptions",  "ExpressionOptions", "Expression",  "FormatString",
        "DirectoryRecursion", "MergeCopy", "Unicode", "StringToMatch", "FilesToMatch", "SaveExtension", "OnMatching",
        "OnSearching",    "OnGrepping",    "OnMerging",     "OnGreppingFiles",   "OnFindFiles", "OnChangingFiles"};
    Vcl::TDesigner designer;
    const auto rows = designer.Inspect(RegularExpression::StaticClass());
    EXPECT_EQ(Names(rows), expected);
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].IsEvent, i >= 12) << rows[i].Name;
}

TEST(ComponentPublishing, TheInterfaceComponentShowsOnlyTheExpressionAndItsOptions)
{
    Vcl::TDesigner designer;
    const auto rows = designer.Inspect(RegularExpressionInterface::StaticClass());
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"Name", "Tag", "ExpressionOptions", "Expression"}));
    for (const auto& row : rows)
        EXPECT_FALSE(row.IsEvent) << row.Name;
}

TEST(ComponentPublishing, TheBaseClassPublishesNothingOfItsOwn)
{
    const Vcl::TClass custom = Custom::StaticClass();
    EXPECT_EQ(custom->Properties().size(), Vcl::TComponent::StaticClass()->Properties().size());
    EXPECT_EQ(custom->UnitName(), "Regularexpressioncustom");
    EXPECT_EQ(RegularExpression::StaticClass()->UnitName(), "Regularexpression");
    EXPECT_EQ(RegularExpressionInterface::StaticClass()->UnitName(), "Regularexpressioninterface");
    EXPECT_EQ(RegularExpression::StaticClass()->ClassParent(), custom);
    EXPECT_EQ(RegularExpressionInterface::StaticClass()->ClassParent(), custom);
}

TEST(ComponentPublishing, AccessDefaultsAndStorageOfEachProperty)
{
    using Vcl::TAccess;
    struct Row {
        const char* name;
        TAccess read;
        TAccess write;
        Vcl::TTypeKind kind;
    };
    const Row rows[] = {
        {"MatchOptions", TAccess::Member, TAccess::Method, Vcl::TTypeKind::Set},
        {"ExpressionOptions", TAccess::Member, TAccess::Method, Vcl::TTypeKind::Set},
        {"Expression", TAccess::Method, TAccess::Method, Vcl::TTypeKind::String},
        {"FormatString", TAccess::Method, TAccess::Method, Vcl::TTypeKind::String},
        {"DirectoryRecursion", TAccess::Member, TAccess::Member, Vcl::TTypeKind::Enumeration},
        {"MergeCopy", TAccess::Member, TAccess::Member, Vcl::TTypeKind::Enumeration},
        {"Unicode", TAccess::Member, TAccess::Method, Vcl::TTypeKind::Enumeration},
        {"StringToMatch", TAccess::Method, TAccess::Method, Vcl::TTypeKind::String},
        {"FilesToMatch", TAccess::Method, TAccess::Method, Vcl::TTypeKind::String},
        {"SaveExtension", TAccess::Method, TAccess::Method, Vcl::TTypeKind::String},
        {"OnMatching", TAccess::Member, TAccess::Member, Vcl::TTypeKind::Method},
        {"OnChangingFiles", TAccess::Member, TAccess::Member, Vcl::TTypeKind::Method},
    };
    for (const Row& row : rows) {
        const Vcl::TPropInfo* property = RegularExpression::StaticClass()->FindProperty(row.name);
        ASSERT_NE(property, nullptr) << row.name;
        EXPECT_EQ(property->ReadAccess(), row.read) << row.name;
        EXPECT_EQ(property->WriteAccess(), row.write) << row.name;
        EXPECT_EQ(property->PropType().Kind(), row.kind) << row.name;
        EXPECT_EQ(property->Stored(), Vcl::TStored::Always) << row.name;
        // The emptied compile options must be stored too: no default there.
        const bool expressionOptions = std::string(row.name) == "ExpressionOptions";
        EXPECT_EQ(property->HasDefault(), !expressionOptions) << row.name;
        if (property->HasDefault()) {
            EXPECT_EQ(property->Default(), 0) << row.name;
        }
    }
    const Vcl::TPropInfo* narrow = RegularExpressionInterface::StaticClass()->FindProperty("ExpressionOptions");
    ASSERT_NE(narrow, nullptr);
    EXPECT_FALSE(narrow->HasDefault());
    EXPECT_EQ(RegularExpressionInterface::StaticClass()->FindProperty("StringToMatch"), nullptr);
}

TEST(ComponentPublishing, TheTypesOfThePublishedProperties)
{
    const Vcl::TTypeInfo& options = RegexComponent::OptionSetType();
    EXPECT_EQ(options.OrdType(), Vcl::TOrdType::UWord);
    EXPECT_EQ(options.CompType()->OrdType(), Vcl::TOrdType::SByte);
    EXPECT_EQ(options.CompType()->MaxValue(), 15);
    EXPECT_EQ(options.CompType()->EnumName(Custom::NoLocaleSpecificCollation), "NoLocaleSpecificCollation");
    const Vcl::TTypeInfo& matches = RegexComponent::MatchSetType();
    EXPECT_EQ(matches.OrdType(), Vcl::TOrdType::UWord);
    EXPECT_EQ(matches.CompType()->MaxValue(), 11);
    EXPECT_EQ(matches.CompType()->EnumName(Custom::MatchContinuous), "MatchContinuous");

    std::vector<std::pair<std::string, Vcl::TParamMode>> params;
    for (const auto& p : RegexComponent::FileMatchesEventType().Params())
        params.emplace_back(p.Name, p.Mode);
    using M = Vcl::TParamMode;
    EXPECT_EQ(params, (std::vector<std::pair<std::string, M>>{{"Sender", M::Pointer},
                                                              {"file", M::Value},
                                                              {"Matches", M::ConstReference},
                                                              {"LineIndex", M::Value},
                                                              {"bcontinue", M::Reference}}));
}

// ---- Form files -------------------------------------------------------------------

TEST_F(ComponentForms, DefaultSettingsStoreBothSetsAndNothingElse)
{
    TestForm form(nullptr);
    form.SetName("Form1");
    auto* re = new RegularExpression(&form);
    re->SetName("Re1");
    auto* narrow = new RegularExpressionInterface(&form);
    narrow->SetName("Narrow1");
    EXPECT_EQ(Vcl::ComponentToText(form),
              "object Form1: TestForm\n"
              "  object Re1: RegularExpression\n"
              "    MatchOptions = [MatchDefault]\n"
              "    ExpressionOptions = [EscapeInCharacterSets, CharacterClasses, Intervals, BackReferences, "
              "NoLocaleSpecificCollation, Normal]\n"
              "  end\n"
              "  object Narrow1: RegularExpressionInterface\n"
              "    ExpressionOptions = [EscapeInCharacterSets, CharacterClasses, Intervals, BackReferences, "
              "NoLocaleSpecificCollation, Normal]\n"
              "  end\n"
              "end\n");
}

TEST_F(ComponentForms, EverySettingAndEventSurvivesARoundTrip)
{
    TestForm form(nullptr);
    form.SetName("Form1");
    auto* re = new RegularExpression(&form);
    re->SetName("Re1");
    re->SetTag(4);
    re->SetMatches(Matches({Custom::MatchNotEndOfLine, Custom::MatchContinuous}));
    re->SetOptions(With(DefaultOptions(), {Custom::CaseInsensitive}));
    re->SetExpression("it's (\\w+)");
    re->SetFormatString("$1\t!");
    re->SetStringToMatch("line one\r\nline two");
    re->SetFilesToMatch("/tmp/*.txt");
    re->SetSaveExtension("bak");
    re->DirectoryRecursion = true;
    re->MergeCopy = true;
    re->OnSearching = System::Bind(&form, &TestForm::Found);
    re->OnGrepping = System::Bind(&form, &TestForm::Grepped);
    re->OnGreppingFiles = System::Bind(&form, &TestForm::FileMatched);
    re->OnFindFiles = System::Bind(&form, &TestForm::FileFound);
    const std::string text = Vcl::ComponentToText(form);
    EXPECT_NE(text.find("    DirectoryRecursion = true\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    OnGrepping = Grepped\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("OnMatching"), std::string::npos) << text;

    std::unique_ptr<Vcl::TComponent> loaded(Vcl::ReadComponentText(text, nullptr));
    auto* back = Vcl::DownCast<RegularExpression>(loaded->FindComponent("Re1"));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(*back == *re);
    EXPECT_EQ(back->GetTag(), 4);
    EXPECT_EQ(back->GetStringToMatch(), "line one\r\nline two");
    auto* loadedForm = Vcl::DownCast<TestForm>(loaded.get());
    ASSERT_NE(loadedForm, nullptr);
    EXPECT_TRUE(back->OnSearching == System::Bind(loadedForm, &TestForm::Found));
    EXPECT_TRUE(back->OnFindFiles == System::Bind(loadedForm, &TestForm::FileFound));
    EXPECT_FALSE(back->OnMatching.IsSet());
    EXPECT_EQ(Vcl::ComponentToText(*loaded), text);

    // The loaded component works, handlers and all.
    back->SetStringToMatch("it's here");
    EXPECT_TRUE(back->Search());
    EXPECT_EQ(loadedForm->found, 1);
}

// The Unicode switch is stored only when on, so a form without it (every
// form written before it was published) reads back in byte mode; a stored
// switch comes back on and the component searches UTF-8 text.
TEST_F(ComponentForms, TheUnicodeSwitchIsStoredWhenOnAndReadBack)
{
    TestForm form(nullptr);
    form.SetName("Form1");
    auto* re = new RegularExpression(&form);
    re->SetName("Re1");
    re->SetExpression("\xC3\xA9" "cole");
    re->SetOptions(With(DefaultOptions(), {Custom::CaseInsensitive}));
    const std::string off = Vcl::ComponentToText(form);
    EXPECT_EQ(off.find("Unicode"), std::string::npos) << off;
    re->SetUnicode(true);
    const std::string on = Vcl::ComponentToText(form);
    EXPECT_NE(on.find("    Unicode = true\n"), std::string::npos) << on;
    EXPECT_FALSE(*re == RegularExpression(nullptr));

    for (const bool unicode : {false, true}) {
        std::unique_ptr<Vcl::TComponent> loaded(Vcl::ReadComponentText(unicode ? on : off, nullptr));
        auto* back = Vcl::DownCast<RegularExpression>(loaded->FindComponent("Re1"));
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->GetUnicode(), unicode);
        if (back->ParseExpression() != 0)
            continue;  // no Unicode engine in this build
        back->SetStringToMatch("\xC3\x89" "COLE \xC3\xA9" "cole");
        EXPECT_EQ(back->Grep(), unicode ? 2u : 1u);
    }
}

TEST_F(ComponentForms, AStoredExtendedSetIsReadIntoANewComponentExactly)
{
    const std::string text =
        "object Form1: TestForm\n"
        "  object Re1: RegularExpression\n"
        "    ExpressionOptions = [CharacterClasses, Intervals, BackReferences, Extended]\n"
        "  end\n"
        "  object Narrow1: RegularExpressionInterface\n"
        "    ExpressionOptions = [CharacterClasses, Intervals, BackReferences, Extended]\n"
        "    Expression = 'a+'\n"
        "  end\n"
        "end\n";
    std::unique_ptr<Vcl::TComponent> form(Vcl::ReadComponentText(text, nullptr));
    const auto extended = Options({Custom::CharacterClasses, Custom::Intervals, Custom::BackReferences,
                                   Custom::Extended});
    for (const char* name : {"Re1", "Narrow1"}) {
        auto* c = Vcl::DownCast<Custom>(form->FindComponent(name));
        ASSERT_NE(c, nullptr) << name;
        EXPECT_TRUE(c->ExpressionOptions == extended) << name << ": " << c->ExpressionOptions.ToInt();
        EXPECT_TRUE(c->MatchOptions == Matches({Custom::MatchDefault})) << name;
    }
}

// Settings that a form must give back as they were stored, although reading
// them through the whole-set rules from the constructor's defaults would not.
TEST_F(ComponentForms, CompileOptionsWithoutACompositeSurviveARoundTrip)
{
    const Custom::OptionSet cases[] = {
        Custom::OptionSet(),  // the emptied set
        Options({Custom::EscapeInCharacterSets, Custom::CharacterClasses, Custom::BackReferences,
                 Custom::NoLocaleSpecificCollation}),  // Intervals taken off the defaults
        Options({Custom::CharacterClasses, Custom::Intervals}),
        Options({Custom::Literals, Custom::CaseInsensitive}),
    };
    for (const Custom::OptionSet& options : cases) {
        TestForm form(nullptr);
        form.SetName("Form1");
        auto* re = new RegularExpressionInterface(&form);
        re->SetName("Re1");
        re->ExpressionOptions = options;
        const std::string text = Vcl::ComponentToText(form);
        EXPECT_NE(text.find("ExpressionOptions = ["), std::string::npos) << text;

        std::unique_ptr<Vcl::TComponent> loaded(Vcl::ReadComponentText(text, nullptr));
        auto* back = Vcl::DownCast<Custom>(loaded->FindComponent("Re1"));
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->ExpressionOptions.ToInt(), options.ToInt()) << text;
        EXPECT_EQ(back->GetFlagOptions(), re->GetFlagOptions()) << text;
        EXPECT_FALSE(back->Loading());
    }
}

// ---- Registration and the package ----------------------------------------------------

TEST(ComponentPackage, InstallingRegistersExactlyTwoClassesOnRegExpInPackageOrder)
{
    Vcl::TDesigner designer;
    designer.Install(Quorvpak::Descriptor());
    const auto pages = designer.Palette();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].Name, "RegExp");
    EXPECT_EQ(Names(pages[0].Classes), (std::vector<std::string>{"RegularExpression", "RegularExpressionInterface"}));
    EXPECT_EQ(Vcl::GetClass("RegularExpressionCustom"), nullptr);
    EXPECT_EQ(Vcl::GetClass("RegularExpression"), RegularExpression::StaticClass());

    // Dropping one on a form creates it by class, owned by the form.
    TestForm form(nullptr);
    Vcl::TComponent* dropped = designer.DropComponent(RegularExpressionInterface::StaticClass(), form);
    EXPECT_EQ(dropped->GetName(), "RegularExpressionInterface1");
    EXPECT_NE(Vcl::DownCast<RegularExpressionInterface>(dropped), nullptr);
    EXPECT_EQ(dropped->GetOwner(), &form);

    designer.Uninstall(Quorvpak::Descriptor());
    EXPECT_TRUE(designer.Palette().empty());
}

std::uint32_t Word32(const std::vector<unsigned char>& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes.at(at)) | static_cast<std::uint32_t>(bytes.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(bytes.at(at + 2)) << 16 | static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

std::string Text(const std::vector<unsigned char>& bytes, std::size_t& at)
{
    std::string text;
    while (bytes.at(at) != 0)
        text += static_cast<char>(bytes[at++]);
    ++at;
    return text;
}

TEST(ComponentPackage, TheUnitTableListsTheUnitsInOrderWithTheirWork)
{
    const Vcl::PackageDescriptor& package = Quorvpak::Descriptor();
    ASSERT_EQ(package.UnitCount, 5u);
    const char* names[] = {"Quorvpak", "Regularexpressiontlsstack", "Regularexpressioncustom", "Regularexpression",
                           "Regularexpressioninterface"};
    for (std::size_t i = 0; i < 5; ++i) {
        const Vcl::PackageUnit& unit = package.Units[i];
        EXPECT_STREQ(unit.Name, names[i]);
        EXPECT_EQ(unit.Initialize != nullptr, i == 2) << names[i];
        EXPECT_EQ(unit.Finalize != nullptr, i == 2) << names[i];
        EXPECT_EQ(unit.Register != nullptr, i >= 3) << names[i];
    }
    // Loading the library initialised the package once.
    EXPECT_EQ(Vcl::UnitUseCount(package.Units[2]), 1);
}

TEST(ComponentPackage, PackageInfoNamesTheRequiredPackageAndTheUnits)
{
    const auto info = Vcl::LoadPackageResource(Quorvpak::Descriptor(), "PACKAGEINFO");
    std::size_t at = 0;
    EXPECT_EQ(Word32(info, at), Quorvpak::PackageModule | Quorvpak::DesignTimePackage | Quorvpak::RunTimePackage);
    at += 4;
    ASSERT_EQ(Word32(info, at), 1u);
    at += 4;
    EXPECT_EQ(Text(info, at), "VCL40");
    ASSERT_EQ(Word32(info, at), 5u);
    at += 4;
    std::vector<std::pair<int, std::string>> units;
    for (int i = 0; i < 5; ++i) {
        const int flags = info.at(at++);
        units.emplace_back(flags, Text(info, at));
    }
    EXPECT_EQ(at, info.size());
    const std::vector<std::pair<int, std::string>> expected = {{Quorvpak::PackageUnit, "Quorvpak"},
                                                               {0, "Regularexpressiontlsstack"},
                                                               {0, "Regularexpressioncustom"},
                                                               {0, "Regularexpression"},
                                                               {0, "Regularexpressioninterface"}};
    EXPECT_EQ(units, expected);
}

TEST(ComponentPackage, DescriptionAndOptions)
{
    const auto description = Vcl::LoadPackageResource(Quorvpak::Descriptor(), "DESCRIPTION");
    ASSERT_EQ(description.size() % 2, 0u);
    std::u16string text;
    for (std::size_t i = 0; i < description.size(); i += 2)
        text += static_cast<char16_t>(description[i] | description[i + 1] << 8);
    EXPECT_EQ(text, std::u16string(u"Regular Expression Components") + u'\0');

    const auto options = Vcl::LoadPackageResource(Quorvpak::Descriptor(), "PACKAGEOPTIONS");
    EXPECT_EQ(options, (std::vector<unsigned char>{0x30, 0, 0, 0}));
}

TEST(ComponentPackage, ThePaletteImagesAreTheResourceFiles)
{
    for (const char* name : {"REGULAREXPRESSION", "REGULAREXPRESSIONINTERFACE"}) {
        const Vcl::PackageResource* resource = Vcl::FindPackageResource(Quorvpak::Descriptor(), name);
        ASSERT_NE(resource, nullptr) << name;
        EXPECT_EQ(resource->Kind, Vcl::TResourceKind::Bitmap);
        const std::vector<unsigned char> bytes(resource->Bytes, resource->Bytes + resource->Size);
        ASSERT_GE(bytes.size(), 54u);
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(bytes[1], 'M');
        EXPECT_EQ(Word32(bytes, 18), 24u) << name;                      // width
        EXPECT_EQ(Word32(bytes, 22), 24u) << name;                      // height
        EXPECT_EQ(bytes[28] | bytes[29] << 8, 8) << name;               // bits per pixel
        const std::string file = std::string(QUORVPAK_RESOURCES) + "/" + name + ".bmp";
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), FileTesting::ReadAll(file)) << name;
    }
}

TEST(ComponentPackage, TheLoaderFindsTheLoadedPackageAndCountsItsUse)
{
    const Vcl::PackageUnit& custom = Quorvpak::Descriptor().Units[2];
    ASSERT_EQ(Vcl::UnitUseCount(custom), 1);
    {
        Vcl::TPackageModule module(QUORVPAK_LIBRARY);
        EXPECT_EQ(&module.Descriptor(), &Quorvpak::Descriptor());
        EXPECT_EQ(Vcl::UnitUseCount(custom), 2);
    }
    EXPECT_EQ(Vcl::UnitUseCount(custom), 1);

    // The slot is still there: a file operation still finds its component.
    FileTesting::Tree dir;
    dir.Write("a.txt", "x");
    RegularExpression c(nullptr);
    c.SetExpression("x");
    c.SetFilesToMatch(System::AnsiString(dir.Path("*.txt")));
    EXPECT_EQ(c.FindFiles(), 1u);
}

}  // namespace

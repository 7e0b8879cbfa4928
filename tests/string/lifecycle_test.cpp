// Construction, copying, comparison, plain settings and the event slot rules.
#include <gtest/gtest.h>

#include <locale>

#include "Filetesting.h"
#include "Recorder.h"

namespace {

using RegexClass::RegularExpression;
using namespace testsupport;
using RE = RegularExpression;
using FileTesting::Tree;

// A locale that differs from the global one by identity.
struct MarkerFacet : std::locale::facet {
    static std::locale::id id;
};
std::locale::id MarkerFacet::id;
std::locale Marked() { return std::locale(std::locale::classic(), new MarkerFacet); }

TEST(Lifecycle, DefaultsHoldNormalAndMatchDefaultOnly)
{
    RE re;
    for (int v = 0; v < 16; ++v) {
        const auto o = static_cast<RE::Options>(v);
        const bool expected = o == RE::EscapeInCharacterSets || o == RE::CharacterClasses || o == RE::Intervals ||
                              o == RE::BackReferences || o == RE::NoLocaleSpecificCollation || o == RE::Normal;
        EXPECT_EQ(re.IsExpressionOption(o), expected) << v;
    }
    for (int v = 0; v < 12; ++v)
        EXPECT_EQ(re.IsMatchOption(static_cast<RE::Matches>(v)), v == 0) << v;
    EXPECT_EQ(re.GetFlagOptions(), 0x4107u);
    EXPECT_EQ(re.GetMatchFlags(), 0u);
    EXPECT_FALSE(re.ExpressionParsed);
    EXPECT_FALSE(re.GetMergeCopy());
    EXPECT_FALSE(re.GetDirectoryRecursion());
    EXPECT_EQ(re.GetSaveExtension(), "");
    EXPECT_EQ(re.MatchResults, nullptr);
    EXPECT_EQ(re.ActiveMatch, nullptr);
}

RE Configured()
{
    RE re;
    re.SetExpression("(a)(b)");
    re.AddExpressionOption(RE::CaseInsensitive);
    re.AddMatchOption(RE::MatchNotEndOfLine);
    re.SetStringToMatch("xaby");
    re.SetFilesToMatch("f");
    re.SetFormatString("$2");
    re.SetSaveExtension("old");
    re.SetDirectoryRecursion(true);
    re.SetMergeCopy(true);
    return re;
}

TEST(Lifecycle, CopyCarriesSettingsCompiledStateAndHandlersButNotTheLocale)
{
    RE source = Configured();
    source.SetLocale(Marked());
    Recorder recorder;
    source.SetOnSearchingClosure(RegexClass::Bind(&recorder, &Recorder::Matching));
    ASSERT_EQ(source.ParseExpression(), 0);

    RE copy(source);
    EXPECT_TRUE(copy == source);
    EXPECT_TRUE(copy.GetLocale() == std::locale());
    EXPECT_FALSE(copy.GetLocale() == source.GetLocale());
    // Compiled state travels: the copy counts sub-expressions without compiling.
    EXPECT_TRUE(copy.ExpressionParsed);
    EXPECT_EQ(static_cast<const RE&>(copy).NumberOfSubexpressions(), 2);
    // And calls the same handlers.
    EXPECT_TRUE(copy.GetOnSearchingClosure() == source.GetOnSearchingClosure());
    EXPECT_TRUE(copy.Search());
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].matches[0].Text, "ab");
}

TEST(Lifecycle, AssignmentKeepsTheTargetsLocaleAndWorkingState)
{
    RE source = Configured();
    RE target;
    const std::locale marked = Marked();
    target.SetLocale(marked);
    target.MergeOutput = "left over";
    target.MergePosition = 7;
    target = source;
    EXPECT_TRUE(target == source);
    EXPECT_TRUE(target.GetLocale() == marked);
    EXPECT_EQ(target.MergeOutput, "left over");
    EXPECT_EQ(target.MergePosition, 7u);

    RE& same = target;
    target = same;
    EXPECT_TRUE(target == source);
    EXPECT_EQ(target.GetExpression(), "(a)(b)");
}

// Every one of the fourteen slots travels with a copy and an assignment.
struct FileHandlers {
    void FileMatches(RE*, std::string, const REMatchInfo&, unsigned, bool&) {}
    void FindFile(RE*, std::string, bool&) {}
};
void FileMatchesFunction(RE*, std::string, const REMatchInfo&, unsigned, bool&) {}
void FindFileFunction(RE*, std::string, bool&) {}

TEST(Lifecycle, CopyAndAssignmentCarryEveryEventSlot)
{
    RE functions;
    functions.SetOnMatching(MatchingFunction);
    functions.SetOnSearching(MatchingFunction);
    functions.SetOnGrepping(GreppingFunction);
    functions.SetOnMerging(GreppingFunction);
    functions.SetOnGreppingFiles(FileMatchesFunction);
    functions.SetOnChangingFiles(FileMatchesFunction);
    functions.SetOnFindFiles(FindFileFunction);
    Recorder recorder;
    FileHandlers files;
    RE closures;
    closures.SetOnMatchingClosure(RegexClass::Bind(&recorder, &Recorder::Matching));
    closures.SetOnSearchingClosure(RegexClass::Bind(&recorder, &Recorder::Matching));
    closures.SetOnGreppingClosure(RegexClass::Bind(&recorder, &Recorder::Grepping));
    closures.SetOnMergingClosure(RegexClass::Bind(&recorder, &Recorder::Grepping));
    closures.SetOnGreppingFilesClosure(RegexClass::Bind(&files, &FileHandlers::FileMatches));
    closures.SetOnChangingFilesClosure(RegexClass::Bind(&files, &FileHandlers::FileMatches));
    closures.SetOnFindFilesClosure(RegexClass::Bind(&files, &FileHandlers::FindFile));

    for (const RE* source : {&functions, &closures}) {
        const RE copied(*source);
        RE assigned;
        assigned = *source;
        for (const RE* made : {&copied, static_cast<const RE*>(&assigned)}) {
            const RE& target = *made;
            EXPECT_EQ(target.GetOnMatching(), source->GetOnMatching());
            EXPECT_EQ(target.GetOnSearching(), source->GetOnSearching());
            EXPECT_EQ(target.GetOnGrepping(), source->GetOnGrepping());
            EXPECT_EQ(target.GetOnMerging(), source->GetOnMerging());
            EXPECT_EQ(target.GetOnGreppingFiles(), source->GetOnGreppingFiles());
            EXPECT_EQ(target.GetOnChangingFiles(), source->GetOnChangingFiles());
            EXPECT_EQ(target.GetOnFindFiles(), source->GetOnFindFiles());
            EXPECT_TRUE(target.GetOnMatchingClosure() == source->GetOnMatchingClosure());
            EXPECT_TRUE(target.GetOnSearchingClosure() == source->GetOnSearchingClosure());
            EXPECT_TRUE(target.GetOnGreppingClosure() == source->GetOnGreppingClosure());
            EXPECT_TRUE(target.GetOnMergingClosure() == source->GetOnMergingClosure());
            EXPECT_TRUE(target.GetOnGreppingFilesClosure() == source->GetOnGreppingFilesClosure());
            EXPECT_TRUE(target.GetOnChangingFilesClosure() == source->GetOnChangingFilesClosure());
            EXPECT_TRUE(target.GetOnFindFilesClosure() == source->GetOnFindFilesClosure());
        }
    }
}

TEST(Lifecycle, EqualityLooksAtEverySettingAndNothingElse)
{
    const RE base = Configured();
    using Change = void (*)(RE&);
    const Change differing[] = {
        [](RE& r) { r.AddExpressionOption(RE::Literals); },
        [](RE& r) { r.DeleteMatchOption(RE::MatchNotEndOfLine); },
        [](RE& r) { r.SetExpression("(a)(B)"); },
        [](RE& r) { r.SetStringToMatch("xabY"); },
        [](RE& r) { r.SetFilesToMatch("F"); },
        [](RE& r) { r.SetFormatString("$1"); },
        [](RE& r) { r.SetSaveExtension("Old"); },
        [](RE& r) { r.SetDirectoryRecursion(false); },
        [](RE& r) { r.SetMergeCopy(false); },
    };
    for (std::size_t i = 0; i < sizeof differing / sizeof differing[0]; ++i) {
        RE other = base;
        differing[i](other);
        EXPECT_FALSE(other == base) << "change " << i;
    }
    const Change ignored[] = {
        [](RE& r) { r.SetLocale(Marked()); },
        [](RE& r) { r.ParseExpression(); },
        [](RE& r) { r.SetOnGrepping(&GreppingFunction); },
        [](RE& r) { r.MergeOutput = "x"; },
    };
    for (std::size_t i = 0; i < sizeof ignored / sizeof ignored[0]; ++i) {
        RE other = base;
        ignored[i](other);
        EXPECT_TRUE(other == base) << "ignored change " << i;
    }
}

struct Target {
    void Grep(RE*, const RegexClass::REMatchInfo&, unsigned, unsigned, bool&) {}
};

TEST(EventSlots, AtMostOneSlotIsSetAndNullLeavesTheOtherAlone)
{
    Target target;
    const auto closure = RegexClass::Bind(&target, &Target::Grep);
    RE re;

    re.SetOnGreppingClosure(closure);
    re.SetOnGrepping(&GreppingFunction);
    EXPECT_EQ(re.GetOnGrepping(), &GreppingFunction);
    EXPECT_EQ(re.GetOnGreppingClosure().Object(), nullptr);
    EXPECT_FALSE(re.GetOnGreppingClosure().IsSet());

    re.SetOnGreppingClosure(closure);
    EXPECT_EQ(re.GetOnGrepping(), nullptr);
    EXPECT_TRUE(re.GetOnGreppingClosure() == closure);

    re.SetOnGrepping(nullptr);
    EXPECT_TRUE(re.GetOnGreppingClosure() == closure);

    // A closure with an object but no method is kept as given and clears nothing.
    re.SetOnGrepping(&GreppingFunction);
    const RE::GreppingEventClosure objectOnly(&target, static_cast<void (Target::*)(RE*, const RegexClass::REMatchInfo&,
                                                                                    unsigned, unsigned, bool&)>(nullptr));
    re.SetOnGreppingClosure(objectOnly);
    EXPECT_EQ(re.GetOnGrepping(), &GreppingFunction);
    EXPECT_EQ(re.GetOnGreppingClosure().Object(), &target);
    EXPECT_FALSE(re.GetOnGreppingClosure().IsSet());
}

TEST(EventSlots, FunctionIsCalledInsteadOfClosureNeverBoth)
{
    Recorder viaFunction, viaClosure;
    UseRecorder use(viaFunction);
    RE re;
    re.SetExpression("b");
    re.SetStringToMatch("abc");
    re.SetOnSearching(&MatchingFunction);
    // Write the closure slot directly so both are set at once.
    re.OnSearchingClosure = RegexClass::Bind(&viaClosure, &Recorder::Matching);
    EXPECT_TRUE(re.Search());
    EXPECT_EQ(viaFunction.events.size(), 1u);
    EXPECT_EQ(viaClosure.events.size(), 0u);

    re.SetOnMatching(nullptr);  // another event: closure of OnSearching unaffected
    re.OnSearching = nullptr;
    EXPECT_TRUE(re.Search());
    EXPECT_EQ(viaClosure.events.size(), 1u);
}

// Any callable serves every event: a capturing lambda is called with the
// event's arguments; it is the third slot, cleared by setting a function or a
// closure and clearing them when set; copies carry it.
TEST(EventSlots, AnyCallableServesEveryEvent)
{
    Tree tree;
    tree.Write("a.txt", "abc");
    std::vector<std::string> calls;
    const auto note = [&calls](const char* event) { calls.push_back(event); };
    RE re;
    re.SetExpression("b");
    re.SetStringToMatch("abc");
    re.SetFormatString("x");
    re.SetFilesToMatch(tree.Path("*.txt"));
    re.SetOnMatchingHandler([&](RE* sender, const RegexClass::REMatchInfo& m, unsigned, unsigned) {
        note(sender == &re && m[0].Text == "ab" ? "Matching" : "Matching on a copy");
    });
    re.SetOnSearchingHandler([&](RE*, const RegexClass::REMatchInfo&, unsigned, unsigned) { note("Searching"); });
    re.SetOnGreppingHandler([&](RE*, const RegexClass::REMatchInfo&, unsigned, unsigned, bool&) { note("Grepping"); });
    re.SetOnMergingHandler([&](RE*, const RegexClass::REMatchInfo&, unsigned, unsigned, bool&) { note("Merging"); });
    re.SetOnFindFilesHandler([&](RE*, std::string, bool&) { note("FindFiles"); });
    re.SetOnGreppingFilesHandler(
        [&](RE*, std::string, const RegexClass::REMatchInfo&, unsigned, bool&) { note("GreppingFiles"); });
    re.SetOnChangingFilesHandler(
        [&](RE*, std::string, const RegexClass::REMatchInfo&, unsigned, bool& go) {
            note("ChangingFiles");
            go = false;  // nothing is changed
        });
    re.SetOnWalkingFilesHandler([&](RE*, const RE::WalkedFile& file, bool&, bool&) {
        if (file.Stage == RE::FileStarted)
            note("WalkingFiles");
    });
    re.SetOnFilteringFilesHandler([&](RE*, const std::string&, bool, bool&) { note("FilteringFiles"); });

    const RE copy(re);
    for (RE* object : {&re, const_cast<RE*>(&copy)}) {
        calls.clear();
        object->SetExpression("ab");
        object->Match();
        object->Search();
        object->Grep();
        std::string out;
        object->Merge(out);
        object->FindFiles();
        object->GrepFiles();
        object->ChangeFiles();
        if (object == &re)
            EXPECT_EQ(calls, (std::vector<std::string>{"Matching", "Searching", "Grepping", "Merging", "FilteringFiles",
                                                       "WalkingFiles", "FindFiles", "FilteringFiles", "WalkingFiles",
                                                       "GreppingFiles", "FilteringFiles", "WalkingFiles",
                                                       "ChangingFiles"}));
        else
            EXPECT_EQ(calls.size(), 13u) << "a copy carries every callable (its sender differs)";
    }
    EXPECT_EQ(tree.Read("a.txt"), "abc");

    // One slot at a time: a function or closure clears the callable and the reverse.
    Target target;
    re.SetOnGrepping(&GreppingFunction);
    EXPECT_FALSE(re.GetOnGreppingHandler());
    re.SetOnGreppingHandler([](RE*, const RegexClass::REMatchInfo&, unsigned, unsigned, bool&) {});
    EXPECT_EQ(re.GetOnGrepping(), nullptr);
    re.SetOnGreppingClosure(RegexClass::Bind(&target, &Target::Grep));
    EXPECT_FALSE(re.GetOnGreppingHandler());
    re.SetOnGreppingHandler(nullptr);
    EXPECT_TRUE(re.GetOnGreppingClosure().IsSet()) << "an empty callable leaves the others alone";
}

}  // namespace

// The component object: its texts, the 1-based positions of the string
// operations, the predicate route of Grep and Merge, Assign, copying and
// ownership.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Componenttesting.h"

namespace {

using namespace ComponentTesting;
using RegexComponent::RegularExpression;
using RegexComponent::RegularExpressionInterface;

// ---- Texts -------------------------------------------------------------------

TEST(ComponentTexts, SettingTheSameExpressionMarksItAsNotCompiled)
{
    Custom c(nullptr);
    c.SetExpression("abc");
    ASSERT_EQ(c.ParseExpression(), 0);
    ASSERT_TRUE(c.ExpressionParsed);
    c.SetExpression("abc");
    EXPECT_FALSE(c.ExpressionParsed);
    c.SetExpressionLocale(std::locale::classic());  // the locale alone does not
    ASSERT_EQ(c.ParseExpression(), 0);
    c.SetExpressionLocale(std::locale::classic());
    EXPECT_TRUE(c.ExpressionParsed);
}

TEST(ComponentTexts, TheExpressionErrorIsTheEnginesTextAfterAFailedCompilation)
{
    Custom c(nullptr);
    c.SetExpression("a(b");
    EXPECT_TRUE(c.GetExpressionError().IsEmpty());
    EXPECT_NE(c.ParseExpression(), 0);
    EXPECT_FALSE(c.GetExpressionError().IsEmpty());
    c.SetExpression("a(b)");
    EXPECT_EQ(c.ParseExpression(), 0);
    EXPECT_TRUE(c.GetExpressionError().IsEmpty());
    EXPECT_EQ(c.NumberOfSubexpressions(), 1);
}

// ---- Positions ------------------------------------------------------------------

TEST(ComponentPositions, SearchReportsOneBasedPositionsAndZeroForNoPart)
{
    Custom c(nullptr);
    Recorder recorder;
    c.OnSearching = System::Bind(&recorder, &Recorder::Matching);
    c.SetExpression("b(c)?");
    c.SetStringToMatch("abd");
    ASSERT_TRUE(c.Search());
    ASSERT_EQ(recorder.events.size(), 1u);
    const std::vector<Part> expected = {{"b", 2}, {"", 0}, {"a", 1}, {"d", 3}};
    EXPECT_EQ(recorder.events[0].matches, expected);
    EXPECT_EQ(recorder.events[0].current, expected);  // GetMatchingInformation() during the event
    EXPECT_EQ(recorder.events[0].line, 1u);
    EXPECT_EQ(recorder.events[0].lineStart, 0u);
    EXPECT_TRUE(c.GetMatchingInformation().empty());  // the match is gone afterwards
}

TEST(ComponentPositions, MatchAndMatchAllReportThroughOnMatching)
{
    struct Row {
        const char* expression;
        const char* subject;
        bool whole;
        bool found;
        std::vector<Part> parts;
    };
    const Row rows[] = {
        {"a(b)", "abc", false, true, {{"ab", 1}, {"b", 2}, {"", 0}, {"c", 3}}},
        {"b", "abc", false, false, {}},
        {"a(x)?bc", "abc", true, true, {{"abc", 1}, {"", 0}, {"", 0}, {"", 0}}},
        {"ab", "abc", true, false, {}},
    };
    for (const Row& row : rows) {
        Custom c(nullptr);
        Recorder recorder;
        c.OnMatching = System::Bind(&recorder, &Recorder::Matching);
        c.SetExpression(row.expression);
        c.SetStringToMatch(row.subject);
        EXPECT_EQ(row.whole ? c.MatchAll() : c.Match(), row.found) << row.expression;
        ASSERT_EQ(recorder.events.size(), row.found ? 1u : 0u) << row.expression;
        if (row.found) {
            EXPECT_EQ(recorder.events[0].matches, row.parts) << row.expression;
        }
    }
}

TEST(ComponentPositions, GrepReportsEveryMatchWithOneBasedPositionsAndLines)
{
    Custom c(nullptr);
    Recorder recorder;
    c.OnGrepping = System::Bind(&recorder, &Recorder::Grepping);
    c.SetExpression("a(x)?");
    c.SetStringToMatch("ab\naxb\na");
    EXPECT_EQ(c.Grep(), 3u);
    ASSERT_EQ(recorder.events.size(), 3u);
    const std::vector<Part> wholeAndSub[] = {{{"a", 1}, {"", 0}}, {{"ax", 4}, {"x", 5}}, {{"a", 8}, {"", 0}}};
    const unsigned lines[] = {1, 2, 3};
    const unsigned starts[] = {0, 3, 7};
    for (int i = 0; i < 3; ++i) {
        const std::vector<Part> first(recorder.events[i].matches.begin(), recorder.events[i].matches.begin() + 2);
        EXPECT_EQ(first, wholeAndSub[i]) << i;
        EXPECT_EQ(recorder.events[i].line, lines[i]) << i;
        EXPECT_EQ(recorder.events[i].lineStart, starts[i]) << i;
        EXPECT_EQ(recorder.events[i].current, recorder.events[i].matches) << i;
    }
}

// ---- Merge ------------------------------------------------------------------------

struct MergeRow {
    const char* expression;
    const char* format;
    const char* subject;
    bool copy;
    const char* expected;
};

const MergeRow MergeRows[] = {
    {"o", "0", "foo boo", true, "f00 b00"},
    {"o", "0", "foo boo", false, "0000"},
    {"(\\w)(\\w)", "$2$1", "abcd e", true, "badc e"},
    {"x", "y", "abc", true, "abc"},
    {"^", ">", "ab\ncd", true, ">ab\n>cd"},
};

TEST(ComponentMerge, EventDrivenMergeCopiesTheTextBetweenMatchesExactlyOnce)
{
    for (const MergeRow& row : MergeRows) {
        Custom c(nullptr);
        Recorder recorder;
        c.OnMerging = System::Bind(&recorder, &Recorder::Grepping);
        c.SetExpression(row.expression);
        c.SetFormatString(row.format);
        c.SetStringToMatch(row.subject);
        c.MergeCopy = row.copy;
        System::AnsiString result("stale");
        c.Merge(result);
        EXPECT_EQ(result, row.expected) << row.expression << " on " << row.subject;

        // The same without a handler, through the engine's own merge.
        c.OnMerging = Custom::GreppingEvent();
        c.Merge(result);
        EXPECT_EQ(result, row.expected) << row.expression << " without a handler";
    }
}

TEST(ComponentMerge, TheHandlerSeesOneBasedPositionsAndCanFormat)
{
    Custom c(nullptr);
    std::vector<std::string> formatted;
    Recorder recorder;
    recorder.during = [&](Custom* sender) {
        System::AnsiString text;
        sender->Format(text);
        formatted.push_back(text.ToStdString());
    };
    c.OnMerging = System::Bind(&recorder, &Recorder::Grepping);
    c.SetExpression("o+");
    c.SetFormatString("<$&>");
    c.SetStringToMatch("foo bo");
    c.MergeCopy = true;
    System::AnsiString result;
    c.Merge(result);
    EXPECT_EQ(result, "f<oo> b<o>");
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[0].matches[0], Part("oo", 2));
    EXPECT_EQ(recorder.events[1].matches[0], Part("o", 6));
    EXPECT_EQ(formatted, (std::vector<std::string>{"<oo>", "<o>"}));

    System::AnsiString outside("stale");
    c.Format(outside);  // no current match outside the events
    EXPECT_TRUE(outside.IsEmpty());
}

// ---- The engine predicate ------------------------------------------------------------

TEST(ComponentPredicates, GrepAndMergeHandTheEngineThePredicateBoundToTheComponent)
{
    Custom c(nullptr);
    std::vector<bool> boundHere;
    Recorder recorder;
    recorder.during = [&](Custom* sender) {
        boundHere.push_back(sender->EnginePredicate.IsSet() && sender->EnginePredicate.Object() == sender);
    };
    c.OnGrepping = System::Bind(&recorder, &Recorder::Grepping);
    c.OnMerging = System::Bind(&recorder, &Recorder::Grepping);
    c.SetExpression("a");
    c.SetFormatString("b");
    c.SetStringToMatch("aa");
    EXPECT_FALSE(c.EnginePredicate.IsSet());
    c.Grep();
    EXPECT_FALSE(c.EnginePredicate.IsSet());
    System::AnsiString result;
    c.Merge(result);
    EXPECT_FALSE(c.EnginePredicate.IsSet());
    EXPECT_EQ(boundHere, (std::vector<bool>{true, true, true, true}));
}

// A handler that destroys its sender ends the scan at its next step: the
// engine's predicate bound to the component is not called again and nothing
// of the component is touched (the address sanitizer build sees the rest).
TEST(ComponentPredicates, ASenderDestroyedByItsHandlerEndsTheScan)
{
    for (const bool merge : {false, true}) {
        auto* c = new Custom(nullptr);
        Recorder recorder;
        recorder.during = [](Custom* sender) { delete sender; };
        (merge ? c->OnMerging : c->OnGrepping) = System::Bind(&recorder, &Recorder::Grepping);
        c->SetExpression("a");
        c->SetFormatString("b");
        c->SetStringToMatch("aaaa");
        System::AnsiString result;
        if (merge)
            c->Merge(result);
        else
            EXPECT_EQ(c->Grep(), 1u);
        EXPECT_EQ(recorder.events.size(), 1u) << merge;
    }
}

TEST(ComponentPredicates, APredicateOutsideItsOwnScanDoesNothing)
{
    Custom c(nullptr);
    boost::cmatch m;
    const char text[] = "abc";
    boost::regex_search(text, m, boost::regex("b"));
    EXPECT_FALSE(c.GrepCallbackPredicate(m));
    EXPECT_FALSE(c.MergeCallbackPredicate(m));

    // During a Grep, the merge predicate refuses and leaves the grep alone.
    Recorder recorder;
    std::vector<bool> answers;
    recorder.during = [&](Custom* sender) { answers.push_back(sender->MergeCallbackPredicate(m)); };
    c.OnGrepping = System::Bind(&recorder, &Recorder::Grepping);
    c.SetExpression("a");
    c.SetStringToMatch("aa");
    EXPECT_EQ(c.Grep(), 2u);
    EXPECT_EQ(answers, (std::vector<bool>{false, false}));
}

TEST(ComponentPredicates, AScanStartedFromAHandlerLeavesTheOuterScanWhole)
{
    Custom c(nullptr);
    Recorder outer;
    bool nestedDone = false;
    std::string nestedResult;
    outer.during = [&](Custom* sender) {
        if (nestedDone)
            return;
        nestedDone = true;
        // A new subject and a nested event-driven Merge on the same component.
        Recorder inner;
        sender->OnMerging = System::Bind(&inner, &Recorder::Grepping);
        sender->SetStringToMatch("zaz");
        sender->SetFormatString("-");
        sender->MergeCopy = true;
        System::AnsiString result;
        sender->Merge(result);
        sender->OnMerging = Custom::GreppingEvent();
        nestedResult = result.ToStdString();
    };
    c.OnGrepping = System::Bind(&outer, &Recorder::Grepping);
    c.SetExpression("a");
    c.SetStringToMatch("a1a2a");
    EXPECT_EQ(c.Grep(), 3u);
    EXPECT_EQ(nestedResult, "z-z");
    ASSERT_EQ(outer.events.size(), 3u);
    EXPECT_EQ(outer.events[2].matches[0], Part("a", 5));  // still the first subject
    EXPECT_EQ(outer.events[2].current, outer.events[2].matches);
    EXPECT_FALSE(c.EnginePredicate.IsSet());
}

// ---- Copying, comparison, ownership -----------------------------------------------------

// Counts its destructions.
class Watched : public RegularExpression {
public:
    Watched(Vcl::TComponent* Owner, int& destroyed) : RegularExpression(Owner), destroyed_(destroyed) {}
    ~Watched() override { ++destroyed_; }

private:
    int& destroyed_;
};

TEST(ComponentLifecycle, ACopyBelongsToTheSourcesOwnerAndComparesEqual)
{
    Vcl::TComponent form(nullptr);
    auto* source = new RegularExpression(&form);
    source->SetName("Source");
    source->SetTag(7);
    source->SetExpression("(a)b");
    source->SetStringToMatch("ab");
    source->MergeCopy = true;
    Recorder recorder;
    source->OnSearching = System::Bind(&recorder, &Recorder::Matching);
    ASSERT_EQ(source->ParseExpression(), 0);

    auto* copy = new RegularExpression(*source);
    EXPECT_EQ(copy->GetOwner(), &form);
    EXPECT_EQ(form.ComponentCount(), 2);
    EXPECT_TRUE(*copy == *source);
    EXPECT_TRUE(copy->GetName().IsEmpty());
    EXPECT_EQ(copy->GetTag(), 0);
    EXPECT_TRUE(copy->ExpressionParsed);  // the compiled state comes along
    EXPECT_EQ(static_cast<const RegularExpression*>(copy)->NumberOfSubexpressions(), 1);
    EXPECT_TRUE(copy->Search());
    EXPECT_EQ(recorder.events.size(), 1u);  // the events come along

    copy->SetFormatString("x");
    EXPECT_FALSE(*copy == *source);
    delete copy;
    EXPECT_EQ(form.ComponentCount(), 1);
}

TEST(ComponentLifecycle, AssignmentKeepsTheTargetsOwnerNameAndTag)
{
    Vcl::TComponent form(nullptr);
    RegularExpression source(nullptr);
    source.SetExpression("x");
    source.SetSaveExtension("bak");
    source.DirectoryRecursion = true;
    auto* target = new RegularExpression(&form);
    target->SetName("Target");
    target->SetTag(3);
    *target = source;
    EXPECT_TRUE(*target == source);
    EXPECT_EQ(target->GetOwner(), &form);
    EXPECT_EQ(target->GetName(), "Target");
    EXPECT_EQ(target->GetTag(), 3);
    *target = *target;
    EXPECT_TRUE(*target == source);
}

TEST(ComponentLifecycle, TheOwnerDestroysItsComponents)
{
    int destroyed = 0;
    auto* form = new Vcl::TComponent(nullptr);
    new Watched(form, destroyed);
    auto* second = new Watched(form, destroyed);
    new Watched(second, destroyed);  // owned by a component that is itself owned
    EXPECT_EQ(form->ComponentCount(), 2);
    delete form;
    EXPECT_EQ(destroyed, 3);
}

// ---- Assign -------------------------------------------------------------------------------

void Configure(Custom& c, Recorder& recorder)
{
    c.SetOptions(With(DefaultOptions(), {Custom::CaseInsensitive}));
    c.SetMatches(Matches({Custom::MatchNotEndOfLine}));
    c.SetExpression("a(b)");
    c.SetStringToMatch("xabx");
    c.SetFilesToMatch("*.txt");
    c.SetFormatString("[$1]");
    c.SetSaveExtension("old");
    c.DirectoryRecursion = true;
    c.MergeCopy = true;
    c.OnMatching = System::Bind(&recorder, &Recorder::Matching);
    c.OnSearching = System::Bind(&recorder, &Recorder::Matching);
    c.OnGrepping = System::Bind(&recorder, &Recorder::Grepping);
    c.OnMerging = System::Bind(&recorder, &Recorder::Grepping);
    c.OnGreppingFiles = System::Bind(&recorder, &Recorder::FileMatches);
    c.OnChangingFiles = System::Bind(&recorder, &Recorder::FileMatches);
    c.OnFindFiles = System::Bind(&recorder, &Recorder::FoundFile);
}

// Everything Assign copies is equal, the events included.
void ExpectAssigned(const Custom& target, const Custom& source)
{
    EXPECT_TRUE(target == source);
    EXPECT_TRUE(target.OnMatching == source.OnMatching && target.OnSearching == source.OnSearching &&
                target.OnGrepping == source.OnGrepping && target.OnMerging == source.OnMerging &&
                target.OnGreppingFiles == source.OnGreppingFiles && target.OnFindFiles == source.OnFindFiles &&
                target.OnChangingFiles == source.OnChangingFiles);
    EXPECT_EQ(target.ExpressionParsed, source.ExpressionParsed);
}

TEST(ComponentAssign, BetweenThePublishedClassesEverythingIsCopied)
{
    Recorder recorder;
    RegularExpression full(nullptr);
    Configure(full, recorder);
    ASSERT_EQ(full.ParseExpression(), 0);
    RegularExpressionInterface narrow(nullptr);
    narrow.SetName("Narrow");
    narrow.SetTag(5);

    narrow.Assign(&full);
    ExpectAssigned(narrow, full);
    EXPECT_EQ(narrow.GetStringToMatch(), "xabx");  // not published by the interface component
    EXPECT_EQ(narrow.GetFormatString(), "[$1]");
    EXPECT_EQ(narrow.GetName(), "Narrow");
    EXPECT_EQ(narrow.GetTag(), 5);
    EXPECT_TRUE(narrow.Search());  // compiled state and events came along
    EXPECT_EQ(recorder.events.size(), 1u);

    RegularExpression back(nullptr);
    back.Assign(&narrow);
    ExpectAssigned(back, full);
}

TEST(ComponentAssign, TheOptionSetsAreCopiedAsTheyAre)
{
    RegularExpression source(nullptr);
    source.ExpressionOptions = Options({Custom::Normal});  // not consistent, set directly
    source.MatchOptions = Custom::MatchSet();
    RegularExpressionInterface target(nullptr);
    target.Assign(&source);
    EXPECT_EQ(target.ExpressionOptions.ToInt(), 0x8000u);
    EXPECT_TRUE(target.MatchOptions.Empty());
}

TEST(ComponentAssign, AForeignSourceRaisesTheAssignmentErrorAndChangesNothing)
{
    Recorder recorder;
    RegularExpression target(nullptr);
    Configure(target, recorder);
    const RegularExpression before(target);
    Vcl::TComponent foreign(nullptr);

    try {
        target.Assign(&foreign);
        ADD_FAILURE() << "no assignment error";
    } catch (const Vcl::EAssignError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find(foreign.ClassName()), std::string::npos) << message;
        EXPECT_NE(message.find("RegularExpression"), std::string::npos) << message;
    }
    EXPECT_THROW(target.Assign(nullptr), Vcl::EAssignError);
    ExpectAssigned(target, before);
}

TEST(ComponentAssign, AssigningTheComponentToItselfChangesNothing)
{
    Recorder recorder;
    RegularExpression c(nullptr);
    Configure(c, recorder);
    const RegularExpression before(c);
    EXPECT_NO_THROW(c.Assign(&c));
    ExpectAssigned(c, before);
}

}  // namespace

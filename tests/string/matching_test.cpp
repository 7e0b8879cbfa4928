// Match, MatchAll and Search: results, lists, line numbers, current match.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Recorder.h"

namespace {

using namespace testsupport;
using RE = RegexClass::RegularExpression;
using Parts = std::vector<Part>;

enum class Op { Match, MatchAll, Search };

bool RunOp(RE& re, Op op)
{
    switch (op) {
    case Op::Match: return re.Match();
    case Op::MatchAll: return re.MatchAll();
    case Op::Search: return re.Search();
    }
    return false;
}

struct Row {
    const char* expression;
    const char* subject;
    Op op;
    bool found;
    Parts list;  // when found
    unsigned line, start;
};

class SingleMatch : public ::testing::TestWithParam<Row> {};

TEST_P(SingleMatch, ResultListAndLine)
{
    const Row& row = GetParam();
    Recorder recorder;
    RE re;
    re.SetExpression(row.expression);
    re.SetStringToMatch(row.subject);
    re.SetOnMatchingClosure(RegexClass::Bind(&recorder, &Recorder::Matching));
    re.SetOnSearchingClosure(RegexClass::Bind(&recorder, &Recorder::Matching));
    EXPECT_EQ(RunOp(re, row.op), row.found);
    EXPECT_EQ(re.MatchResults, nullptr);
    if (!row.found) {
        EXPECT_TRUE(recorder.events.empty());
        return;
    }
    ASSERT_EQ(recorder.events.size(), 1u);
    const Event& e = recorder.events[0];
    EXPECT_EQ(PartsOf(e.matches), row.list);
    EXPECT_EQ(PartsOf(e.current), row.list);  // GetMatchingInformation inside the event
    EXPECT_EQ(e.line, row.line);
    EXPECT_EQ(e.lineStart, row.start);
    // Without a handler the result is the same.
    RE bare;
    bare.SetExpression(row.expression);
    bare.SetStringToMatch(row.subject);
    EXPECT_TRUE(RunOp(bare, row.op));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SingleMatch,
    ::testing::Values(
        Row{"ab", "abc", Op::Match, true, {{"ab", 0}, {"", -1}, {"c", 2}}, 1, 0},
        Row{"ab", "abc", Op::MatchAll, false, {}, 0, 0},
        Row{"ab", "abc", Op::Search, true, {{"ab", 0}, {"", -1}, {"c", 2}}, 1, 0},
        Row{"b", "abc", Op::Match, false, {}, 0, 0},
        Row{"b", "abc", Op::Search, true, {{"b", 1}, {"a", 0}, {"c", 2}}, 1, 0},
        Row{"(a)(b)?", "a", Op::Match, true, {{"a", 0}, {"a", 0}, {"", -1}, {"", -1}, {"", -1}}, 1, 0},
        Row{"(a)", "ab", Op::Match, true, {{"a", 0}, {"a", 0}, {"", -1}, {"b", 1}}, 1, 0},
        Row{"c", "ab\nabc", Op::Search, true, {{"c", 5}, {"ab\nab", 0}, {"", -1}}, 2, 3},
        Row{"c", "a\r\nb\n\nc", Op::Search, true, {{"c", 6}, {"a\r\nb\n\n", 0}, {"", -1}}, 4, 6},
        // Leftmost-longest for every syntax.
        Row{"a|ab", "ab", Op::Match, true, {{"ab", 0}, {"", -1}, {"", -1}}, 1, 0},
        Row{"a|ab", "ab", Op::MatchAll, true, {{"ab", 0}, {"", -1}, {"", -1}}, 1, 0},
        Row{"(a|ab)(c|bcd)", "abcd", Op::Search, true, {{"abcd", 0}, {"a", 0}, {"bcd", 1}, {"", -1}, {"", -1}}, 1, 0},
        // An empty subject is searched like any other.
        Row{"a*", "", Op::MatchAll, true, {{"", 0}, {"", -1}, {"", -1}}, 1, 0},
        Row{"a+", "", Op::Search, false, {}, 0, 0}));

TEST(SingleMatchOptions, ShortestTakesTheFirstAlternativeFound)
{
    RE re;
    re.SetExpression("a|ab");
    re.SetStringToMatch("ab");
    re.AddMatchOption(RE::MatchShortest);
    Recorder r;
    re.SetOnMatchingClosure(RegexClass::Bind(&r, &Recorder::Matching));
    EXPECT_TRUE(re.Match());
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].matches[0].Text, "a");
    // Asking whether the whole subject matches still finds the full match.
    EXPECT_TRUE(re.MatchAll());
}

TEST(SingleMatchOptions, MatchFlagsReachTheEngine)
{
    RE re;
    re.SetExpression("b$");
    re.SetStringToMatch("ab");
    EXPECT_TRUE(re.Search());
    re.AddMatchOption(RE::MatchNotEndOfLine);
    EXPECT_FALSE(re.Search());
    re.ClearMatchOptions();
    re.SetExpression("x*");
    re.SetStringToMatch("ab");
    EXPECT_TRUE(re.Search());
    re.AddMatchOption(RE::MatchNotNullString);
    EXPECT_FALSE(re.Search());
}

TEST(CurrentMatch, NothingIsLeftAfterAnOperation)
{
    RE re;
    re.SetExpression("b");
    re.SetStringToMatch("abc");
    re.SetFormatString("[$&]");
    Recorder r;
    re.SetOnSearchingClosure(RegexClass::Bind(&r, &Recorder::Matching));
    EXPECT_TRUE(re.Search());
    EXPECT_TRUE(re.Search());
    EXPECT_EQ(re.MatchResults, nullptr);
    EXPECT_TRUE(re.GetMatchingInformation().empty());
    std::string out = "stale";
    re.Format(out);
    EXPECT_EQ(out, "");
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[1].formatted, "[b]");
    re.ResetMatches();  // nothing to reset: harmless
    EXPECT_EQ(re.MatchResults, nullptr);
}

// Backtracking beyond the engine's limits.
TEST(MatchingErrors, ArePlainFailuresWithATextAndNoEvent)
{
    Recorder r;
    RE re;
    re.SetExpression("(a*)*b");
    re.SetStringToMatch(std::string(5000, 'a'));
    re.SetOnSearchingClosure(RegexClass::Bind(&r, &Recorder::Matching));
    re.SetOnMatchingClosure(RegexClass::Bind(&r, &Recorder::Matching));
    for (Op op : {Op::Search, Op::Match, Op::MatchAll}) {
        EXPECT_FALSE(RunOp(re, op));
        EXPECT_FALSE(re.GetMatchError().empty());
        EXPECT_EQ(re.MatchResults, nullptr);
    }
    EXPECT_TRUE(r.events.empty());

    RE bare;  // also without a handler
    bare.SetExpression("(a*)*b");
    bare.SetStringToMatch(std::string(5000, 'a'));
    EXPECT_FALSE(bare.Search());
    EXPECT_FALSE(bare.GetMatchError().empty());

    // The next operation starts with a clean slate.
    re.SetStringToMatch("aab");
    EXPECT_TRUE(re.Search());
    EXPECT_EQ(re.GetMatchError(), "");
}

}  // namespace

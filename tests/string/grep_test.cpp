// Grep over the subject string: every match, lines, stopping, counts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Recorder.h"

namespace {

using namespace testsupport;
using RE = RegexClass::RegularExpression;
using Parts = std::vector<Part>;

RE Grepper(const char* expression, const std::string& subject, Recorder& r)
{
    RE re;
    re.SetExpression(expression);
    re.SetStringToMatch(subject);
    re.SetOnGreppingClosure(RegexClass::Bind(&r, &Recorder::Grepping));
    return re;
}

struct WholeMatch {
    std::string text;
    int position;
    unsigned line, start;
    bool operator==(const WholeMatch& o) const
    {
        return text == o.text && position == o.position && line == o.line && start == o.start;
    }
};
std::ostream& operator<<(std::ostream& os, const WholeMatch& w)
{
    return os << "('" << w.text << "'," << w.position << " line " << w.line << " at " << w.start << ")";
}

std::vector<WholeMatch> Wholes(const Recorder& r)
{
    std::vector<WholeMatch> out;
    for (const Event& e : r.events)
        out.push_back({e.matches[0].Text, e.matches[0].Position, e.line, e.lineStart});
    return out;
}

struct Row {
    const char* expression;
    std::string subject;
    std::vector<WholeMatch> expected;
};

TEST(Grep, EveryMatchWithItsLine)
{
    const Row rows[] = {
        {"a", "banana", {{"a", 1, 1, 0}, {"a", 3, 1, 0}, {"a", 5, 1, 0}}},
        {"b", "ab\nb", {{"b", 1, 1, 0}, {"b", 3, 2, 3}}},
        {"^\\w+", "one\ntwo\r\n\nthree", {{"one", 0, 1, 0}, {"two", 4, 2, 4}, {"three", 10, 4, 10}}},
        {"x*", "ab", {{"", 0, 1, 0}, {"", 1, 1, 0}, {"", 2, 1, 0}}},
        {"a|ab", "abab", {{"ab", 0, 1, 0}, {"ab", 2, 1, 0}}},
    };
    for (const Row& row : rows) {
        Recorder r;
        RE re = Grepper(row.expression, row.subject, r);
        const unsigned count = re.Grep();
        EXPECT_EQ(Wholes(r), row.expected) << row.expression;
        EXPECT_EQ(count, row.expected.size()) << row.expression;
        EXPECT_EQ(re.ActiveMatch, nullptr);
        // Without a handler the count is the same.
        RE bare;
        bare.SetExpression(row.expression);
        bare.SetStringToMatch(row.subject);
        EXPECT_EQ(bare.Grep(), count) << row.expression;
    }
}

TEST(Grep, ListsStartTheirPrefixAtThePreviousMatch)
{
    Recorder r;
    RE re = Grepper("b", "abab", r);
    EXPECT_EQ(re.Grep(), 2u);
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(PartsOf(r.events[1].matches), (Parts{{"b", 3}, {"a", 2}, {"", -1}}));
    EXPECT_EQ(PartsOf(r.events[1].current), PartsOf(r.events[1].matches));
    // No parentheses: three entries for every match.
    for (const Event& e : r.events)
        EXPECT_EQ(e.matches.size(), 3u);
}

TEST(Grep, AReusedListNeverCarriesPartsOverBetweenMatches)
{
    Recorder r;
    RE re = Grepper("(x)?(y)", "xy y", r);
    EXPECT_EQ(re.Grep(), 2u);
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(PartsOf(r.events[0].matches), (Parts{{"xy", 0}, {"x", 0}, {"y", 1}, {"", -1}, {" y", 2}}));
    EXPECT_EQ(PartsOf(r.events[1].matches), (Parts{{"y", 3}, {"", -1}, {"y", 3}, {" ", 2}, {"", -1}}));
}

TEST(Grep, AHandlerStopsTheScanAndThatMatchCounts)
{
    Recorder r;
    r.stopAt = 1;
    RE re = Grepper("a", "banana", r);
    EXPECT_EQ(re.Grep(), 1u);
    EXPECT_EQ(r.events.size(), 1u);
    r.events.clear();
    r.stopAt = 2;
    EXPECT_EQ(re.Grep(), 2u);
    EXPECT_EQ(r.events.size(), 2u);
}

TEST(Grep, FormatExpandsTheMatchBeingReported)
{
    Recorder r;
    RE re = Grepper("(\\w)(\\d)", "a1 b2\nc3", r);
    re.SetFormatString("$2$1");
    EXPECT_EQ(re.Grep(), 3u);
    ASSERT_EQ(r.events.size(), 3u);
    EXPECT_EQ(r.events[0].formatted, "1a");
    EXPECT_EQ(r.events[1].formatted, "2b");
    EXPECT_EQ(r.events[2].formatted, "3c");
}

TEST(Grep, EmptySubjectOrBadExpressionGiveNothing)
{
    Recorder r;
    RE re = Grepper("(", "", r);
    EXPECT_EQ(re.Grep(), 0u);
    EXPECT_FALSE(re.ExpressionParsed);  // not even compiled
    re.SetStringToMatch("(");
    EXPECT_EQ(re.Grep(), 0u);
    EXPECT_TRUE(re.ExpressionParsed);
    re.SetExpression("z");
    EXPECT_EQ(re.Grep(), 0u);
    EXPECT_TRUE(r.events.empty());
}

TEST(Grep, AHandlerAttachedDuringTheScanWaitsForTheNextGrep)
{
    Recorder first, second;
    RE re = Grepper("a", "aaa", first);
    first.during = [&](RE* sender) {
        sender->SetOnGreppingClosure(RegexClass::Bind(&second, &Recorder::Grepping));
    };
    EXPECT_EQ(re.Grep(), 3u);
    EXPECT_EQ(first.events.size(), 3u);
    EXPECT_TRUE(second.events.empty());
    EXPECT_EQ(re.Grep(), 3u);
    EXPECT_EQ(second.events.size(), 3u);
}

TEST(Grep, AMatchingErrorEndsTheScanWhereItIs)
{
    Recorder r;
    RE re = Grepper("(x+x+)+y|b", "b\nb " + std::string(5000, 'x'), r);
    EXPECT_EQ(re.Grep(), 2u);
    EXPECT_EQ(r.events.size(), 2u);
    EXPECT_FALSE(re.GetMatchError().empty());
    EXPECT_EQ(re.ActiveMatch, nullptr);

    RE bare;
    bare.SetExpression("(x+x+)+y|b");
    bare.SetStringToMatch("b\nb " + std::string(5000, 'x'));
    EXPECT_EQ(bare.Grep(), 2u);
    EXPECT_FALSE(bare.GetMatchError().empty());
}

}  // namespace

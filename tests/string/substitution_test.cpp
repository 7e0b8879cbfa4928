// Format and both ways of merging.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Recorder.h"

namespace {

using namespace testsupport;
using RE = RegexClass::RegularExpression;
using Parts = std::vector<Part>;

RE Merger(const char* expression, const std::string& subject, const char* format, bool copy)
{
    RE re;
    re.SetExpression(expression);
    re.SetStringToMatch(subject);
    re.SetFormatString(format);
    re.SetMergeCopy(copy);
    return re;
}

std::string MergeOf(RE& re)
{
    std::string out = "previous content";
    re.Merge(out);
    return out;
}

struct Row {
    const char* expression;
    const char* subject;
    const char* format;
    bool copy;
    const char* expected;
};

class MergeBothWays : public ::testing::TestWithParam<Row> {};

// A handler that never stops gives the same output as no handler at all.
TEST_P(MergeBothWays, SameOutputWithAndWithoutHandler)
{
    const Row& row = GetParam();
    RE bare = Merger(row.expression, row.subject, row.format, row.copy);
    EXPECT_EQ(MergeOf(bare), row.expected);
    Recorder r;
    RE handled = Merger(row.expression, row.subject, row.format, row.copy);
    handled.SetOnMergingClosure(RegexClass::Bind(&r, &Recorder::Grepping));
    EXPECT_EQ(MergeOf(handled), row.expected);
    EXPECT_EQ(handled.MergeOutput, row.expected);
    EXPECT_EQ(handled.ActiveMatch, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MergeBothWays,
    ::testing::Values(Row{"b", "abcb", "X", true, "aXcX"}, Row{"b", "abcb", "X", false, "XX"},
                      Row{"(a)(b)", "ab", "$2$1", true, "ba"}, Row{"z", "abc", "X", true, "abc"},
                      Row{"z", "abc", "X", false, ""}, Row{"x*", "ab", "-", true, "-a-b-"},
                      Row{"(\\w+)@(\\w+)", "mail bob@example now", "$2:$1", true, "mail example:bob now"},
                      Row{"(b)(c)?", "abxbc", "[$1|$2]", true, "a[b|]x[b|c]"},
                      Row{"b", "abc", "$` $' $$ \\n $9", true, "aa c $ \n c"},
                      Row{"^", "one\ntwo", "> ", true, "> one\n> two"}));

TEST(Merge, HandlerSeesEveryMatchBeforeItIsReplaced)
{
    Recorder r;
    RE re = Merger("b", "abcb", "X", true);
    re.SetOnMergingClosure(RegexClass::Bind(&r, &Recorder::Grepping));
    EXPECT_EQ(MergeOf(re), "aXcX");
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[0].matches[0].Text, "b");
    EXPECT_EQ(r.events[0].matches[0].Position, 1);
    EXPECT_EQ(r.events[1].matches[0].Position, 3);
    // Format on the sender yields the replacement about to be appended.
    EXPECT_EQ(r.events[0].formatted, "X");
}

TEST(Merge, StoppingKeepsTheRestUnchangedWhenCopying)
{
    Recorder r;
    r.stopAt = 2;
    RE re = Merger("b", "abcb", "X", true);
    re.SetOnMergingClosure(RegexClass::Bind(&r, &Recorder::Grepping));
    EXPECT_EQ(MergeOf(re), "aXcb");

    Recorder first;
    first.stopAt = 1;
    RE dropping = Merger("b", "abcb", "X", false);
    dropping.SetOnMergingClosure(RegexClass::Bind(&first, &Recorder::Grepping));
    EXPECT_EQ(MergeOf(dropping), "");

    Recorder second;
    second.stopAt = 2;
    dropping.SetOnMergingClosure(RegexClass::Bind(&second, &Recorder::Grepping));
    EXPECT_EQ(MergeOf(dropping), "X");
}

TEST(Merge, LinesAreReportedToTheHandler)
{
    Recorder r;
    UseRecorder use(r);
    RE re = Merger("b", "ab\nb", "X", true);
    re.SetOnMerging(&GreppingFunction);
    EXPECT_EQ(MergeOf(re), "aX\nX");
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[1].line, 2u);
    EXPECT_EQ(r.events[1].lineStart, 3u);
}

TEST(Merge, NothingToDoGivesEmptyOutput)
{
    RE noFormat = Merger("b", "abc", "", true);
    EXPECT_EQ(MergeOf(noFormat), "");
    RE noSubject = Merger("(", "", "X", true);
    EXPECT_EQ(MergeOf(noSubject), "");
    EXPECT_FALSE(noSubject.ExpressionParsed);
    RE badExpression = Merger("(", "abc", "X", true);
    EXPECT_EQ(MergeOf(badExpression), "");
    EXPECT_FALSE(badExpression.GetExpressionError().empty());
}

TEST(Merge, MatchingErrorEndsTheOutputAfterTheLastReplacement)
{
    const std::string subject = "b b " + std::string(5000, 'x');
    RE bare = Merger("(x+x+)+y|b", subject, "X", true);
    const std::string out = MergeOf(bare);
    EXPECT_FALSE(bare.GetMatchError().empty());
    EXPECT_EQ(out, "X X");

    Recorder r;
    RE handled = Merger("(x+x+)+y|b", subject, "X", true);
    handled.SetOnMergingClosure(RegexClass::Bind(&r, &Recorder::Grepping));
    EXPECT_EQ(MergeOf(handled), "X X");
    EXPECT_EQ(r.events.size(), 2u);
    EXPECT_FALSE(handled.GetMatchError().empty());
}

TEST(Format, EmptyWithoutACurrentMatch)
{
    RE re;
    re.SetFormatString("$&");
    std::string out = "old";
    re.Format(out);
    EXPECT_EQ(out, "");
}

TEST(Format, ExpandsAgainstTheMatchOfARunningSearch)
{
    struct Row {
        const char* expression;
        const char* subject;
        const char* format;
        const char* expected;
    };
    const Row rows[] = {
        {"b", "abc", "", ""},                          // an empty format
        {"(a)|(b)", "b", "(?1one:two)$3", "two"},      // conditionals, a group that does not exist
    };
    for (const Row& row : rows) {
        Recorder r;
        RE re;
        re.SetExpression(row.expression);
        re.SetStringToMatch(row.subject);
        re.SetFormatString(row.format);
        re.SetOnSearchingClosure(RegexClass::Bind(&r, &Recorder::Matching));
        EXPECT_TRUE(re.Search()) << row.expression;
        ASSERT_EQ(r.events.size(), 1u) << row.expression;
        EXPECT_EQ(r.events[0].formatted, row.expected) << row.expression;
    }
}

}  // namespace

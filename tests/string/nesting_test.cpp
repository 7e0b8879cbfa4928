// Handlers that change their sender while an operation runs: new subject,
// new expression, or another string operation on the same object.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Recorder.h"

namespace {

using namespace testsupport;
using RE = RegexClass::RegularExpression;
using Parts = std::vector<Part>;

// A subject long enough that replacing it frees the old buffer.
std::string LongSubject(const char* word, int times)
{
    std::string s;
    for (int i = 0; i < times; ++i)
        s += std::string(word) + " filler text to leave the small buffer ";
    return s;
}

TEST(Nesting, NewSubjectDuringGrepDoesNotDisturbTheScan)
{
    const std::string subject = LongSubject("key", 50);
    Recorder r;
    RE re;
    re.SetExpression("key");
    re.SetStringToMatch(subject);
    re.SetFormatString("<$&>");
    re.SetOnGreppingClosure(RegexClass::Bind(&r, &Recorder::Grepping));
    r.during = [](RE* sender) {
        sender->SetStringToMatch(std::string(3000, 'z'));
        sender->SetExpression("q");
    };
    EXPECT_EQ(re.Grep(), 50u);
    ASSERT_EQ(r.events.size(), 50u);
    for (const Event& e : r.events) {
        EXPECT_EQ(e.matches[0].Text, "key");
        EXPECT_EQ(e.formatted, "<key>");
        EXPECT_EQ(subject.compare(static_cast<std::size_t>(e.matches[0].Position), 3, "key"), 0);
    }
}

TEST(Nesting, NewSubjectInsideSearchKeepsTheCurrentMatchReadable)
{
    Recorder r;
    RE re;
    re.SetExpression("(needle)");
    re.SetStringToMatch(LongSubject("hay", 20) + "needle" + LongSubject("hay", 20));
    re.SetFormatString("$1");
    Parts after;
    std::string formattedAfter;
    r.during = [&](RE* sender) {
        sender->SetStringToMatch(std::string(5000, 'z'));
        after = PartsOf(sender->GetMatchingInformation());
        sender->Format(formattedAfter);
    };
    re.SetOnSearchingClosure(RegexClass::Bind(&r, &Recorder::Matching));
    EXPECT_TRUE(re.Search());
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(after, PartsOf(r.events[0].matches));
    EXPECT_EQ(formattedAfter, "needle");
}

TEST(Nesting, SearchInsideGrepKeepsTheOuterMatch)
{
    Recorder outer, inner;
    RE re;
    re.SetExpression("\\d");
    re.SetStringToMatch("a1 b2 c3");
    re.SetFormatString("[$&]");
    re.SetOnGreppingClosure(RegexClass::Bind(&outer, &Recorder::Grepping));
    re.SetOnSearchingClosure(RegexClass::Bind(&inner, &Recorder::Matching));
    std::vector<std::string> outerAfterInner;
    outer.during = [&](RE* sender) {
        // Inner operation with another expression on another subject.
        const std::string savedSubject = sender->GetStringToMatch();
        sender->SetExpression("[a-z]+");
        sender->SetStringToMatch("xyz");
        EXPECT_TRUE(sender->Search());
        EXPECT_EQ(sender->Grep(), 1u);  // raises the outer handler once more
        std::string f;
        sender->Format(f);
        outerAfterInner.push_back(f);
        EXPECT_FALSE(sender->GetMatchingInformation().empty());
        sender->SetStringToMatch(savedSubject);
        sender->SetExpression("\\d");
    };
    // The nested Grep re-enters the outer handler; keep it from recursing.
    int depth = 0;
    auto outerDuring = outer.during;
    outer.during = [&](RE* sender) {
        if (depth++ == 0)
            outerDuring(sender);
        --depth;
    };
    EXPECT_EQ(re.Grep(), 3u);
    // 3 outer events, plus one from each nested Grep.
    ASSERT_EQ(outer.events.size(), 6u);
    EXPECT_EQ(inner.events.size(), 3u);
    EXPECT_EQ(inner.events[0].matches[0].Text, "xyz");
    EXPECT_EQ(inner.events[0].formatted, "[xyz]");
    EXPECT_EQ(outerAfterInner, (std::vector<std::string>{"[1]", "[2]", "[3]"}));
    EXPECT_EQ(re.ActiveMatch, nullptr);
    EXPECT_EQ(re.MatchResults, nullptr);
}

TEST(Nesting, MergeInsideMergeKeepsTheOuterOutput)
{
    Recorder r;
    RE re;
    re.SetExpression("b");
    re.SetStringToMatch("abcb");
    re.SetFormatString("X");
    re.SetMergeCopy(true);
    std::vector<std::string> innerOutputs;
    int depth = 0;
    r.during = [&](RE* sender) {
        if (depth++ == 0) {
            std::string inner;
            sender->Merge(inner);
            innerOutputs.push_back(inner);
        }
        --depth;
    };
    re.SetOnMergingClosure(RegexClass::Bind(&r, &Recorder::Grepping));
    std::string out;
    re.Merge(out);
    EXPECT_EQ(out, "aXcX");
    EXPECT_EQ(re.MergeOutput, "aXcX");
    EXPECT_EQ(innerOutputs, (std::vector<std::string>{"aXcX", "aXcX"}));
}

TEST(Nesting, MatchInsideMatchHandlerRestoresTheOuterResult)
{
    Recorder r;
    RE re;
    re.SetExpression("(a)b");
    re.SetStringToMatch("abab");
    Parts outerAfter;
    int depth = 0;
    r.during = [&](RE* sender) {
        if (depth++ == 0) {
            sender->SetExpression("(b)");
            EXPECT_TRUE(sender->Search());
            outerAfter = PartsOf(sender->GetMatchingInformation());
        }
        --depth;
    };
    re.SetOnMatchingClosure(RegexClass::Bind(&r, &Recorder::Matching));
    re.SetOnSearchingClosure(RegexClass::Bind(&r, &Recorder::Matching));
    EXPECT_TRUE(re.Match());
    ASSERT_EQ(r.events.size(), 2u);
    EXPECT_EQ(r.events[1].matches[0].Text, "b");
    EXPECT_EQ(outerAfter, PartsOf(r.events[0].matches));
    EXPECT_EQ(re.MatchResults, nullptr);
}

TEST(Nesting, SubjectReplacedDuringMergeDoesNotChangeTheRunningMerge)
{
    Recorder r;
    const std::string subject = LongSubject("b", 30);
    RE re;
    re.SetExpression("b");
    re.SetStringToMatch(subject);
    re.SetFormatString("X");
    re.SetMergeCopy(true);
    r.during = [](RE* sender) { sender->SetStringToMatch(std::string(4000, 'q')); };
    re.SetOnMergingClosure(RegexClass::Bind(&r, &Recorder::Grepping));
    std::string out;
    re.Merge(out);
    RE plain;
    plain.SetExpression("b");
    plain.SetStringToMatch(subject);
    plain.SetFormatString("X");
    plain.SetMergeCopy(true);
    std::string expected;
    plain.Merge(expected);
    EXPECT_EQ(out, expected);
}

}  // namespace

namespace {

// A handler may destroy its sender: the operation that raised the event (and
// one it was nested in) ends at its next step without touching the object
// again. The faults this guards against are reads and writes of freed memory,
// which the address sanitizer build reports.
int handlerCalls = 0;

void DestroyOnMatch(RE* sender, const RegexClass::REMatchInfo&, unsigned, unsigned)
{
    ++handlerCalls;
    delete sender;
}

void DestroyOnGrep(RE* sender, const RegexClass::REMatchInfo&, unsigned, unsigned, bool&)
{
    ++handlerCalls;
    delete sender;
}

// Starts a Search whose handler destroys the sender.
void SearchThatDestroys(RE* sender, const RegexClass::REMatchInfo&, unsigned, unsigned, bool&)
{
    ++handlerCalls;
    sender->SetOnSearching(DestroyOnMatch);
    sender->Search();
}

TEST(Nesting, SenderDestroyedByItsHandlerEndsTheOperation)
{
    enum class Op { Match, MatchAll, Search, Grep, Merge, SearchInsideGrep, MergeInsideGrep };
    struct Row {
        Op op;
        int calls;  // handler calls before the operation ended
    };
    const Row rows[] = {{Op::Match, 1},    {Op::MatchAll, 1},         {Op::Search, 1},         {Op::Grep, 1},
                        {Op::Merge, 1},    {Op::SearchInsideGrep, 2}, {Op::MergeInsideGrep, 2}};
    for (const Row& row : rows) {
        handlerCalls = 0;
        RE* re = new RE;
        re->SetExpression("a+|b");
        re->SetStringToMatch(LongSubject("aab", 20));
        re->SetFormatString("x");
        re->SetMergeCopy(true);
        std::string out = "untouched";
        switch (row.op) {
        case Op::Match: re->SetOnMatching(DestroyOnMatch); EXPECT_TRUE(re->Match()); break;
        case Op::MatchAll: re->SetStringToMatch("aaa"); re->SetOnMatching(DestroyOnMatch); EXPECT_TRUE(re->MatchAll()); break;
        case Op::Search: re->SetOnSearching(DestroyOnMatch); EXPECT_TRUE(re->Search()); break;
        case Op::Grep: re->SetOnGrepping(DestroyOnGrep); EXPECT_EQ(re->Grep(), 1u); break;
        case Op::Merge: re->SetOnMerging(DestroyOnGrep); re->Merge(out); EXPECT_EQ(out, ""); break;
        case Op::SearchInsideGrep: re->SetOnGrepping(SearchThatDestroys); EXPECT_EQ(re->Grep(), 1u); break;
        case Op::MergeInsideGrep: re->SetOnMerging(SearchThatDestroys); re->Merge(out); EXPECT_EQ(out, ""); break;
        }
        EXPECT_EQ(handlerCalls, row.calls) << static_cast<int>(row.op);
    }
}

}  // namespace

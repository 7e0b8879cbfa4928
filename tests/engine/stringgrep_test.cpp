// The grep loop: empty matches, stopping, and errors of the callback.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Stringgrep.h"
#include "Substitution.h"

namespace {

namespace rc = boost::regex_constants;

std::vector<std::pair<long, std::string>> GrepAll(const std::string& subject, const char* expression,
                                                  rc::match_flag_type flags = rc::match_posix)
{
    std::vector<std::pair<long, std::string>> found;
    const boost::regex e(expression);
    std::string error;
    const unsigned count = RegexEngine::GrepRange(
        subject.data(), subject.data() + subject.size(), e, flags,
        [&](const boost::cmatch& m) {
            found.emplace_back(static_cast<long>(m.position(std::size_t(0))), m.str(0));
            return true;
        },
        error);
    EXPECT_EQ(count, found.size());
    EXPECT_EQ(error, "");
    return found;
}

TEST(GrepRange, ReportsEveryMatchLeftToRight)
{
    using Found = std::vector<std::pair<long, std::string>>;
    EXPECT_EQ(GrepAll("banana", "a"), (Found{{1, "a"}, {3, "a"}, {5, "a"}}));
    EXPECT_EQ(GrepAll("abab", "ab|a"), (Found{{0, "ab"}, {2, "ab"}}));
    // Word boundaries see the character before each later attempt.
    EXPECT_EQ(GrepAll("ab cd", "\\b"), (Found{{0, ""}, {2, ""}, {3, ""}, {5, ""}}));
    // ^ after a line feed is a line start; inside a line it is not.
    EXPECT_EQ(GrepAll("ab\ncd", "^."), (Found{{0, "a"}, {3, "c"}}));
    // An empty match is followed by a non-empty one at the same place when there is one.
    EXPECT_EQ(GrepAll("xab", "a*"), (Found{{0, ""}, {1, "a"}, {2, ""}, {3, ""}}));
    EXPECT_EQ(GrepAll("", "x*"), (Found{{0, ""}}));
}

TEST(GrepRange, StopsWhenTheCallbackSaysSoAndCountsThatMatch)
{
    const std::string subject = "aaaa";
    const boost::regex e("a");
    std::string error;
    int calls = 0;
    const unsigned count = RegexEngine::GrepRange(
        subject.data(), subject.data() + subject.size(), e, rc::match_posix,
        [&](const boost::cmatch&) { return ++calls < 2; }, error);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(calls, 2);
}

TEST(GrepRange, TheCallbacksOwnRuntimeErrorIsNotSwallowed)
{
    const std::string subject = "aa";
    const boost::regex e("a");
    std::string error;
    EXPECT_THROW(RegexEngine::GrepRange(
                     subject.data(), subject.data() + subject.size(), e, rc::match_posix,
                     [](const boost::cmatch&) -> bool { throw std::runtime_error("handler"); }, error),
                 std::runtime_error);
    EXPECT_EQ(error, "");
}

}  // namespace

TEST(CountMatches, LongSubjectsCountTheSameThroughTheDriver)
{
    struct Row {
        const char* expression;
        rc::syntax_option_type syntax;
        rc::match_flag_type flags;
    };
    const Row rows[] = {
        {"lantern", boost::regex::normal, rc::match_posix},             // plain
        {"ab|a", boost::regex::normal, rc::match_posix},                // plain, leftmost-longest
        {"TODO[^\\n]*", boost::regex::normal, rc::match_posix},        // prefix
        {"\\w+ing\\b", boost::regex::icase, rc::match_default},         // window
        {"[a-c]+ing", boost::regex::collate, rc::match_any},            // window, collating ranges
        {"^\\w*ing\\b", boost::regex::normal, rc::match_not_bol},
        {"x*", boost::regex::normal, rc::match_posix},                  // no literal
        {"ing", boost::regex::extended, rc::match_posix},               // another syntax: the engine
    };
    std::string subject;
    for (int i = 0; subject.size() < RegexEngine::countThroughDriver + 100; ++i)
        subject += i % 7 == 0 ? "TODO sing\r\n" : i % 5 == 0 ? "Lantern abab RING\n" : "bacing lantern x\n\n";
    for (const auto& row : rows) {
        const boost::regex e(row.expression, row.syntax);
        std::string error, driverError;
        const unsigned plain = RegexEngine::GrepRange(subject.data(), subject.data() + subject.size(), e, row.flags,
                                                      [](const boost::cmatch&) { return true; }, error);
        const unsigned counted = RegexEngine::CountMatches(subject.data(), subject.data() + subject.size(), e,
                                                           row.expression, row.flags, driverError);
        EXPECT_EQ(counted, plain) << row.expression;
        EXPECT_GT(plain, 500u) << row.expression;
        EXPECT_EQ(driverError, error);
    }
}

TEST(ReplaceThroughDriver, LongSubjectsGiveTheEnginesReplacement)
{
    struct Row {
        const char* expression;
        const char* format;
        rc::match_flag_type flags;
        bool applies;
    };
    const Row rows[] = {
        {"lantern|ab", "<$0>", rc::match_posix, true},                 // plain
        {"(L|l)antern", "$1-(?1x:y)\\n", rc::match_posix, true},       // plain texts, groups: the anchored run
        {"(\\w+)ing\\b", "[$1]", rc::match_default, true},             // window
        {"TODO([^\\n]*)", "${1}!", rc::match_any, true},               // prefix
        {"(\\w+)ing\\b", "$`", rc::match_default, false},              // the text before the match
        {"(\\w+)ing\\b", "$'", rc::match_default, false},              // the text after it
        {"x*", "-", rc::match_posix, false},                           // no literal
    };
    std::string subject;
    for (int i = 0; subject.size() < RegexEngine::countThroughDriver + 100; ++i)
        subject += i % 7 == 0 ? "TODO sing\r\n" : i % 5 == 0 ? "Lantern abab RING\n" : "bacing lantern x\n\n";
    for (const auto& row : rows) {
        const boost::regex e(row.expression);
        for (const bool copy : {true, false}) {
            std::string expected = "kept:", got = "kept:", error, driverError;
            RegexEngine::ReplaceRange(expected, subject.data(), subject.data() + subject.size(), e, row.format,
                                      row.flags, copy, error);
            const bool applied = RegexEngine::ReplaceThroughDriver(got, subject.data(), subject.data() + subject.size(),
                                                                   e, row.expression, row.format, row.flags, copy,
                                                                   driverError);
            EXPECT_EQ(applied, row.applies) << row.expression << " " << row.format;
            if (applied)
                EXPECT_EQ(got, expected) << row.expression << " " << row.format << " copy " << copy;
            else
                EXPECT_EQ(got, "kept:");
            EXPECT_EQ(driverError, error);
        }
    }
}

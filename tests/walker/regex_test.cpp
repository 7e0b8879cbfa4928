// The engine object's walks: callbacks, counts, stop behaviour, what a grep
// callback sees, and errors, for each way of spreading the search on threads.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include "RegEx.h"
#include "Filetesting.h"

using RegexEngine::RegEx;

namespace {

// What a callback saw for one match.
struct Seen {
    std::string file;
    std::vector<std::string> what;
    std::vector<std::uint64_t> position;
    std::uint64_t line;
};

// The static callbacks forward to whatever the running test installs here.
std::function<bool(const char*)> onFile;
std::function<bool(const char*, const RegEx&)> onMatch;

bool FileCallback(const char* file) { return onFile(file); }
bool MatchCallback(const char* file, const RegEx& engine) { return onMatch(file, engine); }
bool AlwaysOn(const char*, const RegEx&) { return true; }

Seen Capture(const char* file, const RegEx& engine)
{
    Seen seen{file, {}, {}, engine.Line()};
    for (unsigned i = 0; i < engine.Marks(); ++i) {
        seen.what.push_back(engine.What(i));
        seen.position.push_back(engine.Position(i));
    }
    return seen;
}

class RegExWalk : public ::testing::TestWithParam<unsigned> {
protected:
    void SetUp() override { engine.SetSearchThreads(GetParam()); }
    void TearDown() override
    {
        onFile = nullptr;
        onMatch = nullptr;
    }

    // Every match of `expression` in the files named by `pattern`, as seen by a
    // callback that always goes on.
    std::vector<Seen> GrepAll(const std::string& expression, const std::string& pattern, bool recurse = false,
                              unsigned flags = 0, bool icase = false)
    {
        EXPECT_EQ(engine.SetExpression(expression, icase), 0u) << expression;
        std::vector<Seen> seen;
        onMatch = [&](const char* file, const RegEx& e) {
            seen.push_back(Capture(file, e));
            return true;
        };
        const unsigned count = engine.GrepFiles(MatchCallback, pattern, recurse, flags);
        EXPECT_EQ(count, seen.size());
        return seen;
    }

    FileTesting::Tree tree;
    RegEx engine;
};

constexpr std::uint64_t none = RegEx::npos;

}  // namespace

TEST_P(RegExWalk, FindFilesReportsEachFileWithAMatchOnce)
{
    tree.Write("a.txt", "cat cat cat");
    tree.Write("b.txt", "dog");
    tree.Write("c.txt", "a cat");
    tree.Write("sub/d.txt", "cat");
    ASSERT_EQ(engine.SetExpression("cat", false), 0u);
    std::vector<std::string> files;
    onFile = [&](const char* file) {
        files.push_back(file);
        return true;
    };
    EXPECT_EQ(engine.FindFiles(FileCallback, tree.Path("*.txt"), false, 0), 2u);
    EXPECT_EQ(files, (std::vector<std::string>{tree.Path("a.txt"), tree.Path("c.txt")}));
    files.clear();
    EXPECT_EQ(engine.FindFiles(FileCallback, tree.Path("*.txt"), true, 0), 3u);
    EXPECT_EQ(files.back(), tree.Path("sub/d.txt"));
}

TEST_P(RegExWalk, FindFilesStopsTheWholeWalkOnFalse)
{
    for (int i = 0; i < 40; ++i)
        tree.Write("f" + std::to_string(100 + i) + ".txt", "needle");
    tree.Write("sub/z.txt", "needle");
    ASSERT_EQ(engine.SetExpression("NEEDLE", true), 0u);
    int calls = 0;
    onFile = [&](const char*) { return ++calls < 2; };
    EXPECT_EQ(engine.FindFiles(FileCallback, tree.Path("*.txt"), true, 0), 2u);
    EXPECT_EQ(calls, 2);
}

TEST_P(RegExWalk, GrepFilesCountsAndStopsAcrossFiles)
{
    tree.Write("a.txt", "x x");
    tree.Write("b.txt", "x x x");
    tree.Write("c.txt", "x");
    ASSERT_EQ(engine.SetExpression("x", false), 0u);
    EXPECT_EQ(GrepAll("x", tree.Path("*.txt")).size(), 6u);

    std::vector<std::string> files;
    onMatch = [&](const char* file, const RegEx&) {
        files.push_back(file);
        return files.size() < 3;  // false on the third match: in b.txt
    };
    EXPECT_EQ(engine.GrepFiles(MatchCallback, tree.Path("*.txt"), false, 0), 3u);
    EXPECT_EQ(files, (std::vector<std::string>{tree.Path("a.txt"), tree.Path("a.txt"), tree.Path("b.txt")}));
}

TEST_P(RegExWalk, StopEndsAWalkOverManyFilesAtOnce)
{
    std::string content;
    for (int i = 0; i < 2000; ++i)
        content += "match\n";
    for (int i = 0; i < 60; ++i)
        tree.Write("f" + std::to_string(100 + i) + ".txt", content);
    ASSERT_EQ(engine.SetExpression("match", false), 0u);
    int calls = 0;
    onMatch = [&](const char*, const RegEx&) { return ++calls < 2500; };
    EXPECT_EQ(engine.GrepFiles(MatchCallback, tree.Path("*.txt"), false, 0), 2500u);
    EXPECT_EQ(calls, 2500);
}

TEST_P(RegExWalk, MarksWhatPositionForEachMatch)
{
    tree.Write("a.txt", "ab a ab");
    const auto seen = GrepAll("(a)(b)?", tree.Path("a.txt"));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].what, (std::vector<std::string>{"ab", "a", "b"}));
    EXPECT_EQ(seen[0].position, (std::vector<std::uint64_t>{0, 0, 1}));
    EXPECT_EQ(seen[1].what, (std::vector<std::string>{"a", "a", ""}));  // (b)? took no part
    EXPECT_EQ(seen[1].position, (std::vector<std::uint64_t>{3, 3, none}));
    EXPECT_EQ(seen[2].position, (std::vector<std::uint64_t>{5, 5, 6}));
    EXPECT_EQ(seen[2].file, tree.Path("a.txt"));
}

TEST_P(RegExWalk, OutsideACallbackThereIsNoCurrentMatch)
{
    tree.Write("a.txt", "abc");
    GrepAll("(b)", tree.Path("a.txt"));
    EXPECT_EQ(engine.Marks(), 2u);
    EXPECT_EQ(engine.What(0), "");
    EXPECT_EQ(engine.Position(0), none);
    EXPECT_EQ(engine.Line(), 0u);
}

// One file, one expression: every match as (position, length, line).
struct GrepRow {
    const char* name;
    const char* expression;
    std::string content;
    unsigned flags;
    std::vector<std::vector<std::uint64_t>> expected;  // {position, length, line}
};

TEST_P(RegExWalk, MatchesPositionsAndLinesInOneFile)
{
    const GrepRow rows[] = {
        {"first line is 1", "a", "a\nb\na", 0, {{0, 1, 1}, {4, 1, 3}}},
        {"crlf", "x", "x\r\nx\r\n\r\nx", 0, {{0, 1, 1}, {3, 1, 2}, {8, 1, 4}}},
        {"last line without newline", "end", "one\ntwo\nend", 0, {{8, 3, 3}}},
        {"match spanning lines counts its start", "b\nc", "a\nb\nc\nb\nc", 0, {{2, 3, 2}, {6, 3, 4}}},
        {"nul bytes are characters", "a.b", std::string("a\0b\na\0b", 7), 0, {{0, 3, 1}, {4, 3, 2}}},
        {"adjacent matches", "aa", "aaaaa", 0, {{0, 2, 1}, {2, 2, 1}}},
        {"empty file, empty expression", "", "", 0, {{0, 0, 1}}},
        {"empty file, anchor", "^", "", 0, {{0, 0, 1}}},
        {"empty file, text", "a", "", 0, {}},
        {"empty matches", "x*", "ab", 0, {{0, 0, 1}, {1, 0, 1}, {2, 0, 1}}},
        {"empty then non-empty", "a*", "baaac", 0, {{0, 0, 1}, {1, 3, 1}, {4, 0, 1}, {5, 0, 1}}},
        {"line starts", "^\\w", "ab\ncd\n\nef", 0, {{0, 1, 1}, {3, 1, 2}, {7, 1, 4}}},
        {"not_bol", "^\\w", "ab\ncd", boost::match_not_bol, {{3, 1, 2}}},
        {"not_null", "x*", "axxb", boost::match_not_null, {{1, 2, 1}}},
        {"continuous", "a", "aab a", boost::match_continuous, {{0, 1, 1}, {1, 1, 1}}},
        {"prev_avail is ignored", "^a", "ab", boost::match_prev_avail, {{0, 1, 1}}},
        {"alternation takes the first text", "ab|abc|b", "abcb", 0, {{0, 2, 1}, {3, 1, 1}}},
    };
    for (const auto& row : rows) {
        tree.Write("one.txt", row.content);
        std::vector<std::vector<std::uint64_t>> got;
        for (const auto& seen : GrepAll(row.expression, tree.Path("one.txt"), false, row.flags))
            got.push_back({seen.position[0], seen.what[0].size(), seen.line});
        EXPECT_EQ(got, row.expected) << row.name;
    }
}

TEST_P(RegExWalk, LineNumbersAcrossManyMatchesAndFiles)
{
    std::string content;
    for (int i = 0; i < 5000; ++i)
        content += (i % 3 == 0 ? "hit here\n" : "nothing\n");
    tree.Write("a.txt", content);
    tree.Write("b.txt", "\n\nhit\n");
    const auto seen = GrepAll("hit", tree.Path("*.txt"));
    ASSERT_EQ(seen.size(), 1668u);
    for (std::size_t i = 0; i + 1 < seen.size(); ++i)
        ASSERT_EQ(seen[i].line, 3 * i + 1) << i;
    EXPECT_EQ(seen.back().line, 3u);  // counting starts afresh in each file
}

TEST_P(RegExWalk, FilesWithMoreMatchesThanTheLookAheadHoldsStayInOrder)
{
    std::string content;
    for (int i = 0; i < 60000; ++i)
        content += "z\n";
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        tree.Write(name, content);
    ASSERT_EQ(engine.SetExpression("(z)", false), 0u);
    std::uint64_t expected = 0;
    std::string previous;
    bool inOrder = true;
    onMatch = [&](const char* file, const RegEx& e) {
        if (previous != file) {
            previous = file;
            expected = 0;
        }
        inOrder = inOrder && e.Position(0) == 2 * expected && e.Position(1) == 2 * expected &&
                  e.Line() == expected + 1;
        ++expected;
        return true;
    };
    EXPECT_EQ(engine.GrepFiles(MatchCallback, tree.Path("*.txt"), false, 0), 180000u);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(previous, tree.Path("c.txt"));
}

TEST_P(RegExWalk, FilesCreatedDuringTheWalkAreNotVisited)
{
    tree.Write("a.txt", "key");
    tree.Write("m.txt", "key");
    ASSERT_EQ(engine.SetExpression("key", false), 0u);
    std::vector<std::string> files;
    onMatch = [&](const char* file, const RegEx&) {
        files.push_back(file);
        tree.Write("b.txt", "key");
        tree.Write("z.txt", "key");
        tree.Write("sub/new.txt", "key");
        return true;
    };
    EXPECT_EQ(engine.GrepFiles(MatchCallback, tree.Path("*.txt"), true, 0), 2u);
    EXPECT_EQ(files, (std::vector<std::string>{tree.Path("a.txt"), tree.Path("m.txt")}));
}

TEST_P(RegExWalk, AFileTruncatedWhileItIsSearchedKeepsItsMatches)
{
    std::string content;
    for (int i = 0; i < 3000; ++i)
        content += "word ";
    tree.Write("a.txt", content);
    tree.Write("b.txt", content);
    ASSERT_EQ(engine.SetExpression("w(or)d", false), 0u);
    unsigned calls = 0;
    bool textsRight = true;
    onMatch = [&](const char*, const RegEx& e) {
        if (calls++ == 0) {
            ::truncate(tree.Path("a.txt").c_str(), 0);
            ::truncate(tree.Path("b.txt").c_str(), 0);
        }
        textsRight = textsRight && e.What(0) == "word" && e.What(1) == "or";
        return true;
    };
    const unsigned count = engine.GrepFiles(MatchCallback, tree.Path("*.txt"), false, 0);
    EXPECT_TRUE(textsRight);
    EXPECT_GE(count, 3000u);  // a.txt whole; b.txt as it was when it was read
    EXPECT_EQ(count, calls);
}

TEST_P(RegExWalk, SkipsWhatIsNotARegularFile)
{
    tree.Write("a.txt", "key");
    tree.Fifo("b.txt");
    tree.Link("c.txt", "/dev/zero");
    tree.Link("d.txt", "a.txt");
    const auto seen = GrepAll("key", tree.Path("*.txt"));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].file, tree.Path("d.txt"));
}

TEST_P(RegExWalk, InvalidExpressionGivesTheEngineCodeAndNoWalk)
{
    tree.Write("a.txt", "(((");
    for (const char* bad : {"(", "[a", "a{2,1}", "*", "\\"}) {
        const unsigned expected = boost::regex(bad, boost::regex::normal | boost::regex::no_except).status();
        ASSERT_NE(expected, 0u) << bad;
        EXPECT_EQ(engine.SetExpression(bad, false), expected) << bad;
        onFile = [](const char*) -> bool { throw std::logic_error("no callback expected"); };
        onMatch = [](const char*, const RegEx&) -> bool { throw std::logic_error("no callback expected"); };
        EXPECT_EQ(engine.FindFiles(FileCallback, tree.Path("*"), true, 0), 0u);
        EXPECT_EQ(engine.GrepFiles(MatchCallback, tree.Path("*"), true, 0), 0u);
    }
    EXPECT_EQ(engine.SetExpression(std::string("\\(\0(", 4), false), 0u);  // compiled up to the NUL
    EXPECT_EQ(GrepAll("\\(", tree.Path("*")).size(), 3u);
}

TEST_P(RegExWalk, MatchingErrorEndsTheWalkWithoutThrowing)
{
    tree.Write("a.txt", "xxy");
    tree.Write("b.txt", std::string(5000, 'x'));
    tree.Write("c.txt", "xxy");
    ASSERT_EQ(engine.SetExpression("(x+x+)+y", false), 0u);
    std::vector<std::string> files;
    onMatch = [&](const char* file, const RegEx&) {
        files.push_back(file);
        return true;
    };
    unsigned count = 0;
    EXPECT_NO_THROW(count = engine.GrepFiles(MatchCallback, tree.Path("*.txt"), false, 0));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(files, (std::vector<std::string>{tree.Path("a.txt")}));
    EXPECT_FALSE(engine.MatchError().empty());

    onFile = [&](const char*) { return true; };
    EXPECT_NO_THROW(count = engine.FindFiles(FileCallback, tree.Path("*.txt"), false, 0));
    EXPECT_EQ(count, 1u);
    EXPECT_FALSE(engine.MatchError().empty());

    EXPECT_EQ(engine.GrepFiles(MatchCallback, tree.Path("c.txt"), false, 0), 1u);
    EXPECT_TRUE(engine.MatchError().empty());  // a clean walk clears it
}

TEST_P(RegExWalk, ACallbackExceptionPassesThroughAndTheObjectStaysUsable)
{
    for (int i = 0; i < 10; ++i)
        tree.Write("f" + std::to_string(i) + ".txt", "boom boom");
    ASSERT_EQ(engine.SetExpression("boom", false), 0u);
    int calls = 0;
    onMatch = [&](const char*, const RegEx&) -> bool {
        if (++calls == 3)
            throw std::runtime_error("handler failed");
        return true;
    };
    EXPECT_THROW(engine.GrepFiles(MatchCallback, tree.Path("*.txt"), false, 0), std::runtime_error);
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(engine.MatchError().empty());  // not taken for a matching error
    EXPECT_EQ(GrepAll("boom", tree.Path("*.txt")).size(), 20u);
}

TEST_P(RegExWalk, NestedWalkOnAnotherObjectLeavesTheOuterMatchIntact)
{
    tree.Write("a.txt", "outer1 outer2");
    tree.Write("b.txt", "inner inner");
    ASSERT_EQ(engine.SetExpression("outer(\\d)", false), 0u);
    RegEx inner;
    inner.SetSearchThreads(GetParam());
    ASSERT_EQ(inner.SetExpression("inner", false), 0u);
    std::vector<std::string> outerTexts;
    unsigned innerCount = 0;
    onMatch = [&](const char*, const RegEx& e) {
        innerCount += inner.GrepFiles(AlwaysOn, tree.Path("b.txt"), false, 0);
        outerTexts.push_back(e.What(1));
        return true;
    };
    EXPECT_EQ(engine.GrepFiles(MatchCallback, tree.Path("a.txt"), false, 0), 2u);
    EXPECT_EQ(outerTexts, (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(innerCount, 4u);
}

TEST_P(RegExWalk, RecompilingFromACallbackChangesTheNextWalkOnly)
{
    for (const char* name : {"a.txt", "b.txt"})
        tree.Write(name, "k1 k2 k3");
    ASSERT_EQ(engine.SetExpression("k\\d", false), 0u);
    std::vector<std::string> texts;
    onMatch = [&](const char*, const RegEx& e) {
        if (texts.empty())
            engine.SetExpression("(k)(\\d)(x)?", false);  // more marks than the walk's matches carry
        texts.push_back(e.What(0) + "/" + std::to_string(e.Marks()) + "/" + e.What(3));
        return true;
    };
    EXPECT_EQ(engine.GrepFiles(MatchCallback, tree.Path("*.txt"), false, 0), 6u);
    EXPECT_EQ(texts, (std::vector<std::string>{"k1/1/", "k2/1/", "k3/1/", "k1/1/", "k2/1/", "k3/1/"}));
    EXPECT_EQ(GrepAll("(k)(\\d)(x)?", tree.Path("a.txt")).at(0).what.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Threads, RegExWalk, ::testing::Values(1u, 2u, 3u),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             return "Threads" + std::to_string(info.param);
                         });

namespace {

struct LineModeRow {
    const char* expression;
    const char* text;
    std::vector<std::uint64_t> positions;  // Position(0) of every match
    std::vector<std::uint64_t> lines;      // Line() of every match
};

}  // namespace

TEST_P(RegExWalk, LineModeSearchesEachLineAsItsOwnSubject)
{
    const LineModeRow rows[] = {
        {"", "", {}, {}},                                   // an empty file has no line
        {"", "a\n", {0, 1}, {1, 1}},                        // no line after the final line feed
        {"^$", "a\n\nb\n", {2}, {2}},                       // the empty second line
        {"\\Ab", "ab\nbb", {3}, {2}},                       // \A at each line's start
        {"a\\z", "a\nba\na", {0, 3, 5}, {1, 2, 3}},         // \z at each line's end
        {"a.*", "xa\nab\n", {1, 3}, {1, 2}},                // no match runs over a line feed
        {"a\\s+b", "a\nb a b", {4}, {2}},
        {"\\bb", "a\nb", {2}, {2}},
        {"x*", "\r\n", {0, 1}, {1, 1}},                     // CR is part of its line
    };
    tree.Write("f.txt", "");
    for (const auto& row : rows) {
        tree.Write("f.txt", row.text);
        for (const bool lines : {true, false}) {
            engine.SetLineMode(lines);
            std::vector<std::uint64_t> positions, numbers;
            for (const auto& seen : GrepAll(row.expression, tree.Path("f.txt"))) {
                positions.push_back(seen.position[0]);
                numbers.push_back(seen.line);
            }
            if (lines) {
                EXPECT_EQ(positions, row.positions) << row.expression;
                EXPECT_EQ(numbers, row.lines) << row.expression;
            } else if (row.expression == std::string("a.*")) {
                EXPECT_EQ(positions, (std::vector<std::uint64_t>{1})) << "whole-buffer mode spans lines";
            }
        }
    }
}

namespace {

bool operator==(const Seen& a, const Seen& b)
{
    return a.file == b.file && a.what == b.what && a.position == b.position && a.line == b.line;
}

// Text of `size` bytes with numbered lines, a few long lines and runs that
// cross a small window's edges.
std::string LargeText(std::size_t size, unsigned seed)
{
    std::string text;
    unsigned n = seed;
    while (text.size() < size) {
        n = n * 1103515245u + 12345u;
        switch ((n >> 16) % 6) {
        case 0: text += "line " + std::to_string(n % 1000) + " word\n"; break;
        case 1: text += std::string((n >> 8) % 3000, 'x') + "y\n"; break;
        case 2: text += "begin " + std::string((n >> 8) % 2000, '.') + "\nend\n"; break;
        case 3: text += "\n\n"; break;
        case 4: text += "colour color w" + std::string((n >> 8) % 4, 'o') + "rd "; break;
        default: text += "tail\r\n"; break;
        }
    }
    return text;
}

}  // namespace

// A file too large to read whole is mapped, or searched in windows: every
// match, sub-match, position and line number is the one the whole read gives,
// across the windows' edges and in line mode too.
TEST_P(RegExWalk, LargeFilesMappedOrSearchedInWindowsGiveTheSameMatches)
{
    tree.Write("a.txt", LargeText(300000, 1));
    tree.Write("b.txt", "small colour\n");
    tree.Write("c.txt", LargeText(120000, 7));
    const char* expressions[] = {"w(o*)rd", "x+y", "begin[\\s\\S]*?end", "colou?r", "^$", "\\d+ (w)ord$",
                                 "(?<=x)y\\n", "tail\\r?$"};
    struct Rule {
        const char* name;
        std::size_t readLimit;
        bool map;
        std::size_t window;
    };
    const Rule rules[] = {{"mapped", 1000, true, 0}, {"windows", 1000, false, 16384}};
    for (const bool lines : {false, true}) {
        engine.SetLineMode(lines);
        for (const char* expression : expressions) {
            engine.SetLargeFileRule(std::size_t(16) << 20, true, 0);
            const std::vector<Seen> read = GrepAll(expression, tree.Path("*.txt"));
            ASSERT_TRUE(lines || !read.empty()) << expression;
            for (const Rule& rule : rules) {
                engine.SetLargeFileRule(rule.readLimit, rule.map, rule.window);
                const std::vector<Seen> other = GrepAll(expression, tree.Path("*.txt"));
                EXPECT_EQ(other.size(), read.size()) << rule.name << " " << expression << " lines " << lines;
                EXPECT_TRUE(other == read) << rule.name << " " << expression << " lines " << lines;
            }
        }
    }
}

// FindFiles, a stop from the callback and the per-file notifications on a
// file searched in windows: the file shows no bytes, and the walk goes on.
TEST_P(RegExWalk, AFileSearchedInWindowsReportsLikeAnyOther)
{
    tree.Write("a.txt", LargeText(100000, 3));
    tree.Write("b.txt", "colour");
    engine.SetLargeFileRule(1000, false, 8192);
    ASSERT_EQ(engine.SetExpression("colou?r", false), 0u);
    std::vector<std::string> found;
    onFile = [&](const char* file) {
        found.push_back(file);
        return true;
    };
    EXPECT_EQ(engine.FindFiles(FileCallback, tree.Path("*.txt"), false, 0), 2u);
    EXPECT_EQ(found, (std::vector<std::string>{tree.Path("a.txt"), tree.Path("b.txt")}));

    static std::vector<std::string> stages;
    stages.clear();
    engine.SetFileCallback([](const char* file, const RegEx& e) {
        const std::string name = std::string(file).substr(std::string(file).size() - 5);
        stages.push_back(name + (e.Stage() == RegEx::FileStage::Started ? " started" : " finished") +
                         (e.FileData() == nullptr ? " no bytes" : " bytes"));
        return RegEx::FileAnswer::Go;
    });
    unsigned calls = 0;
    onMatch = [&](const char*, const RegEx&) { return ++calls < 3; };
    EXPECT_EQ(engine.GrepFiles(MatchCallback, tree.Path("*.txt"), false, 0), 3u);
    EXPECT_EQ(stages, (std::vector<std::string>{"a.txt started no bytes"}));
    engine.SetFileCallback(nullptr);
}

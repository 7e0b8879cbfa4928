// The public streaming search: positions, line numbers and views handed to
// sinks, answers that stop or skip, walks with a filter, failures as values,
// and whole-input mode across window edges.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Filetesting.h"
#include "Quorvexsearch.h"

using namespace RegexClass;

namespace {

// Every match as "line:offset-end:text|line text".
struct Recorder final : SearchSink {
    SearchAnswer OnMatch(const SearchMatch& m) override
    {
        got.push_back(std::to_string(m.Line) + ":" + std::to_string(m.Offset) + "-" + std::to_string(m.End) + ":" +
                      std::string(m.Text) + "|" + std::string(m.LineText));
        return ++count == stopAfter ? answer : SearchAnswer::Continue;
    }
    SearchAnswer OnInputStart(const std::string& name) override
    {
        got.push_back("start " + name.substr(name.find_last_of("/\\") + 1));
        return SearchAnswer::Continue;
    }
    SearchAnswer OnInputFailed(const std::string&, unsigned error, const std::string&) override
    {
        got.push_back(error != 0 ? "failed" : "failed without a code");
        return SearchAnswer::Continue;
    }
    std::vector<std::string> got;
    int count = 0, stopAfter = -1;
    SearchAnswer answer = SearchAnswer::Continue;
};

}  // namespace

TEST(Search, HandsEachMatchWithItsPositionLineAndViews)
{
    struct Row {
        const char* expression;
        std::string text;
        bool lines;
        std::vector<std::string> got;
    };
    const Row rows[] = {
        {"b+", "abb\nxb\n", true, {"1:1-3:bb|abb", "2:5-6:b|xb"}},
        {"^$", "a\n\nb\n", true, {"2:2-2:|"}},
        {"b\\nx", "abb\nxb\n", false, {"1:2-5:b\nx|abb\nxb"}},  // across lines: every line it touches
        {"b$", "ab\nb", false, {"1:1-2:b|ab", "2:3-4:b|b"}},
    };
    for (const Row& row : rows) {
        Searcher searcher(row.expression);
        ASSERT_TRUE(searcher.Ok());
        searcher.Options().LineMode = row.lines;
        searcher.Options().LineNumbers = true;
        Recorder sink;
        const SearchResult result = searcher.SearchText(row.text, sink);
        EXPECT_EQ(result.End, SearchResult::Finished);
        sink.got.erase(sink.got.begin());  // "start "
        EXPECT_EQ(sink.got, row.got) << row.expression;
        EXPECT_EQ(result.Matches, row.got.size());
    }
}

TEST(Search, WholeInputModeHandsOutBlocksOfWholeLines)
{
    // Bytes in memory come as one block, the lines around every match in it.
    struct Blocks final : SearchSink {
        SearchAnswer OnMatch(const SearchMatch& m) override
        {
            got.push_back(std::to_string(m.Line) + "@" + std::to_string(m.LineOffset) + ":" + std::string(m.LineText));
            return SearchAnswer::Continue;
        }
        SearchAnswer OnBlock(const SearchBlock& b) override
        {
            got.push_back("block " + std::to_string(b.Offset) + "+" + std::to_string(b.Kept) + " line " +
                          std::to_string(b.Line) + (b.Binary ? " binary " : " ") + std::to_string(b.Bytes.size()));
            return SearchAnswer::Continue;
        }
        SearchAnswer OnBlockEnd(const SearchBlock&) override
        {
            got.push_back("end");
            return SearchAnswer::Continue;
        }
        std::vector<std::string> got;
    };
    struct Row {
        const char* expression;
        std::string text;
        std::vector<std::string> got;
    };
    const Row rows[] = {
        {"c\nd", "ab\nc\nde\nf", {"block 0+0 line 1 9", "2@3:c\nde", "end"}},
        {"x", std::string("a\0\nx\n", 5), {"block 0+0 line 1 binary 5", "2@3:x", "end"}},
        {"\n", "a\n\nb", {"block 0+0 line 1 4", "1@0:a", "2@2:", "end"}},  // a terminator ends its own line
        {"q", "", {"block 0+0 line 1 0", "end"}},
    };
    for (const Row& row : rows) {
        Searcher searcher(row.expression);
        searcher.Options().LineMode = false;
        searcher.Options().LineNumbers = true;
        Blocks sink;
        EXPECT_EQ(searcher.SearchText(row.text, sink).End, SearchResult::Finished);
        EXPECT_EQ(sink.got, row.got) << row.expression;
    }
}

TEST(Search, TakesACallableAndTheObjectsOptions)
{
    Searcher searcher("(A)(x)?", {RegularExpression::CaseInsensitive});
    std::vector<std::uint64_t> groups;
    searcher.SearchText("za", [&](const SearchMatch& m) {
        for (unsigned i = 0; i < m.Groups; ++i)
            groups.push_back(m.GroupOffset(i));
        return SearchAnswer::Continue;
    });
    EXPECT_EQ(groups, (std::vector<std::uint64_t>{1, 1, NoPosition}));

    RegularExpression object;
    object.SetExpression("(");
    Searcher broken(object);
    EXPECT_FALSE(broken.Ok());
    EXPECT_FALSE(broken.Error().empty());
    EXPECT_EQ(broken.SearchText("(", [](const SearchMatch&) { return SearchAnswer::Continue; }).End,
              SearchResult::MatchFailed);
}

TEST(Search, WalksFilesStopsAndReportsWhatItCannotRead)
{
    FileTesting::Tree tree;
    tree.Write("a.txt", "one\ntwo one\n");
    tree.Write("b.txt", "one\n");
    tree.Write("c.log", "one\n");
    Searcher searcher("one");
    struct Row {
        SearchAnswer answer;
        std::vector<std::string> got;
        SearchResult::Outcome end;
    };
    const Row rows[] = {
        {SearchAnswer::Continue, {"start a.txt", "0:0-3:one|one", "0:8-11:one|two one", "start b.txt", "0:0-3:one|one"},
         SearchResult::Finished},
        {SearchAnswer::SkipInput, {"start a.txt", "0:0-3:one|one", "start b.txt", "0:0-3:one|one"},
         SearchResult::Finished},
        {SearchAnswer::Stop, {"start a.txt", "0:0-3:one|one"}, SearchResult::Stopped},
    };
    for (const Row& row : rows) {
        Recorder sink;
        sink.stopAfter = 1;
        sink.answer = row.answer;
        WalkOptions walk;
        walk.Filter = [](const std::string& path, bool) { return path.substr(path.size() - 4) == ".txt"; };
        const SearchResult result = searcher.SearchFiles(tree.Path("*"), walk, sink);
        EXPECT_EQ(sink.got, row.got);
        EXPECT_EQ(result.End, row.end);
    }
    Recorder sink;
    const SearchResult missing = searcher.SearchPath(tree.Path("missing.txt"), sink);
    EXPECT_EQ(missing.End, SearchResult::ReadFailed);
    EXPECT_NE(missing.SystemError, 0u);
    EXPECT_EQ(sink.got, std::vector<std::string>{"failed"});
}

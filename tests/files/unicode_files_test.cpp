// FindFiles, GrepFiles and ChangeFiles in Unicode (UTF-8) mode: the same
// spans as the string operations, byte offsets into the file, and rewrites
// that keep the file valid UTF-8.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Filetesting.h"
#include "Regularexpressionclass.h"

namespace {

using FileTesting::Tree;
using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;
using Spans = std::vector<std::pair<int, int>>;  // byte position, byte length

struct Collector {
    Spans spans;
    void OnMatches(RegularExpression*, std::string, const REMatchInfo& m, unsigned, bool&)
    {
        spans.emplace_back(m[0].Position, static_cast<int>(m[0].Text.size()));
    }
};

RegularExpression UnicodeWalk(const std::string& expression, bool ignoreCase, const std::string& files)
{
    RegularExpression re;
    re.SetUnicode(true);
    re.SetExpression(expression);
    if (ignoreCase)
        re.AddExpressionOption(RegularExpression::CaseInsensitive);
    re.SetFilesToMatch(files);
    return re;
}

TEST(UnicodeFiles, GrepFilesFindsTheStringOperationsSpans)
{
    const struct {
        const char* expression;
        bool ignoreCase, lineMode;
        std::string content;
        Spans expected;
    } rows[] = {
        {".", false, false, "é\n", {{0, 2}, {2, 1}}},
        {".", false, true, "é\n", {{0, 2}}},
        {"école", true, false, "ÉCOLE\nécole", {{0, 6}, {7, 6}}},
        {"\\p{Greek}+", false, true, "ab αβ\nγ", {{3, 4}, {8, 2}}},
        {"\\bt\\b", false, true, "été\nt", {{6, 1}}},
        {"^\\w", false, true, "é\n\xFF" "a\nb", {{0, 2}, {6, 1}}},
        {"\\w+", false, false, "a\xFF" "é\xC3", {{0, 1}, {2, 2}}},
        // Line mode skips lines without a required text only where that text
        // is the same in both modes.
        {"t\\w", false, true, "ab\nété tx\n", {{5, 3}, {9, 2}}},
        {"\\xe9", false, true, "é\n\xE9\n", {{0, 2}}},
        {"k", true, true, "a\n\xE2\x84\xAA\n", {{2, 3}}},
        {"ab?c", false, true, "ac\nxy\nabc", {{0, 2}, {6, 3}}},
    };
    for (const auto& row : rows) {
        Tree tree;
        tree.Write("a.txt", row.content);
        RegularExpression re = UnicodeWalk(row.expression, row.ignoreCase, tree.Path("a.txt"));
        re.SetLineMode(row.lineMode);
        Collector collector;
        re.SetOnGreppingFilesClosure(RegexClass::Bind(&collector, &Collector::OnMatches));
        if (re.ParseExpression() != 0) {
            // A build without the Unicode engine refuses and walks nothing.
            EXPECT_NE(re.GetExpressionError().find("not available"), std::string::npos) << re.GetExpressionError();
            EXPECT_EQ(re.GrepFiles(), 0u);
            continue;
        }
        EXPECT_EQ(re.GrepFiles(), row.expected.size()) << row.expression;
        EXPECT_EQ(collector.spans, row.expected) << row.expression << " on " << row.content;
        EXPECT_EQ(re.FindFiles(), row.expected.empty() ? 0u : 1u) << row.expression;
    }
}

TEST(UnicodeFiles, ChangeFilesWritesValidUtf8)
{
    const struct {
        const char* expression;
        bool ignoreCase;
        std::string format, content, expected;
    } rows[] = {
        {"[éè]", false, "e", "crème brûlée\n", "creme brûlee\n"},
        {"É", true, "E", "été\nÉTÉ\n", "EtE\nETE\n"},
        {"\\w", false, "x", "é\xFF" "a\n", "x\xFFx\n"},
        {"(\\w+)$", false, "[$1]", "ça va\nß\n", "ça [va]\n[ß]\n"},
    };
    for (const auto& row : rows) {
        Tree tree;
        tree.Write("a.txt", row.content);
        RegularExpression re = UnicodeWalk(row.expression, row.ignoreCase, tree.Path("a.txt"));
        re.SetFormatString(row.format);
        if (re.ParseExpression() != 0) {
            EXPECT_EQ(re.ChangeFiles(), 0u);
            EXPECT_EQ(tree.Read("a.txt"), row.content) << "a refused expression changes nothing";
            continue;
        }
        re.ChangeFiles();
        EXPECT_EQ(re.GetChangeFilesErrors(), nullptr) << row.expression;
        EXPECT_EQ(tree.Read("a.txt"), row.expected) << row.expression;
    }
}

}  // namespace

// grep -P's dialect in the engine's syntax: each rewrite, checked by what
// the rewritten expression matches once compiled, and each refusal by the
// construct its message names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Compilation.h"
#include "Perldialect.h"

namespace {

constexpr unsigned kNormal = 0x4107;

struct Row {
    const char* expression;
    const char* subject;
    const char* found;  // the first match in the subject; nullptr: none
};

TEST(PerlDialect, RewrittenExpressionsMatchAsPerlDoes)
{
    const std::vector<Row> rows = {
        {"a\\Nc", "a\nc abc", "abc"},
        {"(?P<n>a)b(?P=n)", "abab aba", "aba"},
        {"(?P<n>ab)(?P>n)", "ab abab", "abab"},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)\\10", "abcdefghijj", "abcdefghijj"},
        {"x\\101", "xA x\\101", "xA"},           // one group: an octal code
        {"(a)\\12", "a\n a\\12", "a\n"},         // likewise after a group
        {"(?<=a|bc)x", "bcx", "x"},
        {"(?<=a|bc)x", "cx bx", nullptr},
        {"(?<!a|bc)x", "ax bcx cx", "x"},
        {"(?<=(a)|(bc))x", "bcx", "x"},
        {"\\Qa.b*\\E+", "axb a.b** ", "a.b**"},
        {"[\\Q]\\E]", "x]", "]"},
        {"\\p{Lu}\\P{Lu}", "ab Ab", "Ab"},
        {"[\\p{Ll}]+", "AB cd", "cd"},
        {"(?C1)b", "ab", "b"},
        {"\\N{U+41}", "aA", "A"},
        {"\\c[\\N]", "a\x1bx]", "\x1bx]"},  // \c[ is ESC, no bracket
        {"(?<=a|b\\)c)x", "b)cx", "x"},
    };
    for (const Row& row : rows) {
        std::string translated, error;
        ASSERT_TRUE(RegexEngine::TranslatePerlDialect(row.expression, translated, error))
            << row.expression << ": " << error;
        boost::regex compiled;
        ASSERT_EQ(RegexEngine::CompileExpression(compiled, translated, kNormal, std::locale()), 0)
            << row.expression << " -> " << translated;
        boost::cmatch m;
        const bool found = boost::regex_search(row.subject, m, compiled);
        ASSERT_EQ(found, row.found != nullptr) << row.expression << " -> " << translated;
        if (found) {
            EXPECT_EQ(m.str(), row.found) << row.expression << " -> " << translated;
        }
    }
}

TEST(PerlDialect, WhatHasNoEquivalentIsRefusedByName)
{
    const std::vector<std::pair<const char*, const char*>> rows = {
        {"[\\N]", "\\N is not supported inside brackets"},
        {"\\N{LATIN SMALL LETTER A}", "\\N{...}"},
        {"(a)\\81", "\\81 refers to a group that does not exist"},
    };
    for (const auto& row : rows) {
        std::string translated = "unchanged", error;
        EXPECT_FALSE(RegexEngine::TranslatePerlDialect(row.first, translated, error)) << row.first;
        EXPECT_NE(error.find(row.second), std::string::npos) << row.first << ": " << error;
        EXPECT_EQ(translated, "unchanged");
    }
}

TEST(PerlDialect, TheNormalSyntaxPassesUnchanged)
{
    for (const char* expression : {"(a|b)*X", "\\bfoo\\d{2,3}(?=x)", "[^]a-z\\]]+", "(?<=ab)c", "\\g{-1}(x)\\1",
                                   "a\\Kb", "(?<n>x)\\k<n>"}) {
        std::string translated, error;
        ASSERT_TRUE(RegexEngine::TranslatePerlDialect(expression, translated, error)) << expression;
        EXPECT_EQ(translated, expression);
    }
}

}  // namespace

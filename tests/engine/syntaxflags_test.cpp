// Translation of legacy syntax words: one row per grammar choice and option,
// checked by how an expression then compiles and matches.
#include <gtest/gtest.h>

#include <string>

#include "Compilation.h"
#include "Syntaxflags.h"

namespace {

namespace rc = boost::regex_constants;
using namespace RegexEngine::LegacySyntax;

constexpr unsigned kNormal = 0x4107;
constexpr unsigned kExtended = 0x0106;
constexpr unsigned kBasic = 0x01CE;

// Behaviour: what each grammar makes of a few expressions.
struct BehaviourRow {
    unsigned legacy;
    const char* expression;
    const char* subject;
    bool compiles;
    bool matchesWhole;
};

class SyntaxBehaviour : public ::testing::TestWithParam<BehaviourRow> {};

TEST_P(SyntaxBehaviour, CompilesAndMatchesAsTheGrammarSays)
{
    const BehaviourRow& row = GetParam();
    boost::regex compiled;
    const int code = RegexEngine::CompileExpression(compiled, row.expression, row.legacy, std::locale());
    ASSERT_EQ(code == 0, row.compiles) << row.expression << " " << std::hex << row.legacy;
    if (row.compiles) {
        EXPECT_EQ(boost::regex_match(row.subject, compiled), row.matchesWhole)
            << row.expression << " on " << row.subject << " " << std::hex << row.legacy;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SyntaxBehaviour,
    ::testing::Values(
        // The normal syntax: escapes in sets, perl classes, back-references.
        BehaviourRow{kNormal, "[\\]]+", "]]", true, true},
        BehaviourRow{kNormal, "\\d+", "42", true, true},
        BehaviourRow{kNormal, "(a)\\1", "aa", true, true},
        BehaviourRow{kNormal | icase, "abc", "ABC", true, true},
        BehaviourRow{kNormal, "abc", "ABC", true, false},
        BehaviourRow{kNormal | newline_alt, "ab\ncd", "cd", true, true},
        // Extended: a backslash in a set is itself.
        BehaviourRow{kExtended, "[\\]+", "\\\\", true, true},
        BehaviourRow{kExtended, "a{2}", "aa", true, true},
        BehaviourRow{kExtended, "(a)\\1", "aa", true, true},
        // Basic: \( \) group, ( ) and + are ordinary, intervals are \{ \}.
        BehaviourRow{kBasic, "\\(ab\\)*", "abab", true, true},
        BehaviourRow{kBasic, "(a)", "(a)", true, true},
        BehaviourRow{kBasic, "a+", "a+", true, true},
        BehaviourRow{kBasic, "a\\{2\\}", "aa", true, true},
        BehaviourRow{kBasic, "\\(a\\)\\1", "aa", true, true},
        BehaviourRow{kBasic, "[[:digit:]]", "7", true, true},
        BehaviourRow{bk_parens, "[[:digit:]]", ":]", true, true},
        BehaviourRow{bk_parens, "a\\{2\\}", "a{2}", true, true},
        BehaviourRow{(kBasic & ~limited_ops) | bk_plus_qm, "a\\+", "aaa", true, true},
        BehaviourRow{(kBasic & ~limited_ops) | bk_vbar, "a\\|b", "b", true, true},
        BehaviourRow{kBasic | bk_vbar, "a\\|b", "a|b", true, true},
        // Literal: everything is text.
        BehaviourRow{literal | kNormal, "a+", "a+", true, true},
        BehaviourRow{literal | kNormal, "a+", "aa", true, false},
        BehaviourRow{literal | kNormal, "(", "(", true, true},
        // Errors are codes, never exceptions.
        BehaviourRow{kNormal, "(", "", false, false},
        BehaviourRow{kExtended, "a{2", "", false, false},
        BehaviourRow{kBasic, "\\(a", "", false, false}));

TEST(MatchFlagTranslation, LongestAlternativeWinsUnlessShortestIsAsked)
{
    boost::regex compiled;
    ASSERT_EQ(RegexEngine::CompileExpression(compiled, "a|ab", kNormal, std::locale()), 0);
    boost::cmatch m;
    ASSERT_TRUE(boost::regex_search("ab", m, compiled, RegexEngine::TranslateMatchFlags(0)));
    EXPECT_EQ(m.str(0), "ab");
    ASSERT_TRUE(boost::regex_search("ab", m, compiled, RegexEngine::TranslateMatchFlags(0x0400)));
    EXPECT_EQ(m.str(0), "a");
}

TEST(Compilation, ErrorTextIsTheEnginesMessageAndEmptyOnSuccess)
{
    boost::regex compiled;
    const int code = RegexEngine::CompileExpression(compiled, "(", kNormal, std::locale());
    ASSERT_NE(code, 0);
    EXPECT_EQ(compiled.status(), code);
    boost::regex_traits<char> traits;
    EXPECT_EQ(RegexEngine::CompilationErrorText(compiled),
              traits.error_string(static_cast<rc::error_type>(code)));
    EXPECT_FALSE(RegexEngine::CompilationErrorText(compiled).empty());

    ASSERT_EQ(RegexEngine::CompileExpression(compiled, "a", kNormal, std::locale()), 0);
    EXPECT_EQ(RegexEngine::CompilationErrorText(compiled), "");
}

TEST(Compilation, StopsAtTheFirstNulByte)
{
    boost::regex compiled;
    ASSERT_EQ(RegexEngine::CompileExpression(compiled, std::string("ab\0(", 4), kNormal, std::locale()), 0);
    EXPECT_TRUE(boost::regex_match("ab", compiled));
}

}  // namespace

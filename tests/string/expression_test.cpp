// Option sets on the object, lazy compilation, error codes and texts.
#include <gtest/gtest.h>

#include <locale>
#include <string>

#include "Regularexpressionclass.h"

namespace {

using RE = RegexClass::RegularExpression;
using namespace std::string_literals;

RE Compiled(const std::string& expression)
{
    RE re;
    re.SetExpression(expression);
    EXPECT_EQ(re.ParseExpression(), 0) << expression;
    return re;
}

TEST(Options, OnlyRealChangesMarkTheExpressionStale)
{
    RE re = Compiled("a");
    re.AddExpressionOption(RE::Intervals);  // present already
    re.DeleteExpressionOption(RE::Literals);  // absent
    re.AddMatchOption(RE::MatchNotEndOfLine);  // match options never touch compilation
    re.DeleteMatchOption(RE::MatchNotEndOfLine);
    re.ClearMatchOptions();
    EXPECT_TRUE(re.ExpressionParsed);

    re.AddExpressionOption(RE::CaseInsensitive);
    EXPECT_FALSE(re.ExpressionParsed);
    EXPECT_EQ(re.GetFlagOptions(), 0x6107u);

    re.ParseExpression();
    re.DeleteExpressionOption(RE::CaseInsensitive);
    EXPECT_FALSE(re.ExpressionParsed);

    re.ParseExpression();
    re.ClearExpressionOptions();
    EXPECT_FALSE(re.ExpressionParsed);
    EXPECT_EQ(re.GetFlagOptions(), 0u);
    re.ParseExpression();
    re.ClearExpressionOptions();  // already empty
    EXPECT_TRUE(re.ExpressionParsed);
}

TEST(Options, TheCompiledGrammarFollowsTheOptions)
{
    RE re;
    re.SetExpression("\\(a\\)+");
    re.SetStringToMatch("(a)+");
    EXPECT_FALSE(re.MatchAll());  // normal syntax: escaped parentheses are literals, + repeats
    re.AddExpressionOption(RE::Basic);
    re.SetStringToMatch("a+");
    EXPECT_TRUE(re.MatchAll());  // basic syntax: \( \) group, + is literal

    RE literal;
    literal.SetExpression("a+");
    literal.AddExpressionOption(RE::Literals);
    literal.SetStringToMatch("aa");
    EXPECT_FALSE(literal.Search());
    literal.SetStringToMatch("xa+");
    EXPECT_TRUE(literal.Search());
}

TEST(Compilation, ABadExpressionKeepsItsCodeUntilChanged)
{
    RE re;
    re.SetExpression("(");
    EXPECT_EQ(re.GetExpressionError(), "");  // not compiled yet
    const unsigned char code = re.ParseExpression();
    EXPECT_NE(code, 0);
    EXPECT_TRUE(re.ExpressionParsed);
    EXPECT_EQ(re.ParseExpression(), code);
    const std::string message = re.GetExpressionError();
    EXPECT_FALSE(message.empty());
    EXPECT_NE(message.find("parenthes"), std::string::npos) << message;
    re.SetStringToMatch("(");
    EXPECT_FALSE(re.Search());
    EXPECT_EQ(re.Grep(), 0u);

    re.SetExpression("a");
    EXPECT_EQ(re.GetExpressionError(), "");
    EXPECT_EQ(re.ParseExpression(), 0);
    EXPECT_EQ(re.GetExpressionError(), "");
}

TEST(Compilation, EmptyExpressionIsCodeOneWithoutCompiling)
{
    RE re;
    EXPECT_EQ(re.ParseExpression(), 1);
    EXPECT_FALSE(re.ExpressionParsed);
    EXPECT_EQ(re.GetExpressionError(), "");
    EXPECT_EQ(re.NumberOfSubexpressions(), 0);
    re.SetStringToMatch("abc");
    EXPECT_FALSE(re.Match());
    EXPECT_FALSE(re.MatchAll());
    EXPECT_FALSE(re.Search());
}

TEST(Compilation, SetExpressionAlwaysMarksStaleAndConvertKeepsTheLowByte)
{
    RE re = Compiled("a");
    re.SetExpression("a");
    EXPECT_FALSE(re.ExpressionParsed);
    EXPECT_EQ(re.ConvertREXResult(0x1234), 0x34);
}

TEST(Compilation, SubexpressionCounts)
{
    RE re;
    re.SetExpression("(a)(b)");
    const RE& constant = re;
    EXPECT_EQ(constant.NumberOfSubexpressions(), 0);
    EXPECT_EQ(re.NumberOfSubexpressions(), 2);
    EXPECT_EQ(constant.NumberOfSubexpressions(), 2);
    re.SetExpression("(((x)))|(y)");
    EXPECT_EQ(re.NumberOfSubexpressions(), 4);
    re.SetExpression("(");
    EXPECT_EQ(re.NumberOfSubexpressions(), 0);
}

TEST(Compilation, EmbeddedNulEndsTheExpressionButItCountsAsText)
{
    RE re;
    re.SetExpression("\0("s);
    EXPECT_NE(re.ParseExpression(), 1);
    EXPECT_TRUE(re.ExpressionParsed);
    re.SetExpression("b\0("s);
    EXPECT_EQ(re.ParseExpression(), 0);
    re.SetStringToMatch("abc");
    EXPECT_TRUE(re.Search());
}

TEST(Compilation, TheLocaleReachesTheEngineAtTheNextCompilationOnly)
{
    RE re = Compiled("a");
    // The engine tells locales apart by their character facets.
    const std::locale marked(std::locale::classic(), new std::ctype<char>);
    re.SetLocale(marked);
    EXPECT_TRUE(re.ExpressionParsed);
    EXPECT_TRUE(re.GetLocale() == marked);
    EXPECT_FALSE(re.CompiledExpression.getloc() == marked);
    re.SetExpression("a");
    ASSERT_EQ(re.ParseExpression(), 0);
    EXPECT_TRUE(re.CompiledExpression.getloc() == marked);
}

}  // namespace

namespace {

// A failed compilation says where (the byte offset at which the engine gave
// up) and names the construct where the engine's code would mislead: a bad
// \x{...} escape shares its code with a bad repeat range.
TEST(Compilation, ErrorsSayWhereAndNameTheConstruct)
{
    struct Row {
        const char* expression;
        long position;
        const char* message;
    };
    const Row rows[] = {
        {"ab(cd", 5, "Unmatched marking parenthesis ( or \\(."},
        {"a{2,1}", 4, "Invalid content of repeat range."},
        {"x\\x{e9}", 1, "Hexadecimal escape sequence was invalid."},
        {"[ab", 3, "Unmatched [ or [^ in character class declaration."},
        {"abc", -1, ""},
    };
    for (const Row& row : rows) {
        RegexClass::RegularExpression re;
        re.SetExpression(row.expression);
        EXPECT_EQ(re.GetExpressionErrorPosition(), -1) << row.expression << ": not compiled yet";
        re.ParseExpression();
        EXPECT_EQ(re.GetExpressionErrorPosition(), row.position) << row.expression;
        EXPECT_EQ(re.GetExpressionError(), row.message) << row.expression;
    }
}

}  // namespace

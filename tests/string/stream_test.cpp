// The stream operators on the object.
#include <gtest/gtest.h>

#include <locale>
#include <sstream>
#include <string>

#include "Recorder.h"

namespace {

using namespace testsupport;
using RE = RegexClass::RegularExpression;
using namespace std::string_literals;

std::string Written(const RE& re)
{
    std::ostringstream os;
    os << re;
    return os.str();
}

TEST(Stream, DefaultObjectWritesTheSeventeenNumbers)
{
    EXPECT_EQ(Written(RE()), "1 6 0 1 2 8 12 15 1 0 0 0 0 0 0 0 0");
    RE re;
    re.SetExpression("ab");
    EXPECT_EQ(Written(re), "1 6 0 1 2 8 12 15 1 0 0 0 2 ab 0 0 0 0");
    re.SetSaveExtension(".bak");
    EXPECT_EQ(Written(re), "1 6 0 1 2 8 12 15 1 0 0 0 2 ab 0 0 0 4 .bak");
}

TEST(Stream, ReadingRestoresSettingsAndKeepsLocaleAndHandlers)
{
    RE re;
    re.AddExpressionOption(RE::Basic);
    re.AddMatchOption(RE::MatchNotEndOfLine);
    re.SetExpression("x");
    re.SetMergeCopy(true);
    Recorder r;
    re.SetOnSearchingClosure(RegexClass::Bind(&r, &Recorder::Matching));
    const std::locale global;
    std::istringstream is("1 6 0 1 2 8 12 15 1 0 0 0 0 0 0 0 0");
    is >> re;
    ASSERT_FALSE(is.fail());
    EXPECT_TRUE(re == RE());
    EXPECT_TRUE(re.GetLocale() == global);
    EXPECT_TRUE(re.GetOnSearchingClosure().IsSet());
}

TEST(Stream, RoundTripComparesEqualAndRecompiles)
{
    RE source;
    source.SetExpression(" (a b)\t");
    source.SetStringToMatch("line one\nline two\r\n ");
    source.SetFilesToMatch(" dir/*.txt ");
    source.SetFormatString("\n");
    source.SetSaveExtension(".b k");
    source.SetDirectoryRecursion(true);
    source.AddMatchOption(RE::MatchShortest);

    RE target;
    target.SetExpression("other");
    ASSERT_EQ(target.ParseExpression(), 0);
    std::istringstream is(Written(source));
    is >> target;
    ASSERT_FALSE(is.fail());
    EXPECT_TRUE(target == source);
    EXPECT_FALSE(target.ExpressionParsed);
    target.SetStringToMatch("x a b\t");
    EXPECT_TRUE(target.Search());
}

TEST(Stream, TruncatedAndGarbageStreamsFailAndChangeNothing)
{
    RE source;
    source.SetExpression("abc");
    source.SetSaveExtension("x");
    const std::string text = Written(source);
    for (const std::string& bad : {text.substr(0, text.size() - 1), text.substr(0, 10), "garbage"s,
                                   "1 2 0 1 1 0 0 0 99999999 abc"s}) {
        RE target;
        target.SetExpression("kept");
        ASSERT_EQ(target.ParseExpression(), 0);
        std::istringstream is(bad);
        is >> target;
        EXPECT_TRUE(is.fail()) << bad;
        EXPECT_EQ(target.GetExpression(), "kept") << bad;
        EXPECT_TRUE(target.ExpressionParsed) << bad;
    }
}

}  // namespace

// The settings record over a minimal object: exact text, round trips, and
// truncated or garbage streams.
#include <gtest/gtest.h>

#include <locale>
#include <set>
#include <sstream>
#include <string>

#include "Settingsstream.h"

namespace {

using namespace std::string_literals;

struct Settings {
    std::set<unsigned char> ExpressionOptions{0, 1, 2, 8, 12, 15};
    std::set<unsigned char> MatchOptions{0};
    bool DirectoryRecursion = false;
    bool MergeCopy = false;
    std::string Expression, StringToMatch, FilesToMatch, FormatString, SaveExtension;
    bool ExpressionParsed = true;

    bool operator==(const Settings& o) const
    {
        return ExpressionOptions == o.ExpressionOptions && MatchOptions == o.MatchOptions &&
               DirectoryRecursion == o.DirectoryRecursion && MergeCopy == o.MergeCopy &&
               Expression == o.Expression && StringToMatch == o.StringToMatch && FilesToMatch == o.FilesToMatch &&
               FormatString == o.FormatString && SaveExtension == o.SaveExtension;
    }
};

std::string Write(const Settings& s)
{
    std::ostringstream os;
    RegexEngine::WriteSettings(os, s, 1);
    return os.str();
}

TEST(SettingsStream, NulCutsAString)
{
    std::istringstream is("1 0 1 0 1 1 5 a\0bcd 0 0 0 0"s);
    Settings s;
    ASSERT_TRUE(RegexEngine::ReadSettings(is, s));
    EXPECT_EQ(s.Expression, "a");
    EXPECT_TRUE(s.ExpressionOptions.empty());
    EXPECT_TRUE(s.DirectoryRecursion);
}

TEST(SettingsStream, EveryTruncationFailsAndLeavesTheObjectAlone)
{
    Settings full;
    full.Expression = "abc";
    full.StringToMatch = "hello world";
    full.SaveExtension = "bak";
    const std::string text = Write(full);
    for (std::size_t cut = 0; cut < text.size(); ++cut) {
        std::istringstream is(text.substr(0, cut));
        Settings target;
        target.Expression = "untouched";
        RegexEngine::ReadSettings(is, target);
        EXPECT_TRUE(is.fail()) << "cut at " << cut;
        EXPECT_EQ(target.Expression, "untouched") << "cut at " << cut;
        EXPECT_TRUE(target.ExpressionParsed) << "cut at " << cut;
    }
}

TEST(SettingsStream, GarbageAndHugeLengthsFailWithoutHugeWork)
{
    const char* garbage[] = {
        "x",
        "1 -3 0 1 0 0 0 0 0 0",                     // negative count
        "1 2147483647 1 2 3",                       // count larger than the stream
        "1 0 1 0 2 0 0 0 0 0 0",                    // flag that is not 0 or 1
        "1 0 1 0 0 0 4294967295 abc",               // length larger than the stream
        "1 0 1 0 0 0 3000000000 ",                  // same, nothing after the separator
        "1 0 1 0 0 0 0 0 0 0 9",                    // last string missing
        "1 0 1 0 0 0 q",                            // letters for a length
    };
    for (const char* text : garbage) {
        std::istringstream is(text);
        Settings target;
        target.FormatString = "kept";
        RegexEngine::ReadSettings(is, target);
        EXPECT_TRUE(is.fail()) << text;
        EXPECT_EQ(target.FormatString, "kept") << text;
    }
}

TEST(SettingsStream, StopsAtTheFailedTokenWithoutConsumingTheRest)
{
    std::istringstream is("1 x 0 tail");
    Settings target;
    RegexEngine::ReadSettings(is, target);
    ASSERT_TRUE(is.fail());
    is.clear();
    std::string rest;
    std::getline(is, rest);
    EXPECT_EQ(rest, "x 0 tail");
}

}  // namespace

namespace {

// Groups digits by threes with a dot, as many European locales do.
struct Grouping : std::numpunct<char> {
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

// Numbers are written and read in the classic locale, whatever the stream's
// locale and number flags; the stream keeps its own.
TEST(SettingsStream, NumbersIgnoreTheStreamsLocaleAndFlags)
{
    const std::locale grouping(std::locale::classic(), new Grouping);
    Settings full;
    full.Expression = std::string(1500, 'x');
    full.FormatString = std::string(2000, 'y');
    full.DirectoryRecursion = true;

    std::ostringstream os;
    os.imbue(grouping);
    os << std::showpos << std::boolalpha;
    RegexEngine::WriteSettings(os, full, 1);
    EXPECT_EQ(os.str().substr(0, 36), "1 6 0 1 2 8 12 15 1 0 1 0 1500 xxxxx");
    EXPECT_EQ(os.getloc(), grouping);
    EXPECT_TRUE(os.flags() & std::ios::showpos);

    for (const bool readerGroups : {false, true}) {
        std::istringstream is(os.str());
        if (readerGroups)
            is.imbue(grouping);
        is >> std::hex;
        Settings read;
        read.Expression = "before";
        ASSERT_TRUE(RegexEngine::ReadSettings(is, read)) << readerGroups;
        EXPECT_TRUE(read == full) << readerGroups;
    }
}

// Versions and values the reader does not know fail the stream and leave the
// object as it was.
TEST(SettingsStream, UnknownVersionsAndValuesFail)
{
    const char* const rows[] = {
        "7 0 0 0 0 3 abc 0 0 0 0",     // a version no writer wrote
        "0 0 0 0 0 3 abc 0 0 0 0",     // version 0
        "1 1 16 0 0 0 3 abc 0 0 0 0",  // compile option 16
        "1 1 -1 0 0 0 3 abc 0 0 0 0",  // a negative option
        "1 0 1 12 0 0 3 abc 0 0 0 0",  // match option 12
        "1 1 256 0 0 0 3 abc 0 0 0 0", // option 0 in its low byte
        "1 0 0 2 0 3 abc 0 0 0 0",     // recursion 2
    };
    for (const char* row : rows) {
        std::istringstream is(row);
        Settings target;
        target.Expression = "untouched";
        RegexEngine::ReadSettings(is, target);
        EXPECT_TRUE(is.fail()) << row;
        EXPECT_EQ(target.Expression, "untouched") << row;
        EXPECT_EQ(target.ExpressionOptions, (std::set<unsigned char>{0, 1, 2, 8, 12, 15})) << row;
    }
    std::istringstream current("3 0 0 0 0 3 abc 0 0 0 0");
    Settings target;
    EXPECT_TRUE(RegexEngine::ReadSettings(current, target, 3)) << "the writer's current version";
    EXPECT_EQ(target.Expression, "abc");
}

}  // namespace

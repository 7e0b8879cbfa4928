// AnsiString and System::Set: construction, access, comparison and bit layout.
#include "Ansistring.h"
#include "Frameworkset.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

using System::AnsiString;

TEST(FrameworkAnsiString, StopsAtTheFirstNul)
{
    struct Row {
        AnsiString made;
        std::string expected;
    };
    const std::string withNul("ab\0cd", 5);
    const Row rows[] = {
        {AnsiString("abc"), "abc"},
        {AnsiString(static_cast<const char*>(nullptr)), ""},
        {AnsiString(""), ""},
        {AnsiString("ab\0cd", 5), "ab"},
        {AnsiString("abcdef", 3), "abc"},
        {AnsiString(withNul), "ab"},
        {AnsiString(std::string("\0x", 2)), ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.made.ToStdString(), row.expected);
        EXPECT_EQ(row.made.Length(), static_cast<int>(row.expected.size()));
        EXPECT_EQ(std::strlen(row.made.c_str()), row.expected.size());
        EXPECT_EQ(row.made.IsEmpty(), row.expected.empty());
    }
}

TEST(FrameworkAnsiString, CharactersAreNumberedFromOne)
{
    const AnsiString s("xyz");
    EXPECT_EQ(s[1], 'x');
    EXPECT_EQ(s[3], 'z');
    EXPECT_THROW(s[0], Vcl::ERangeError);
    EXPECT_THROW(s[4], Vcl::ERangeError);
    EXPECT_THROW(AnsiString()[1], Vcl::ERangeError);
}

TEST(FrameworkAnsiString, ComparesByteWise)
{
    EXPECT_TRUE(AnsiString("abc") == "abc");
    EXPECT_TRUE(AnsiString("abc") != "abd");
    EXPECT_TRUE(AnsiString("abc") < "abd");
    EXPECT_TRUE(AnsiString("ab") < "abc");
    EXPECT_TRUE(AnsiString("B") < "a");  // no letter-case folding
    EXPECT_TRUE(AnsiString("\xE9") > "z");
    EXPECT_LT(AnsiString("a").Compare("b"), 0);
    EXPECT_EQ(AnsiString("a").Compare("a"), 0);
    EXPECT_EQ(AnsiString("ab") + "cd", "abcd");
}

enum class Opt : signed char { B0, B1, B2, B3, B4, B5, B6, B7, B8, B9, B10, B11, B12, B13, B14, B15 };
using Options = System::Set<Opt, 0, 15>;
using Small = System::Set<Opt, 0, 11>;

TEST(FrameworkSet, InsertRemoveContains)
{
    Options s;
    EXPECT_TRUE(s.Empty());
    s << Opt::B0 << Opt::B8 << Opt::B15;
    EXPECT_TRUE(s.Contains(Opt::B0));
    EXPECT_TRUE(s.Contains(Opt::B8));
    EXPECT_TRUE(s.Contains(Opt::B15));
    EXPECT_FALSE(s.Contains(Opt::B7));
    s >> Opt::B8 >> Opt::B7;  // removing an absent value changes nothing
    EXPECT_FALSE(s.Contains(Opt::B8));
    EXPECT_EQ(s, (Options{Opt::B0, Opt::B15}));
    EXPECT_NE(s, (Options{Opt::B0}));
    EXPECT_TRUE(s.Clear().Empty());
}

TEST(FrameworkSet, ValueWithOrdinalNIsBitN)
{
    // The default compile options of the expression object, as a word.
    const Options defaults{Opt::B0, Opt::B1, Opt::B2, Opt::B8, Opt::B12, Opt::B15};
    EXPECT_EQ(defaults.ToInt(), 0x9107u);
    EXPECT_EQ(Options::StorageBytes, 2);
    EXPECT_EQ(sizeof(Options), 2u);
    EXPECT_EQ(sizeof(Small), 2u);
    EXPECT_EQ(defaults.Data()[0], 0x07);
    EXPECT_EQ(defaults.Data()[1], 0x91);
    // The storage read as a 16-bit word on this little-endian host.
    std::uint16_t word = 0;
    std::memcpy(&word, &defaults, sizeof word);
    EXPECT_EQ(word, 0x9107);

    for (int n = 0; n <= 15; ++n) {
        const Options one{static_cast<Opt>(n)};
        EXPECT_EQ(one.ToInt(), 1u << n) << n;
        EXPECT_EQ(Options::FromInt(1u << n), one) << n;
    }
}

TEST(FrameworkSet, FromIntDropsBitsOutsideTheRange)
{
    const Small s = Small::FromInt(0xFFFFu);
    EXPECT_EQ(s.ToInt(), 0x0FFFu);
    EXPECT_TRUE(s.Contains(Opt::B11));
    EXPECT_FALSE(s.Contains(Opt::B12));
}

TEST(FrameworkSet, OutOfRangeValuesAreRefused)
{
    Small s;
    EXPECT_THROW(s << Opt::B12, Vcl::ERangeError);
    EXPECT_THROW(s >> Opt::B15, Vcl::ERangeError);
    EXPECT_THROW(s << static_cast<Opt>(-1), Vcl::ERangeError);
    EXPECT_FALSE(s.Contains(Opt::B12));
    EXPECT_TRUE(s.Empty());
}

TEST(FrameworkSet, UnionDifferenceIntersection)
{
    const Options a{Opt::B1, Opt::B2, Opt::B9};
    const Options b{Opt::B2, Opt::B10};
    EXPECT_EQ((a + b).ToInt(), 0x0606u);
    EXPECT_EQ((a - b).ToInt(), 0x0202u);
    EXPECT_EQ((a * b).ToInt(), 0x0004u);
}

}  // namespace

// The Unicode (UTF-8) mode of the string operations: whole code points,
// Unicode classes and case folding, byte offsets, invalid UTF-8.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Recorder.h"

namespace {

using RE = RegexClass::RegularExpression;
using Spans = std::vector<std::pair<int, int>>;  // byte position, byte length

RE Unicode(const std::string& expression, bool ignoreCase = false)
{
    RE re;
    re.SetUnicode(true);
    re.SetExpression(expression);
    if (ignoreCase)
        re.AddExpressionOption(RE::CaseInsensitive);
    return re;
}

// Every match Grep reports through its handler.
Spans GrepSpans(RE& re, const std::string& subject)
{
    testsupport::Recorder r;
    re.SetStringToMatch(subject);
    re.SetOnGreppingClosure(RegexClass::Bind(&r, &testsupport::Recorder::Grepping));
    const unsigned count = re.Grep();
    re.SetOnGreppingClosure(RE::GreppingEventClosure());
    Spans spans;
    for (const auto& e : r.events)
        spans.emplace_back(e.matches[0].Position, static_cast<int>(e.matches[0].Text.size()));
    EXPECT_EQ(count, spans.size());
    return spans;
}

// The tests of what the mode does; a build without the Unicode engine skips
// them (and refuses the mode, see the last test).
class UnicodeMode : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!RE::IsUnicodeAvailable())
            GTEST_SKIP() << "no Unicode engine in this build";
    }
};

struct Row {
    const char* expression;
    bool ignoreCase;
    std::string subject;
    Spans expected;
};

TEST_F(UnicodeMode, MatchesWholeCodePointsWithUnicodeClassesAndCase)
{
    const Row rows[] = {
        {".", false, "café", {{0, 1}, {1, 1}, {2, 1}, {3, 2}}},
        {"[éè]", false, "crème brûlée", {{2, 2}, {12, 2}}},
        {"[^a]", false, "aéa", {{1, 2}}},
        {"\\W", false, "a€b", {{1, 3}}},
        {"\\S+", false, "日本 語", {{0, 6}, {7, 3}}},
        {"\\D", false, "1é", {{1, 2}}},
        {".{3}é", false, "日本語é", {{0, 11}}},
        {"école", true, "ÉCOLE école", {{0, 6}, {7, 6}}},
        {"привет", true, "ПРИВЕТ", {{0, 12}}},
        {"σ", true, "ΣσςΑ", {{0, 2}, {2, 2}, {4, 2}}},
        {"ß", true, "ẞ", {{0, 3}}},
        {"ա", true, "Ա", {{0, 2}}},
        {"\\x{e9}", false, "café", {{3, 2}}},
        {"\\x{1F600}", false, "a😀", {{1, 4}}},
        {"\\p{L}+", false, "naïve 123 Ωμέγα", {{0, 6}, {11, 10}}},
        {"\\p{Lu}", false, "aÉb", {{1, 2}}},
        {"\\p{Greek}+", false, "abc αβγ def", {{4, 6}}},
        {"\\P{Greek}+", false, "αβa", {{4, 1}}},
        {"\\p{Greek}+", true, "ΣΊΣ abc σί", {{0, 6}, {11, 4}}},
        {"\\P{Greek}+", true, "αβa", {{4, 1}}},
        {"[\\p{Cyrillic}x]+", false, "ax жx b", {{1, 1}, {3, 3}}},
        {"[\\P{Greek}\\p{Cyrillic}]+", false, "αa ж€β", {{2, 7}}},
        {"[^\\p{Greek}x]+", false, "αxé€β", {{3, 5}}},
        {"[^\\P{Greek}]+", false, "aαβ b", {{1, 4}}},
        {"[\\P{Greek}\\P{Latin}]+", false, "aα", {{0, 3}}},
        {"\\p{Greek}\\P{Greek}\\p{Greek}", false, "αaβ αβγ", {{0, 5}}},
        {"\\p{Greek}+", true, "µΜμ", {{2, 4}}},
        {"(?i)\\p{Greek}", false, "aΣ", {{1, 2}}},
        {"(?i)\\p{Greek}\\p{Greek}", false, "aΣ αμ", {{4, 4}}},
        {"[\\p{Greek}]+", true, "ΣσςΑ a", {{0, 8}}},
        {"[\\P{Greek}]+", true, "aΣb", {{0, 1}, {3, 1}}},
        {"[^\\p{Greek}x]+", true, "αXé", {{3, 2}}},
        {"[\\p{Greek}]", true, "µ", {{0, 2}}},  // folds to μ (\\p{Greek} alone: not)
        {"\\pL+|\\p{S}", false, "é€1", {{0, 2}, {2, 3}}},
        // One-letter categories, with and without braces, and categories
        // inside bracket expressions (where the engine reads \p as p).
        {"\\pL+", false, "aΣb1", {{0, 4}}},
        {"\\PL", false, "aΣ1", {{3, 1}}},
        {"\\pN+", false, "x1²Ⅻ", {{1, 6}}},
        {"\\p{Z}", false, "a b\t\xE2\x80\xA8", {{1, 1}, {4, 3}}},
        {"\\p{P}|\\p{M}|\\p{C}", false, "a,+e\xCC\x81\t", {{1, 1}, {4, 2}, {6, 1}}},
        {"[\\p{L}]+", false, "aΣ1b", {{0, 3}, {4, 1}}},
        {"[\\p{Lu}x]+", false, "xΣaÉ", {{0, 3}, {4, 2}}},
        {"[^\\p{L}\\p{N}]+", false, "a, 1²", {{1, 2}}},
        {"[\\PL]", false, "a1", {{1, 1}}},
        {"[\\pN]", false, "a²", {{1, 2}}},
        {"K", true, "\xE2\x84\xAA", {{0, 3}}},
        {"\\bt\\b", false, "été t", {{6, 1}}},
        {"\\<\\w", false, "ça va", {{0, 2}, {4, 1}}},
        {"\\w+", false, "héllo wörld", {{0, 6}, {7, 6}}},
        {"[[:alpha:]]+", false, "Größe1", {{0, 7}}},
        {"\\d+", false, "x٣٤y", {{1, 4}}},
        {"\\s", false, "a\xE2\x80\x83" "b", {{1, 3}}},
        {"^é", false, "a\né", {{2, 2}}},
        {"x*", false, "é", {{0, 0}, {2, 0}}},
        // Invalid UTF-8: nothing matches a broken sequence, the text around
        // it is still searched, and it is no line edge.
        {".", false, "a\xFF" "b", {{0, 1}, {2, 1}}},
        {"a.b", false, "a\xFF" "b", {}},
        {".+", false, "ab\xE2\x82" "cd", {{0, 2}, {4, 2}}},
        {"[^x]+", false, "é\xC3" "é", {{0, 2}, {3, 2}}},
        {"^c", false, "\xFF" "c", {}},
        {"b$", false, "ab\xFF", {}},
        {"\\bc", false, "\xFF" "c", {{1, 1}}},
        {"x*", false, "\xFF", {{0, 0}, {1, 0}}},
        {"é", true, "\xED\xA0\x80É\xF4\x90\x80\x80", {{3, 2}}},
    };
    for (const Row& row : rows) {
        RE re = Unicode(row.expression, row.ignoreCase);
        ASSERT_EQ(re.ParseExpression(), 0) << row.expression << ": " << re.GetExpressionError();
        EXPECT_EQ(GrepSpans(re, row.subject), row.expected) << row.expression << " on " << row.subject;
        // Grep without a handler counts the same matches.
        RE counter = Unicode(row.expression, row.ignoreCase);
        counter.SetStringToMatch(row.subject);
        EXPECT_EQ(counter.Grep(), row.expected.size()) << row.expression << " on " << row.subject;
    }
}

// Scripts are compiled as classes of the expression's own (one mask bit
// each, while bits are free); an expression holding U+10FFFF keeps them as
// code point ranges. Both give the same matches, with case ignored or not,
// inside and outside bracket expressions, and past the free bits.
TEST_F(UnicodeMode, ScriptClassesMatchAsTheirRanges)
{
    std::string subject;  // code points of many scripts, astral ones too
    const auto append = [&subject](std::uint32_t c) {
        if (c < 0x80) {
            subject += static_cast<char>(c);
        } else if (c < 0x800) {
            subject += static_cast<char>(0xC0 | (c >> 6));
            subject += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            subject += static_cast<char>(0xE0 | (c >> 12));
            subject += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            subject += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            subject += static_cast<char>(0xF0 | (c >> 18));
            subject += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            subject += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            subject += static_cast<char>(0x80 | (c & 0x3F));
        }
    };
    for (std::uint32_t c = 0x20; c < 0x3100; c += 3)
        append(c);
    for (std::uint32_t c : {0x1E9Eu, 0x2126u, 0x212Au, 0xAC00u, 0xFF21u, 0x10300u, 0x10330u, 0x1D6A8u, 0x20000u})
        append(c);
    const char* const scripts[] = {"Latin",    "Greek",    "Cyrillic", "Armenian",   "Hebrew",   "Arabic",
                                   "Syriac",   "Thaana",   "Devanagari", "Bengali",  "Gurmukhi", "Gujarati",
                                   "Oriya",    "Tamil",    "Telugu",   "Kannada",    "Malayalam", "Sinhala",
                                   "Thai",     "Lao",      "Tibetan",  "Myanmar",    "Georgian", "Hangul",
                                   "Ethiopic", "Cherokee", "Ogham",    "Runic",      "Khmer",    "Mongolian",
                                   "Hiragana", "Katakana", "Han",      "Old_Italic", "Gothic"};
    std::string manyInSet = "[";
    std::string manyNegated;
    for (const char* script : scripts) {
        manyInSet += std::string("\\p{") + script + "}";
        manyNegated += std::string(manyNegated.empty() ? "" : "|") + "\\P{" + script + "}\\p{" + script + "}";
    }
    manyInSet += "]{2}";
    const std::string expressions[] = {
        "\\p{Greek}+", "\\P{Greek}+", "\\p{Latin}\\p{Common}", "(?:\\p{Greek}|\\p{Cyrillic})\\P{Latin}", manyNegated,
        // bracket expressions: only where case counts (ignoring case, the
        // engine folds the ends of their ranges, which for some scripts
        // turns a range around: no compilation to compare with)
        "[^\\p{Latin}\\p{Cyrillic}]+", "[\\p{Han}\\d]+", "[\\p{Greek}a-f]{2}", manyInSet};
    for (bool ignoreCase : {false, true}) {
        for (const std::string& expression : expressions) {
            if (ignoreCase && expression[0] == '[')
                continue;  // see above
            RE own = Unicode(expression, ignoreCase);
            RE ranges = Unicode("(?:" + expression + ")|\xF4\x8F\xBF\xBF", ignoreCase);
            ASSERT_EQ(own.ParseExpression(), 0) << expression << ": " << own.GetExpressionError();
            ASSERT_EQ(ranges.ParseExpression(), 0) << expression << ": " << ranges.GetExpressionError();
            const Spans expected = GrepSpans(ranges, subject);
            EXPECT_FALSE(expected.empty()) << expression;
            EXPECT_EQ(GrepSpans(own, subject), expected) << expression << (ignoreCase ? " ignoring case" : "");
        }
    }
}

TEST_F(UnicodeMode, SingleMatchesAndSubMatchesCountBytes)
{
    RE re = Unicode("(é)(\\w)");
    re.SetStringToMatch("aéb");
    re.SetFormatString("[$2$1]");
    testsupport::Recorder r;
    re.SetOnSearchingClosure(RegexClass::Bind(&r, &testsupport::Recorder::Matching));
    ASSERT_TRUE(re.Search());
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].formatted, "[bé]");
    const auto& seen = r.events[0].current;
    ASSERT_EQ(seen.size(), 5u);  // whole, two groups, prefix, suffix
    EXPECT_EQ(seen[0].Text, "éb");
    EXPECT_EQ(seen[0].Position, 1);
    EXPECT_EQ(seen[2].Position, 3);
    EXPECT_EQ(seen[4].Text, "");
    EXPECT_EQ(seen[3].Text, "a");

    const struct {
        const char* expression;
        std::string subject;
        bool match, matchAll, search;
    } rows[] = {
        {".", "é", true, true, true},
        {"..", "é", false, false, false},
        {"\\w+", "ÉTÉ", true, true, true},
        {"é", "\xFF" "é", false, false, true},
        {".*", "a\xFF", true, false, true},
    };
    for (const auto& row : rows) {
        RE plain = Unicode(row.expression);
        plain.SetStringToMatch(row.subject);
        EXPECT_EQ(plain.Match(), row.match) << row.expression;
        EXPECT_EQ(plain.MatchAll(), row.matchAll) << row.expression;
        EXPECT_EQ(plain.Search(), row.search) << row.expression;
    }
}

TEST_F(UnicodeMode, MergeWritesValidUtf8)
{
    const struct {
        const char* expression;
        bool ignoreCase;
        std::string format, subject, expected;
    } rows[] = {
        {"[éè]", false, "e", "crème brûlée", "creme brûlee"},
        {"(\\w+)", false, "<$1>", "héllo wörld", "<héllo> <wörld>"},
        {"É", true, "E", "été", "EtE"},
        {".", false, "x", "a\xFF" "é", "x\xFFx"},
        {"x*", false, "-", "éa", "-é-a-"},
    };
    for (const auto& row : rows) {
        for (const bool withHandler : {false, true}) {
            RE re = Unicode(row.expression, row.ignoreCase);
            re.SetStringToMatch(row.subject);
            re.SetFormatString(row.format);
            re.SetMergeCopy(true);
            testsupport::Recorder r;
            if (withHandler)
                re.SetOnMergingClosure(RegexClass::Bind(&r, &testsupport::Recorder::Grepping));
            std::string out;
            re.Merge(out);
            EXPECT_EQ(out, row.expected) << row.expression << (withHandler ? " with handler" : "");
        }
    }
}

TEST_F(UnicodeMode, OffByDefaultAndTravelsWithCopies)
{
    RE bytes;
    EXPECT_FALSE(bytes.GetUnicode());
    bytes.SetExpression(".");
    bytes.SetStringToMatch("é");
    EXPECT_EQ(bytes.Grep(), 2u);  // byte mode: one match per byte

    bytes.SetUnicode(true);  // recompiles
    EXPECT_EQ(bytes.Grep(), 1u);
    RE copy(bytes);
    EXPECT_TRUE(copy.GetUnicode());
    EXPECT_EQ(copy.Grep(), 1u);
    EXPECT_TRUE(copy == bytes);
    copy.SetUnicode(false);
    EXPECT_FALSE(copy == bytes);
    EXPECT_EQ(copy.Grep(), 2u);
}

TEST_F(UnicodeMode, RefusesWhatItCannotCompile)
{
    const struct {
        std::string expression;
        const char* message;  // part of GetExpressionError()
    } rows[] = {
        {"caf\xE9", "not valid UTF-8"},
        {"(?i)[\\P{Greek}a]", "bracket expression"},
        {"[\\p{Foo}]", "class name"},
        {"(", ""},
    };
    for (const auto& row : rows) {
        RE re = Unicode(row.expression);
        EXPECT_NE(re.ParseExpression(), 0) << row.expression;
        EXPECT_NE(re.GetExpressionError().find(row.message), std::string::npos) << re.GetExpressionError();
        re.SetStringToMatch("café");
        EXPECT_FALSE(re.Search());
        EXPECT_EQ(re.GetMatchError(), "");
    }
}

// What a build's Unicode data cannot give is refused with its reason, never
// matched differently: equivalence classes and character names match as ICU
// matches them, or (on the generated tables) do not compile.
TEST_F(UnicodeMode, MatchesAsIcuOrRefusesCharacterNamesAndEquivalenceClasses)
{
    const struct {
        const char* expression;
        const char* refusal;  // part of GetExpressionError() when refused
        Spans expected;       // in "école e", when compiled
    } rows[] = {
        {"[[=e=]]", "Equivalence classes", {{0, 2}, {5, 1}, {7, 1}}},
        {"[[.LATIN SMALL LETTER E WITH ACUTE.]]", "character names", {{0, 2}}},
        {"[[.space.]]", nullptr, {{6, 1}}},  // a POSIX name, in every build
    };
    for (const auto& row : rows) {
        RE re = Unicode(row.expression);
        if (re.ParseExpression() != 0) {
            ASSERT_NE(row.refusal, nullptr) << row.expression << ": " << re.GetExpressionError();
            EXPECT_NE(re.GetExpressionError().find(row.refusal), std::string::npos) << re.GetExpressionError();
            EXPECT_NE(re.GetExpressionError().find("not available in this build"), std::string::npos);
            continue;
        }
        EXPECT_EQ(GrepSpans(re, "école e"), row.expected) << row.expression;
    }
}

// On ASCII text both modes find the same matches; on random text with
// multi-byte characters and broken sequences the Unicode mode never throws,
// and every match starts and ends on a character and holds only valid UTF-8.
TEST_F(UnicodeMode, AgreesWithByteModeOnAsciiAndNeverSplitsCharacters)
{
    const char* expressions[] = {"a.c", "[a-c]+", "\\w+", "^b|c$", "x*", "(a|ab)(c|bcd)", "[^ab]{2}", "\\bb\\w*"};
    const char* pieces[] = {"a", "b", "c", "d", " ", "\n", "é", "ж", "語", "😀", "\xFF", "\xE2\x82", "\x80"};
    std::mt19937 random(20261209);
    for (int round = 0; round < 200; ++round) {
        std::string ascii;
        std::string mixed;
        const int length = static_cast<int>(random() % 24);
        for (int i = 0; i < length; ++i) {
            ascii += pieces[random() % 6];
            mixed += pieces[random() % (sizeof pieces / sizeof *pieces)];
        }
        for (const char* expression : expressions) {
            RE bytes;
            bytes.SetExpression(expression);
            RE unicode = Unicode(expression);
            EXPECT_EQ(GrepSpans(unicode, ascii), GrepSpans(bytes, ascii)) << expression << " on " << ascii;

            for (const auto& span : GrepSpans(unicode, mixed)) {
                const std::string part = mixed.substr(static_cast<std::size_t>(span.first),
                                                      static_cast<std::size_t>(span.second));
                // Valid UTF-8 from end to end, so it neither starts nor
                // ends inside a character.
                RE valid = Unicode("\\A[\\s\\S]*\\z");
                valid.SetStringToMatch(part);
                EXPECT_TRUE(valid.Search()) << expression << " split a character in " << mixed;
            }
            EXPECT_EQ(unicode.GetMatchError(), "");
        }
    }
}

TEST(UnicodeUnavailable, EveryExpressionIsRefusedClearly)
{
    if (RE::IsUnicodeAvailable())
        GTEST_SKIP() << "this build has the Unicode engine";
    RE re = Unicode(".");
    re.SetStringToMatch("é");
    EXPECT_NE(re.ParseExpression(), 0);
    EXPECT_EQ(re.GetExpressionError(), "Unicode mode is not available in this build");
    EXPECT_FALSE(re.Search());
    EXPECT_EQ(re.Grep(), 0u);
    re.SetUnicode(false);
    EXPECT_EQ(re.Grep(), 2u);
}

}  // namespace

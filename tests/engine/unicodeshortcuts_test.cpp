// The Unicode mode's shortcuts (the byte-mode twin for ASCII subjects, the
// literal plan with case variants) against the Unicode engine's own grep,
// over generated UTF-8 expressions and subjects; and a table of the cases
// where a literal in byte mode would say less than the mode matches.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Differential.h"
#include "Syntaxflags.h"
#include "Unicodeexpression.h"
#include "Unicodeprefilter.h"

using namespace RegexEngine;

namespace {

constexpr unsigned normalSyntax = LegacySyntax::escape_in_lists | LegacySyntax::char_classes |
                                  LegacySyntax::intervals | LegacySyntax::bk_refs;

std::string Show(const std::string& s)
{
    std::string out;
    for (const char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u >= 0x80) {
            static const char digits[] = "0123456789ABCDEF";
            out += "\\x";
            out += digits[u >> 4];
            out += digits[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// The engine's grep of the whole subject with its stretches read through the
// decoding iterator rather than decoded beforehand: run from the handler of
// another grep on the same thread, which holds the thread's decoded buffer.
bool NestedReference(const UnicodeExpression& e, const std::string& subject, unsigned flags,
                     Differential::Matches& out, bool lines = false, bool firstOfLine = false)
{
    static const auto outer = UnicodeExpression::Compile("a", normalSyntax);
    const char text[] = "a";
    bool ok = false;
    std::string error;
    outer->Grep(text, text + 1, boost::match_default,
                [&](const boost::cmatch&) {
                    ok = Differential::UnicodeReference(e, subject, flags, lines, out, firstOfLine);
                    return false;
                },
                error);
    return ok && error.empty();
}

}  // namespace

TEST(UnicodeShortcuts, GiveTheUnicodeEnginesMatchesForGeneratedExpressions)
{
    if (!UnicodeAvailable())
        GTEST_SKIP() << "no Unicode engine in this build";
    const char* seedText = std::getenv("QUORVEX_DIFFERENTIAL_SEED");
    const char* roundsText = std::getenv("QUORVEX_DIFFERENTIAL_ROUNDS");
    Differential::Generator generate(seedText ? static_cast<std::uint32_t>(std::atoi(seedText)) : 20261209u, true);
    const int rounds = roundsText ? std::atoi(roundsText) : 1500;
    unsigned compared = 0, twin = 0, plain = 0, required = 0, prefiltered = 0;
    for (int n = 0; n < rounds; ++n) {
        const std::string text = generate.Expression();
        const bool icase = generate.Pick(3) == 0;
        const auto e = UnicodeExpression::Compile(text, normalSyntax | (icase ? LegacySyntax::icase : 0u));
        if (e->Status() != 0)
            continue;
        const UnicodeShortcuts& shortcuts = e->Shortcuts();
        // The searcher's pattern with its automaton prefilter for one
        // expression in four (compiling the automaton is the slow part).
        unsigned status = 0;
        const auto pattern = n % 4 == 0 ? UnicodePattern(e, status) : nullptr;
        prefiltered += pattern && pattern->prefilter;
        for (int k = 0; k < 4; ++k) {
            const unsigned flags = generate.Flags();
            const std::string subject = generate.Subject();
            const bool ascii = IsAscii(subject.data(), subject.data() + subject.size());
            twin += shortcuts.hasAscii && ascii;
            plain += shortcuts.plan && shortcuts.plan->plain && !ascii;
            required += shortcuts.plan && shortcuts.plan->required && !ascii;
            const auto where = [&](int mode) {
                return "/" + Show(text) + "/ icase " + std::to_string(icase) + " flags " + std::to_string(flags) +
                       " mode " + std::to_string(mode) + " on \"" + Show(subject) + "\"";
            };
            for (const int mode : {0, 1, 2}) {  // whole buffer, lines, first match of each line
                const bool lines = mode != 0, first = mode == 2;
                Differential::Matches expected, got;
                if (!Differential::UnicodeReference(*e, subject, flags, lines, expected, first))
                    continue;
                ++compared;
                ASSERT_TRUE(Differential::UnicodeSearcher(*e, subject, flags, lines, got, first)) << where(mode);
                ASSERT_EQ(got, expected) << where(mode);
                if (mode != 0) {
                    if (!pattern)
                        continue;
                    got.clear();
                    ASSERT_TRUE(Differential::UnicodePrefiltered(*pattern, subject, flags, got, first)) << where(mode);
                    ASSERT_EQ(got, expected) << where(mode) << " prefilter " << (pattern->prefilter != nullptr);
                    continue;
                }
                got.clear();
                ASSERT_TRUE(NestedReference(*e, subject, flags, got)) << where(mode);
                ASSERT_EQ(got, expected) << where(mode) << " through the iterator";
                unsigned counted = 0;
                got.clear();
                ASSERT_TRUE(Differential::UnicodeStringRoutes(*e, subject, flags, got, counted)) << where(mode);
                ASSERT_EQ(got, expected) << where(mode);
                ASSERT_EQ(counted, expected.size()) << where(mode);
            }
            for (const Anchoring anchoring : {Anchoring::AtStart, Anchoring::Whole, Anchoring::Anywhere}) {
                boost::cmatch expected, got;
                std::string error;
                const char* first = subject.data();
                const char* last = first + subject.size();
                const auto f = static_cast<boost::match_flag_type>(flags);
                const bool found = e->Match(first, last, f, anchoring, expected, error);
                if (!error.empty())
                    continue;
                ASSERT_EQ(MatchUnicode(*e, first, last, f, anchoring, got, error), found) << where(9);
                if (found) {
                    ASSERT_EQ(got[0].first, expected[0].first) << where(9);
                    ASSERT_EQ(got[0].second, expected[0].second) << where(9);
                }
            }
        }
    }
    if (rounds < 1500)
        return;
    // Each shortcut must have had its share, or the comparison proves little.
    EXPECT_GT(compared, 10000u);
    EXPECT_GT(twin, 300u);
    EXPECT_GT(plain, 100u);
    EXPECT_GT(required, 300u);
    if (AutomatonPrefilter::Available()) {
        EXPECT_GT(prefiltered, 50u);
    }
}

// Rows where the bytes of a literal say less than the mode matches: classes
// that hold other scripts' members, and case variants outside ASCII.
TEST(UnicodeShortcuts, FindWhatTheModeMatchesBeyondTheLiteralsBytes)
{
    if (!UnicodeAvailable())
        GTEST_SKIP() << "no Unicode engine in this build";
    struct Row {
        const char* expression;
        bool icase;
        const char* subject;
        std::vector<std::uint64_t> spans;  // start, end of each match (line mode)
    };
    const Row rows[] = {
        {"\\d", false, "x\xD9\xA3\nab\n", {1, 3}},                            // Arabic-Indic three
        {"a\\d", false, "a\xD9\xA3 a1\n", {0, 3, 4, 6}},
        {"[[:digit:]]", false, "\xD9\xA3", {0, 2}},
        {"x\\s", false, "x\xC2\xA0y\n", {0, 3}},                               // no-break space
        {"\xC3\xA9" "cole", true, "\xC3\x89" "COLE \xC3\xA9" "cole", {0, 6, 7, 13}},
        {"k", true, "\xE2\x84\xAA K k", {0, 3, 4, 5, 6, 7}},                   // Kelvin sign
        {"as", true, "a\xC5\xBF AS", {0, 3, 4, 6}},                             // long s
        {"\xCF\x83", true, "\xCE\xA3 \xCF\x82 \xCF\x83", {0, 2, 3, 5, 6, 8}},   // sigma
        {"\xC3\x9F", true, "\xE1\xBA\x9E", {0, 3}},                             // capital sharp s
        {"\xC3\xA9" "cole|k", true, "\xC3\x89" "COLE \xE2\x84\xAA \xC3\xA9" "cole\n\xC3 ks", {0, 6, 7, 10, 11, 17, 20, 21}},
        {"\xC3\xA9{2}", false, "\xC3\xA9\xC3\xA9 \xC3\xA9\xA9", {0, 4}},
    };
    for (const Row& row : rows) {
        const auto e = UnicodeExpression::Compile(row.expression, normalSyntax | (row.icase ? LegacySyntax::icase : 0u));
        ASSERT_EQ(e->Status(), 0) << row.expression;
        const std::string subject = row.subject;
        for (const bool lines : {false, true}) {
            Differential::Matches got;
            ASSERT_TRUE(Differential::UnicodeSearcher(*e, subject, 0, lines, got));
            std::vector<std::uint64_t> spans;
            for (const auto& m : got)
                spans.insert(spans.end(), m.begin(), m.begin() + 2);
            EXPECT_EQ(spans, row.spans) << Show(row.expression) << " lines " << lines;
            unsigned counted = 0;
            got.clear();
            ASSERT_TRUE(Differential::UnicodeStringRoutes(*e, subject, 0, got, counted));
            EXPECT_EQ(counted, row.spans.size() / 2) << Show(row.expression);
        }
    }
}

// The automaton prefilter of the mode: the lines it lets through must hold
// every match of the engine, over classes of several scripts, their
// negations, case variants and broken sequences. Each row must get a
// prefilter (the translation understands it) and a few must skip lines.
TEST(UnicodeShortcuts, PrefilterLetsThroughEveryLineTheEngineMatches)
{
    if (!UnicodeAvailable())
        GTEST_SKIP() << "no Unicode engine in this build";
    struct Row {
        const char* expression;
        bool icase;
    };
    const Row rows[] = {
        {"\\p{Greek}+", false},
        {"\\p{Cyrillic}{2}", false},
        {"[^\\p{Greek}\\s\\w]", false},
        {"\\P{L}\\p{Lu}", false},
        {".{3}\xC3\xA9", false},
        {"\\w+\xD0\xBE\xD1\x81\xD1\x82\xD1\x8C\\b", false},
        {"\\d\\D", false},
        {"\\S\\s\\S", false},
        {"[\xC3\xA9\xC3\xA8-\xC3\xAB]x?", false},
        {"[^a-z\xD0\xB0-\xD1\x8F]{2}", false},
        {"[\\x{391}-\\x{3A9}][[:lower:]]", false},
        {"[[:upper:]][[:punct:]]", false},
        {"\\x{1F600}|\\x{E9}.", false},
        {"\xCF\x83.", true},
        {"\xC3\xA9" "cole|stra\xC3\x9F", true},
        {"k[\xC3\xA9" "a-c]", true},
        {"\\p{Greek}\\W", true},
        {"(\xCE\xB1|b)\\1", false},
        {"\\Q\xCE\xB1.\\E[\\s\xCE\xB2]", true},
        {"\\Q\xCE\xB1\xCE\xB2\\E{2}!", false},  // the repeat takes the last quoted character
    };
    // Lines of several scripts, case variants, and invalid bytes next to
    // characters (a lone lead byte, a stray continuation, a surrogate, an
    // overlong form, a truncated four-byte sequence).
    const std::string subject =
        "\xCE\x9B\xCF\x8C\xCE\xB3\xCE\xBF\xCF\x82 \xCE\xB1\xCE\xB1 x\n"
        "\xD0\xB3\xD0\xBE\xD1\x80\xD0\xBE\xD1\x81\xD1\x82\xD1\x8C \xD0\x9C\xD0\xB8\xD1\x80\n"
        "caf\xC3\xA9 \xC3\x89" "COLE STRASSE \xE2\x84\xAA\xC3\x89 \xC3\xAB\n"
        "ab\xC3 \xC3\xA9\x80\xC3\xA9 \xED\xA0\x80\xCF\x83\xC0\xAF\xCE\xA3 \xF0\x9F\x98\n"
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E 12\xD9\xA3 \xF0\x9F\x98\x80\xC3\xA9!\n"
        "plain ascii line, nothing else 42\n"
        "\xCE\xB1.\xCE\xB2 \xCE\x91.  \xCE\xB1\xCE\xB1\xCE\xB1\n"
        "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 \xCE\xA3\xCE\xB1!? \xC2\xA0\xE2\x80\xA8\n"
        "\xCE\xB1\xCE\xB2\xCE\xB2!\n"
        "\x80\x80\xC3\xA9\xCF\x82\xC3";
    unsigned skipping = 0;
    for (const Row& row : rows) {
        const auto e = UnicodeExpression::Compile(row.expression, normalSyntax | (row.icase ? LegacySyntax::icase : 0u));
        ASSERT_EQ(e->Status(), 0) << Show(row.expression);
        std::string bytes;
        EXPECT_TRUE(UnicodeToByteExpression(row.expression, normalSyntax | (row.icase ? LegacySyntax::icase : 0u), bytes))
            << Show(row.expression);
        unsigned status = 0;
        const auto pattern = UnicodePattern(e, status);
        ASSERT_TRUE(pattern);
        // The searcher takes the prefilter where it has no literal to use.
        if (AutomatonPrefilter::Available()) {
            EXPECT_EQ(pattern->prefilter != nullptr, NoUsableLiteral(pattern->plan.get(), lineModeFlag))
                << Show(row.expression);
        }
        Differential::Matches expected;
        for (const bool first : {false, true}) {
            Differential::Matches got;
            expected.clear();
            ASSERT_TRUE(Differential::UnicodeReference(*e, subject, 0, true, expected, first));
            ASSERT_TRUE(Differential::UnicodePrefiltered(*pattern, subject, 0, got, first));
            EXPECT_EQ(got, expected) << Show(row.expression) << " first " << first;
        }
        // The prefilter itself, literal or not: every match's line is one
        // of its candidates.
        const auto prefilter = BuildUnicodePrefilter(*e);
        if (!AutomatonPrefilter::Available())
            continue;
        ASSERT_TRUE(prefilter) << Show(row.expression) << " as " << bytes;
        std::vector<std::pair<std::size_t, std::size_t>> lines;
        ASSERT_TRUE(prefilter->CandidateLines(subject.data(), subject.size(), lines));
        std::size_t kept = 0;
        for (const auto& line : lines)
            kept += line.second - line.first;
        skipping += kept < subject.size() / 2;
        for (const auto& match : expected) {
            const bool candidate = std::any_of(lines.begin(), lines.end(), [&](const std::pair<std::size_t, std::size_t>& l) {
                return match[0] >= l.first && match[1] <= l.second;
            });
            EXPECT_TRUE(candidate) << Show(row.expression) << " as " << bytes << " misses the match at " << match[0];
        }
    }
    if (AutomatonPrefilter::Available()) {
        EXPECT_GT(skipping, 8u);
    }
}

// A valid stretch too long to decode beforehand is read through the decoding
// iterator: the same matches, byte offsets past the decoding limit included.
TEST(UnicodeShortcuts, LongStretchesGiveTheSameMatches)
{
    if (!UnicodeAvailable())
        GTEST_SKIP() << "no Unicode engine in this build";
    std::string subject;
    for (int i = 0; i < 600000; ++i)
        subject += "\xC3\xA9";  // é
    subject += "\xCE\xB1\xCE\xB2\xFF\xC3\xA9";  // αβ, a broken byte, é
    const struct {
        const char* expression;
        Differential::Matches expected;
    } rows[] = {
        {"\\p{Greek}+", {{1200000, 1200004}}},
        {"\xC3\xA9+", {{0, 1200000}, {1200005, 1200007}}},
        {"(?<=\xC3\xA9)\xCE\xB1|.$", {{1200000, 1200002}, {1200005, 1200007}}},
    };
    for (const auto& row : rows) {
        const auto e = UnicodeExpression::Compile(row.expression, normalSyntax);
        ASSERT_EQ(e->Status(), 0) << row.expression;
        Differential::Matches got;
        ASSERT_TRUE(Differential::UnicodeReference(*e, subject, boost::match_default, false, got));
        EXPECT_EQ(got, row.expected) << row.expression;
    }
}

// An expression that begins with a script class is started at the first code
// point of the script (the text before it as the previous text): the same
// matches as the engine's run from the stretch's start, which the iterator
// path (NestedReference) makes, with every flag, in lines and whole.
TEST(UnicodeShortcuts, StartingAtTheFirstScriptCodePointGivesTheSameMatches)
{
    if (!UnicodeAvailable())
        GTEST_SKIP() << "no Unicode engine in this build";
    Differential::Generator generate(20261210u, true);
    const char* const expressions[] = {
        "\\p{Greek}+", "\\p{Greek}\\b", "\\p{Greek}\\B.", "\\P{Latin}{2}", "\\p{Cyrillic}+$", "\\P{Greek}.*",
        "\\p{Latin}+\\>", "\\p{Greek}{1,3}?", "\\p{Greek}?a", "\\p{Greek}*", "\\p{Greek}{0,2}s", "\\p{Han}\\p{Han}",
        "\\p{Greek}\\s*$", "\\p{Latin}(?<=a)"};
    unsigned compared = 0;
    for (const char* expression : expressions) {
        const auto e = UnicodeExpression::Compile(expression, normalSyntax);
        ASSERT_EQ(e->Status(), 0) << expression;
        for (int k = 0; k < 300; ++k) {
            const unsigned flags = generate.Flags();
            const std::string subject = generate.Subject();
            for (const int mode : {0, 1, 2}) {
                Differential::Matches expected, got;
                if (!NestedReference(*e, subject, flags, expected, mode != 0, mode == 2))
                    continue;
                ++compared;
                ASSERT_TRUE(Differential::UnicodeReference(*e, subject, flags, mode != 0, got, mode == 2));
                ASSERT_EQ(got, expected) << "/" << expression << "/ flags " << flags << " mode " << mode << " on \""
                                         << Show(subject) << "\"";
            }
        }
    }
    EXPECT_GT(compared, 10000u);
}

// The ASCII check decides between the byte-mode twin and the engine: one byte
// above 0x7F anywhere, in any length of text (the vector loop's rounds and
// the overlapping last round included), must be seen.
TEST(UnicodeShortcuts, AsciiCheckSeesEveryHighByte)
{
    std::string text(300 + 1, 'a');
    for (std::size_t length = 0; length <= 300; ++length) {
        const char* first = text.data() + 1;  // not aligned to the vector width
        ASSERT_TRUE(IsAscii(first, first + length)) << length;
        for (std::size_t at = 0; at < length; ++at) {
            for (const char high : {'\x80', '\xFF'}) {
                text[1 + at] = high;
                ASSERT_FALSE(IsAscii(first, first + length)) << "length " << length << " at " << at;
            }
            text[1 + at] = 'a';
        }
    }
}

namespace {

// `e` (compiled from `expression`) against the same expression inside a
// non-capturing group, which keeps every start shortcut away and leaves the
// engine's own search: the same matches and sub-matches over each subject,
// with no flags and three generated flag sets, over the whole subject, its
// lines and the first match of each line, through Grep and the file searcher.
void CompareWithTheEnginesOwnSearch(const UnicodeExpression& e, const std::string& expression, unsigned syntax,
                                    const std::vector<std::string>& subjects, Differential::Generator& generate,
                                    unsigned& compared)
{
    const auto reference = UnicodeExpression::Compile("(?:" + expression + ")", syntax);
    ASSERT_EQ(reference->Status(), 0) << expression;
    std::size_t width = 0;
    std::string text;
    ASSERT_FALSE(reference->StartsBeforeText(width, text) || reference->StartsInWordsAround(text)) << expression;
    for (const std::string& subject : subjects) {
        for (int k = 0; k < 4; ++k) {
            const unsigned flags = k == 0 ? 0u : generate.Flags();
            for (const int mode : {0, 1, 2}) {
                Differential::Matches expected, got, searched;
                const auto where = [&] {
                    return "/" + Show(expression) + "/ flags " + std::to_string(flags) + " mode " +
                           std::to_string(mode) + " on \"" + Show(subject) + "\"";
                };
                if (!Differential::UnicodeReference(*reference, subject, flags, mode != 0, expected, mode == 2))
                    continue;
                ++compared;
                ASSERT_TRUE(Differential::UnicodeReference(e, subject, flags, mode != 0, got, mode == 2)) << where();
                ASSERT_EQ(got, expected) << where();
                ASSERT_TRUE(Differential::UnicodeSearcher(e, subject, flags, mode != 0, searched, mode == 2))
                    << where();
                ASSERT_EQ(searched, expected) << where();
            }
        }
    }
}

}  // namespace

// An expression whose matches start a fixed number of code points before a
// literal text is run by the engine only at those starts: the same matches
// (spans and sub-matches, every flag, whole, in lines and first of each line,
// through the file searcher too) as the engine's own search, which the same
// expression inside a non-capturing group gets. Rows where widths vary, case
// is ignored or the start may move are left to the engine's own search.
TEST(UnicodeShortcuts, StartingBeforeALiteralTextGivesTheSameMatches)
{
    if (!UnicodeAvailable())
        GTEST_SKIP() << "no Unicode engine in this build";
    const struct {
        const char* expression;
        unsigned syntax;
        int width;  // -1: the start is not taken from the text
        const char* text;
    } rows[] = {
        {".{3}\xC3\xA9", normalSyntax, 3, "\xC3\xA9"},
        {"..\xC3\xA9", normalSyntax, 2, "\xC3\xA9"},
        {"a.{2}\xC3\xA9" "a", normalSyntax, 3, "\xC3\xA9" "a"},  // the longer text
        {"\\w{2}\xC3\xA9(\\w*)", normalSyntax, 2, "\xC3\xA9"},
        {"[^a]\\p{Greek}\xC3\xA9\\b", normalSyntax, 2, "\xC3\xA9"},
        {"\\x{3B1}[[:alpha:]]{0}\\s\xC3\xA9", normalSyntax, 2, "\xC3\xA9"},
        {"\xC3\xA9.{2}", normalSyntax, 0, "\xC3\xA9"},
        {".{2}\\.", normalSyntax, 2, "."},
        {".{3}\xC3\xA9" "a*", normalSyntax, 3, "\xC3\xA9"},
        {"\\d.\xC3\xA9$", normalSyntax, 2, "\xC3\xA9"},
        {".{2}\xC3\xA9.*", normalSyntax, 2, "\xC3\xA9"},
        {".{2,3}\xC3\xA9", normalSyntax, -1, ""},
        {"(a|bc)\xC3\xA9", normalSyntax, -1, ""},
        {"\\X\xC3\xA9", normalSyntax, -1, ""},
        {".{3}\xC3\xA9", normalSyntax | LegacySyntax::icase, -1, ""},
        {"(?i).{3}\xC3\xA9", normalSyntax, -1, ""},
        {".{3}\xC3\xA9*", normalSyntax, -1, ""},
        {".+\xC3\xA9", normalSyntax, -1, ""},
        {".{3}\\K\xC3\xA9", normalSyntax, -1, ""},
        {".{3}\xC3\xA9|x", normalSyntax, -1, ""},
        {"[[.a.]]\xC3\xA9", normalSyntax, -1, ""},
        {".{3}\xC3\xA9", LegacySyntax::char_classes | LegacySyntax::intervals, -1, ""},
        {".{3}", normalSyntax, -1, ""},
    };
    // Lines, broken sequences before the text, the text at a line's start or
    // within its width of it, CRLF, overlapping candidates.
    std::vector<std::string> subjects = {
        "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", "abc\xC3\xA9", "\xC3\xA9", "a\xC3\xA9" "ab\xC3\xA9",
        "\xFF" "ab\xC3\xA9", "ab\xFF" "cd\xC3\xA9", "a\ncd\xC3\xA9\n\xC3\xA9x", "abc\r\n\xC3\xA9", "xyz\xC3\xA9\r\n",
        "\xCE\xB1\xCE\xB2 \xC3\xA9 \xCE\xB4\xCE\xB5\xCE\xB6\xC3\xA9" "a", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xC3\xA9",
        "ab\xE2\x82\xC3\xA9", "\xC3\xA9\xA9\xC3\xA9", "abc\xC3\xA9" "a.b.c. abc\xC3\xA9" "aa",
        "\xF0\x9F\x98\x80" "a1 \xC3\xA9\xC3\xA9\xC3\xA9\r\n12\t\xC3\xA9\xC3\xA9", "\xCE\xB1\xCE\xB1\xCE\xB1\xC3\xA9",
        "x\xCE\xB1 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"};
    Differential::Generator generate(20261211u, true);
    for (int i = 0; i < 200; ++i)
        subjects.push_back(generate.Subject() + "\xCE\xB1\xCE\xB2\xC3\xA9" + generate.Subject());
    unsigned compared = 0;
    for (const auto& row : rows) {
        const auto e = UnicodeExpression::Compile(row.expression, row.syntax);
        ASSERT_EQ(e->Status(), 0) << row.expression;
        std::size_t width = 0;
        std::string text;
        ASSERT_EQ(e->StartsBeforeText(width, text), row.width >= 0) << row.expression;
        if (row.width >= 0) {
            EXPECT_EQ(width, static_cast<std::size_t>(row.width)) << row.expression;
            EXPECT_EQ(text, row.text) << row.expression;
        }
        if ((row.syntax & LegacySyntax::escape_in_lists) == 0)
            continue;  // no non-capturing group in that syntax
        CompareWithTheEnginesOwnSearch(*e, row.expression, row.syntax, subjects, generate, compared);
    }
    EXPECT_GT(compared, 50000u);
    // Generated expressions that take the start from a text, against the
    // same expression in a group.
    const char* seedText = std::getenv("QUORVEX_DIFFERENTIAL_SEED");
    const char* roundsText = std::getenv("QUORVEX_DIFFERENTIAL_ROUNDS");
    Differential::Generator expressions(seedText ? static_cast<std::uint32_t>(std::atoi(seedText)) : 20261212u, true);
    const int rounds = roundsText ? std::atoi(roundsText) : 3000;
    unsigned taken = 0;
    for (int n = 0; n < rounds; ++n) {
        const std::string expression = expressions.Expression();
        const auto e = UnicodeExpression::Compile(expression, normalSyntax);
        std::size_t width = 0;
        std::string text;
        if (e->Status() != 0 || !e->StartsBeforeText(width, text))
            continue;
        ++taken;
        const auto reference = UnicodeExpression::Compile("(?:" + expression + ")", normalSyntax);
        ASSERT_EQ(reference->Status(), 0) << Show(expression);
        for (int k = 0; k < 8; ++k) {
            const unsigned flags = expressions.Flags();
            const std::string subject = expressions.Subject() + text + expressions.Subject();
            for (const int mode : {0, 1, 2}) {
                Differential::Matches expected, got;
                if (!Differential::UnicodeReference(*reference, subject, flags, mode != 0, expected, mode == 2))
                    continue;
                ASSERT_TRUE(Differential::UnicodeReference(*e, subject, flags, mode != 0, got, mode == 2));
                ASSERT_EQ(got, expected) << "/" << Show(expression) << "/ flags " << flags << " mode " << mode
                                         << " on \"" << Show(subject) << "\"";
            }
        }
    }
    if (rounds >= 3000) {
        EXPECT_GT(taken, 100u);
    }
}

// An expression whose matches hold word code points only and a literal text
// starts the engine at the run of word code points before each occurrence of
// the text: the same matches as the engine's own search. Rows with anything
// that may hold other code points, or with case ignored, keep that search.
TEST(UnicodeShortcuts, StartingAtTheWordAroundALiteralTextGivesTheSameMatches)
{
    if (!UnicodeAvailable())
        GTEST_SKIP() << "no Unicode engine in this build";
    const struct {
        const char* expression;
        unsigned syntax;
        const char* text;  // null: not taken from words
    } rows[] = {
        {"\\w+\u043e\u0441\u0442\u044c\\b", normalSyntax, "\u043e\u0441\u0442\u044c"},
        {"\\w+\u043e\u0441\u0442\u044c", normalSyntax, "\u043e\u0441\u0442\u044c"},
        {"\\w*\u043e\u0441\u0442\u044c\\w*", normalSyntax, "\u043e\u0441\u0442\u044c"},
        {"\\b\u043f\u0440\\w+?", normalSyntax, "\u043f\u0440"},
        {"(\\w)\\w*ab(\\w{2,})\\>", normalSyntax, "ab"},
        {"\\<x\\w{2,}yz_\\B", normalSyntax, "yz_"},
        {"\\w+o?ing\\b", normalSyntax, "ing"},
        {"\\w+\u043e\u0441\u0442\u044c\\s", normalSyntax, nullptr},
        {"\\w+-ab", normalSyntax, nullptr},
        {"\\w+ab|x", normalSyntax, nullptr},
        {"\\w+ab", normalSyntax | LegacySyntax::icase, nullptr},
        {"(?i)\\w+ab", normalSyntax, nullptr},
        {"\\w+ab.", normalSyntax, nullptr},
        {"[a-z]+ab", normalSyntax, nullptr},
        {"\\d+ab", normalSyntax, nullptr},
        {"(ab)?\\w+", normalSyntax, nullptr},
    };
    // Words around the text, the text at a line's start, inside a longer
    // word, after digits and underscores, before a combining mark (a word
    // code point), beside broken sequences and CRLF.
    std::vector<std::string> subjects = {
        "\u0440\u0430\u0434\u043e\u0441\u0442\u044c \u0433\u043b\u0443\u0431\u043e\u0441\u0442\u044c\n\u043e\u0441\u0442\u044c\u044f \u043e\u0441\u0442\u044c",
        "\u043e\u0441\u0442\u044c\u0430 \u0440\u0430\u0434\u043e\u0441\u0442\u044c, 12\u043e\u0441\u0442\u044c _\u043e\u0441\u0442\u044c_",
        "\u0440\u0430\u0434\u043e\u0441\u0442\u044c\u0301 \u0441\u0442\u044c\u043e\u0441\u0442\u044c\u043e\u0441\u0442\u044c\r\n",
        "\u0440\u0430\xFF\u0434\u043e\u0441\u0442\u044c \u0440\u0430\u0434\xC3\u043e\u0441\u0442\u044c\xFF",
        "\u043f\u0440\u0438 \u043f\u0440 \u0441\u043f\u0440\u0430\u0432\u043a\u0430 \u043f\u0440\u0430\u0432\u043e",
        "abab xab ab\u00e9ab \u03b1ab\u03b2 ab\r\nabb aab_ab ab12ab",
        "xayz_ xyyz_ xaayz_a xa\u00e9yz_ \u00e9xabyz_ xa yz_",
        "sing going doing ing oing \u00e9ing ingo ing\xFF g\u00f6ing",
    };
    Differential::Generator generate(20261213u, true);
    for (int i = 0; i < 200; ++i)
        subjects.push_back(generate.Subject() + " \u043e\u0441\u0442\u044c" + generate.Subject() + "ab" +
                           generate.Subject());
    unsigned compared = 0;
    for (const auto& row : rows) {
        const auto e = UnicodeExpression::Compile(row.expression, row.syntax);
        ASSERT_EQ(e->Status(), 0) << row.expression;
        std::string text;
        ASSERT_EQ(e->StartsInWordsAround(text), row.text != nullptr) << row.expression;
        if (row.text != nullptr) {
            EXPECT_EQ(text, row.text) << row.expression;
        }
        CompareWithTheEnginesOwnSearch(*e, row.expression, row.syntax, subjects, generate, compared);
    }
    EXPECT_GT(compared, 30000u);
}

// The byte-mode twin is compiled apart from the engine and has its own
// complexity budget: where it gives up on an ASCII subject and the engine
// does not, every route still gives the engine's answer. (Inputs the
// generated comparison found.)
TEST(UnicodeShortcuts, TwinGivesWayWhereItsBudgetEnds)
{
    if (!UnicodeAvailable())
        GTEST_SKIP() << "no Unicode engine in this build";
    const auto bytes = [](const char* text, std::size_t size) { return std::string(text, size); };
    const struct {
        const char* expression;
        unsigned flags;
        std::string subject;
    } rows[] = {
        {"((?:\\D*))+?k{2}|\\1", 131072u, "Baing\x0D\n.Aac.\nAB"},
        {"(?:.{2,})+@|a", 0u, "abcsing\x0D\nsing1ab_\n\n\x0D\x0C\n\nsingAc1a\n"},
        {"a|(.(\\w+?){1,3}){1,3}\\d\\.", 0u, bytes(".c.xababBingabc -\nB\n\na@abab\x00\n", 29)},
    };
    unsigned compared = 0;
    for (const auto& row : rows) {
        const auto e = UnicodeExpression::Compile(row.expression, normalSyntax);
        ASSERT_EQ(e->Status(), 0) << row.expression;
        const std::string& subject = row.subject;
        const char* first = subject.data();
        const char* last = first + subject.size();
        const auto f = static_cast<boost::match_flag_type>(row.flags);
        for (const Anchoring anchoring : {Anchoring::AtStart, Anchoring::Whole, Anchoring::Anywhere}) {
            boost::cmatch expected, got;
            std::string engineError, error;
            const bool found = e->Match(first, last, f, anchoring, expected, engineError);
            ASSERT_TRUE(engineError.empty()) << row.expression;
            const bool gotFound = MatchUnicode(*e, first, last, f, anchoring, got, error);
            EXPECT_EQ(gotFound, found) << row.expression << " " << error;
            if (found && gotFound) {
                EXPECT_EQ(got[0].first, expected[0].first) << row.expression;
                EXPECT_EQ(got[0].second, expected[0].second) << row.expression;
            }
        }
        for (const int mode : {0, 1}) {
            Differential::Matches expected, got;
            if (!Differential::UnicodeReference(*e, subject, row.flags, mode != 0, expected))
                continue;  // the engine gives up too
            ++compared;
            EXPECT_TRUE(Differential::UnicodeSearcher(*e, subject, row.flags, mode != 0, got)) << row.expression;
            EXPECT_EQ(got, expected) << row.expression << " mode " << mode;
            if (mode != 0)
                continue;
            got.clear();
            unsigned counted = 0;
            EXPECT_TRUE(Differential::UnicodeStringRoutes(*e, subject, row.flags, got, counted)) << row.expression;
            EXPECT_EQ(got, expected) << row.expression;
            EXPECT_EQ(counted, expected.size()) << row.expression;
        }
    }
    EXPECT_GE(compared, 2u);
}

// The Unicode mode's shortcuts (the byte-mode twin for ASCII subjects, the
// literal plan with case variants) against the Unicode engine's own grep,
// over generated UTF-8 expressions and subjects; and a table of the cases
// where a literal in byte mode would say less than the mode matches.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Differential.h"
#include "Syntaxflags.h"
#include "Unicodeexpression.h"

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

}  // namespace

TEST(UnicodeShortcuts, GiveTheUnicodeEnginesMatchesForGeneratedExpressions)
{
    if (!UnicodeAvailable())
        GTEST_SKIP() << "no Unicode engine in this build";
    const char* seedText = std::getenv("QUORVEX_DIFFERENTIAL_SEED");
    const char* roundsText = std::getenv("QUORVEX_DIFFERENTIAL_ROUNDS");
    Differential::Generator generate(seedText ? static_cast<std::uint32_t>(std::atoi(seedText)) : 20261209u, true);
    const int rounds = roundsText ? std::atoi(roundsText) : 1500;
    unsigned compared = 0, twin = 0, plain = 0, required = 0;
    for (int n = 0; n < rounds; ++n) {
        const std::string text = generate.Expression();
        const bool icase = generate.Pick(3) == 0;
        const auto e = UnicodeExpression::Compile(text, normalSyntax | (icase ? LegacySyntax::icase : 0u));
        if (e->Status() != 0)
            continue;
        const UnicodeShortcuts& shortcuts = e->Shortcuts();
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
                if (mode != 0)
                    continue;
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

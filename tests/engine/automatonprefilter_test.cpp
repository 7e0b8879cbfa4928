// The automaton prefilter: the lines it lets through must hold every line the
// engine matches, where the automaton over-approximates (back-references,
// look-around) and where assertions answer at the edges of lines and blocks.
#include <string>
#include <vector>

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include "Automatonprefilter.h"
#include "Differential.h"
#include "Filesearcher.h"

using namespace RegexEngine;

namespace {

struct Row {
    const char* expression;
    bool icase;
    const char* subject;
};

// Subject lines that put digits, letters and their neighbours at the start
// and end of lines, next to carriage returns, vertical tabs and form feeds.
const char* const subjectText =
    "abc123\n123abc\nab12\n  aab1 \n1\n\nx9y\r\nABC123\r\nzz99zz\n\v7\n\f8\fq\n"
    "aa11bb\nword 42 word\n42\n(42)\nabcdef012345\n0123456789ab\nxx\n";

const Row rows[] = {
    // Back-references: the automaton knows no group contents.
    {"([a-z])\\1[0-9]", false, subjectText},
    {"([0-9])\\1", false, subjectText},
    {"(a|b)\\1[0-9]", true, subjectText},
    {"b([A-Z])*\\1", false, subjectText},   // a group that took no part matches empty
    // Look-around.
    {"[0-9](?=[a-z])", false, subjectText},
    {"(?<=[a-z])[0-9]{2}", false, subjectText},
    {"[0-9](?![0-9])", false, subjectText},
    {"(?<![a-z])[0-9]+", false, subjectText},
    // Word edges at the start and end of lines and of the subject.
    {"\\b[0-9]{2}\\b", false, subjectText},
    {"\\B[0-9]", false, subjectText},
    {"\\<[a-z]+[0-9]", false, subjectText},
    {"[0-9]\\>", false, subjectText},
    // Line and subject edges; carriage returns before line feeds.
    {"^[0-9]+$", false, subjectText},
    {"[0-9]$", false, subjectText},
    {"^[a-z]", false, subjectText},
    {"\\A[0-9]", false, subjectText},
    {"[0-9]\\z", false, subjectText},
    {"[0-9]\\Z", false, subjectText},
    {"\\`[a-z]{2}", false, subjectText},
    {"[a-z]\\'", false, subjectText},
    {"(?:^|x)[0-9]", false, subjectText},
    // Case-insensitive, globally and inline.
    {"[a-c]{3}[0-9]{3}", true, subjectText},
    {"(?i)[a-c]{3}[0-9]", false, subjectText},
    {"[A-C]{3}[0-9]", true, subjectText},
    // Classes and dots next to the bytes the engine may read differently.
    {"\\s[0-9]", false, subjectText},
    {"[[:space:]][0-9]", false, subjectText},
    {"[0-9].[a-z]", false, subjectText},
    {"[0-9a-f]{12}", false, subjectText},
    {"[a-z]{3}[0-9]{3}", false, subjectText},
    // Expressions that can match nothing at all: every line a candidate.
    {"[0-9]*", false, subjectText},
    {"^$", false, subjectText},
    // Lines without a final line feed.
    {"[0-9]{2}$", false, "a\n12"},
    {"\\b[0-9]", false, "9"},
};

}  // namespace

TEST(AutomatonPrefilter, LinesMatchTheEngineOverEachLine)
{
    unsigned built = 0;
    for (const Row& row : rows) {
        boost::regex e;
        e.assign(row.expression, boost::regex::normal | (row.icase ? boost::regex::icase : boost::regex::normal));
        const std::string subject = row.subject;
        for (const bool first : {false, true}) {
            Differential::Matches expected, got;
            ASSERT_TRUE(Differential::Reference(e, subject, 0, true, expected, first, true)) << row.expression;
            for (const std::size_t block : {1u, 7u, 4096u}) {
                unsigned wrongViews = 0;
                bool prefiltered = false;
                ASSERT_TRUE(Differential::Stream(e, row.expression, subject, row.icase, 0, true, block, got, wrongViews,
                                                 first, &prefiltered));
                EXPECT_EQ(got, expected) << "/" << row.expression << "/ icase " << row.icase << " block " << block;
                EXPECT_EQ(wrongViews, 0u) << row.expression;
                built += prefiltered ? 1 : 0;
            }
        }
    }
    // Most rows have no literal and go through the automaton.
    if (AutomatonPrefilter::Available()) {
        EXPECT_GT(built, 6u * 20u);
    }
}

// Where the automaton says where matches begin, the engine starts there with
// the bytes before visible; over a whole buffer each candidate line is a
// window. Rows where that start or window could answer otherwise than the
// engine over the whole line or buffer.
const Row spanRows[] = {
    {"\\Bx[0-9]", false, "ax1\nx2\n x3\nxx4\n"},           // \B sees the byte before the start
    {"\\G[a-z][0-9]", false, "xa1\nb2\nc3d4\n"},             // \G: where the search began
    {"(?:^|[^a-z])[a-z]{2}[0-9]", false, "ab1\nxab2\n-ab3\n"},
    {"[a-z]+ing\\b", false, "strings singing\nwing ring\n bring\nthing_\n"},
    {"\\w+ing\\b", true, "STRINGS SINGING\nWing ring\n"},
    {"x[0-9]|[a-z]{4}[0-9]", false, "abcdx1\nzx2 abcd3\n"},     // a later start ends first
    {"([a-z])\\1[0-9]", false, "ab\nbb1 cc2\naa\n3\n"},     // the automaton's match crosses lines
    {"[0-9]+\\s[a-z]", false, "12\nab\n1 x\n"},              // matches may hold a line feed
    {"\\A[a-z][0-9]|[0-9]\\z", false, "a1\nb2\n3"},
    {"[a-z][0-9]$", false, "a1\r\nb2\nc3\fd4\n"},
    {"\\b[0-9]{2}\\b", false, "12\n123\na12b\n 34 \n"},
    {"[0-9]{2}(?=[a-z])", false, "12a\n12\na\n34b\n"},        // look-ahead past the line
    {"(?<=[a-z])[0-9]{2}", false, "a\n12\nb34\n"},            // look-behind before the line
    {"foo[0-9]+", false, "foo\n1\nxfoo12 foo3\nfoofoo4\n"},    // a required text
};

TEST(AutomatonPrefilter, SpansMatchTheEngineInBothModes)
{
    static const unsigned lineFlags[] = {0u, boost::match_not_bol, boost::match_continuous, boost::match_posix,
                                         boost::match_not_bow};
    static const unsigned wholeFlags[] = {0u,
                                          boost::match_not_bol | boost::match_not_eol,
                                          boost::match_not_bob | boost::match_not_eob,
                                          boost::match_not_bow | boost::match_not_eow,
                                          boost::match_not_dot_newline,
                                          boost::match_posix,
                                          boost::match_not_null};
    unsigned prefilteredLines = 0, prefilteredWhole = 0;
    const auto check = [&](const Row& row) {
        boost::regex e;
        e.assign(row.expression, boost::regex::normal | (row.icase ? boost::regex::icase : boost::regex::normal));
        const std::string subject = row.subject;
        for (const unsigned flags : lineFlags) {
            for (const bool first : {false, true}) {
                Differential::Matches expected, got;
                ASSERT_TRUE(Differential::Reference(e, subject, flags, true, expected, first, true)) << row.expression;
                bool prefiltered = false;
                ASSERT_TRUE(Differential::Searcher(row.expression, row.icase, subject, flags, true, got, first,
                                                   &prefiltered));
                EXPECT_EQ(got, expected) << "/" << row.expression << "/ lines, flags " << std::hex << flags
                                         << " first " << first;
                prefilteredLines += prefiltered ? 1 : 0;
            }
        }
        for (const unsigned flags : wholeFlags) {
            Differential::Matches expected, got;
            ASSERT_TRUE(Differential::Reference(e, subject, flags, false, expected)) << row.expression;
            bool prefiltered = false;
            ASSERT_TRUE(Differential::Searcher(row.expression, row.icase, subject, flags, false, got, false,
                                               &prefiltered));
            EXPECT_EQ(got, expected) << "/" << row.expression << "/ whole buffer, flags " << std::hex << flags;
            prefilteredWhole += prefiltered ? 1 : 0;
        }
    };
    for (const Row& row : rows)
        check(row);
    for (const Row& row : spanRows)
        check(row);
    if (AutomatonPrefilter::Available()) {
        EXPECT_GT(prefilteredLines, 150u);
        EXPECT_GT(prefilteredWhole, 20u);
    }
}

// A buffer larger than the prefilter's scan chunk: matches on the lines
// around each chunk's end, and a long line crossing it.
TEST(AutomatonPrefilter, LargeBufferMatchesTheEngine)
{
    std::string subject;
    for (int i = 0; subject.size() < (std::size_t(3) << 20); ++i) {
        subject += i % 29 == 0 ? "key abc123 end\n" : "plain text line without the thing\n";
        if (i % 20011 == 0)
            subject += std::string(70000, 'q') + "xyz789\n";
    }
    unsigned error = 0;
    const auto pattern = CompilePattern("[a-z]{3}[0-9]{3}", false, error);
    ASSERT_TRUE(pattern != nullptr);
    EXPECT_EQ(pattern->prefilter != nullptr, AutomatonPrefilter::Available());
    Differential::Collect sink(pattern->marks);
    std::string text;
    ASSERT_EQ(SearchBuffer(*pattern, subject.data(), subject.size(), lineModeFlag | feedOnlyFlag, sink, text),
              SearchEnd::Finished);
    Differential::Matches expected;
    ASSERT_TRUE(Differential::Reference(pattern->expression, subject, 0, true, expected, false, true));
    EXPECT_GT(expected.size(), 2500u);
    EXPECT_EQ(sink.matches, expected);
    // Over the whole buffer: windows around the chunks' ends.
    Differential::Collect whole(pattern->marks);
    ASSERT_EQ(SearchBuffer(*pattern, subject.data(), subject.size(), 0, whole, text), SearchEnd::Finished);
    expected.clear();
    ASSERT_TRUE(Differential::Reference(pattern->expression, subject, 0, false, expected));
    EXPECT_EQ(whole.matches, expected);
}

TEST(AutomatonPrefilter, RewritingTakesOutEdgeAssertionsOrGivesUp)
{
    struct {
        const char* text;
        bool ok;
        const char* out;
    } const cases[] = {
        {"^[a-z]+$", true, "[a-z]+"},
        {"\\b[0-9]\\B\\<x\\>\\A\\z\\Z\\G", true, "[0-9]x"},
        {"[\\b^$]\\$\\^", true, "[\\b^$]\\$\\^"},   // members of a set and escaped characters stay
        {"[]^]x[^]$][[:alpha:]^]", true, "[]^]x[^]$][[:alpha:]^]"},
        {"\\Q^$\\E^", true, "\\Q^$\\E"},
        {"(?:^|a)(?i:b)(?=c)(?#^)", true, "(?:|a)(?i:b)(?=c)"},
        {"(a)\\1", true, "(a)(?:[\\s\\S]*)"},
        {"(a)\\g1", false, ""},
        {"(a)\\12", false, ""},           // a back-reference or an octal escape
        {"^*a", false, ""},               // a quantified assertion
        {"\\b{2}a", false, ""},
        {"(?x) ^ a # $", false, ""},      // free spacing and comments
        {"a{,3}", false, ""},
        {"\\pL", false, ""},
        {"\\l\\u", false, ""},
        {"(?(1)a|b)", false, ""},
        {"a(*ACCEPT)b", false, ""},
        {"[[.a.]]", false, ""},
        {"[[:lower:]]x", false, ""},      // takes every letter under case folding
        {"\\H\\V", false, ""},
        {"[a", false, ""},
        {"a\\", false, ""},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(AutomatonPrefilter::Rewrite(c.text, out), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(out, c.out) << c.text;
        }
    }
}

// Plain texts keep the literal search; locales and expressions
// the automaton cannot read keep the engine alone.
TEST(AutomatonPrefilter, BuiltOnlyWithoutALiteral)
{
    if (!AutomatonPrefilter::Available())
        GTEST_SKIP() << "built without the automaton library";
    unsigned error = 0;
    EXPECT_TRUE(CompilePattern("[0-9a-f]{12}", false, error)->prefilter != nullptr);
    EXPECT_TRUE(CompilePattern("\\w+[0-9]\\b", true, error)->prefilter != nullptr);
    EXPECT_TRUE(CompilePattern("lantern|lamp", false, error)->prefilter == nullptr);  // plain texts
    EXPECT_TRUE(CompilePattern("foo[0-9]+", false, error)->prefilter == nullptr);  // a required text
    // `\G` answers where a search began: no windows of a whole buffer.
    EXPECT_FALSE(CompilePattern("\\G[a-z][0-9]", false, error)->prefilter->ServesWholeBuffer());
    EXPECT_TRUE(CompilePattern("[a-z]*", false, error)->prefilter == nullptr);
    EXPECT_TRUE(CompilePattern("a{,3}[0-9]", false, error)->prefilter == nullptr);
}

// The automaton library misses some matches that end among the first bytes
// it scans: every place of a match in buffers of many lengths is still a
// candidate (expressions where a starred class may match nothing).
TEST(AutomatonPrefilter, FindsMatchesNearTheStartOfABuffer)
{
    if (!AutomatonPrefilter::Available())
        GTEST_SKIP() << "built without the automaton library";
    const struct {
        const char* expression;
        const char* match;
    } rows[] = {
        {"a[0-9]*b", "ab"}, {"[ab] *a", "bba"}, {"[pq]-*r", "pr"}, {"x *y", "xy"}, {"[ab]c*d", "ad"},
    };
    for (const auto& row : rows) {
        const boost::regex e(row.expression);
        const auto prefilter = AutomatonPrefilter::Build(row.expression, false, e);
        ASSERT_TRUE(prefilter) << row.expression;
        const std::string match = row.match;
        for (std::size_t size = match.size(); size <= 80; ++size) {
            for (std::size_t at = 0; at + match.size() <= size; ++at) {
                std::string subject(size, '#');
                subject.replace(at, match.size(), match);
                std::vector<std::pair<std::size_t, std::size_t>> lines;
                ASSERT_TRUE(prefilter->CandidateLines(subject.data(), subject.size(), lines));
                ASSERT_EQ(lines.size(), 1u) << row.expression << " at " << at << " of " << size;
            }
        }
    }
}

namespace {

// A locale whose classes and cases are the classic ones, except that byte
// 0xE9 (é in Latin-1) is a lower-case letter when `latin` is set.
std::locale ClassicLike(bool latin)
{
    static std::vector<std::ctype_base::mask> table[2];
    std::vector<std::ctype_base::mask>& t = table[latin];
    if (t.empty()) {
        const std::ctype_base::mask* classic = std::ctype<char>::classic_table();
        t.assign(classic, classic + std::ctype<char>::table_size);
        if (latin)
            t[0xE9] = std::ctype_base::alpha | std::ctype_base::lower | std::ctype_base::print |
                      std::ctype_base::graph;
    }
    return std::locale(std::locale::classic(), new std::ctype<char>(t.data()));
}

}  // namespace

// The automaton knows the classic locale's classes: an expression compiled
// under another locale keeps it only where that locale reads every byte alike.
TEST(AutomatonPrefilter, KeptUnderLocalesThatReadBytesAsClassic)
{
    if (!AutomatonPrefilter::Available())
        GTEST_SKIP() << "built without the automaton library";
    struct LocaleRow {
        const char* expression;
        std::locale locale;
        boost::regex::flag_type syntax;
        bool prefiltered;
    } const rows[] = {
        {"[[:alpha:]]{3}[0-9]{3}", std::locale::classic(), boost::regex::normal, true},
        {"[[:alpha:]]{3}[0-9]{3}", ClassicLike(false), boost::regex::normal, true},
        {"[[:alpha:]]{3}[0-9]{3}", ClassicLike(true), boost::regex::normal, false},
        {"\\w{3}[0-9]{3}", ClassicLike(true), boost::regex::normal, false},
        // Ranges in the locale's collation order: the classic locale only.
        {"[a-z]{3}[0-9]{3}", ClassicLike(false), boost::regex::normal | boost::regex::collate, false},
        {"[a-z]{3}[0-9]{3}", std::locale::classic(), boost::regex::normal | boost::regex::collate, true},
    };
    for (const LocaleRow& row : rows) {
        boost::regex e;
        e.imbue(row.locale);
        e.assign(row.expression, row.syntax);
        unsigned error = 0;
        const auto pattern = AdoptPattern(e, row.expression, error);
        ASSERT_TRUE(pattern != nullptr) << row.expression;
        EXPECT_EQ(pattern->prefilter != nullptr, row.prefiltered) << row.expression << " " << row.locale.name();
    }
    // A UTF-8 locale, where the system has one, classes no single byte above 0x7F.
    try {
        boost::regex e;
        e.imbue(std::locale("C.UTF-8"));
        e.assign("[[:alpha:]]{3}[0-9]{3}");
        unsigned error = 0;
        EXPECT_TRUE(AdoptPattern(e, "[[:alpha:]]{3}[0-9]{3}", error)->prefilter != nullptr);
    } catch (const std::runtime_error&) {
        // no such locale here
    }
}

// The search driver against the engine's plain grep, over generated
// expressions, flags and subjects; and the analyser's answers as a table.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include "Differential.h"
#include "Expressionanalyser.h"
#include "Searchdriver.h"

using namespace RegexEngine;

namespace {

std::string Show(const std::string& s)
{
    std::string out;
    for (const char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\0')
            out += "\\0";
        else
            out += c;
    }
    return out;
}

}  // namespace

TEST(SearchDriver, GivesThePlainGrepsMatchesForGeneratedExpressions)
{
    const char* seedText = std::getenv("QUORVEX_DIFFERENTIAL_SEED");
    const char* roundsText = std::getenv("QUORVEX_DIFFERENTIAL_ROUNDS");
    Differential::Generator generate(seedText ? static_cast<std::uint32_t>(std::atoi(seedText)) : 20261208u);
    const int rounds = roundsText ? std::atoi(roundsText) : 3000;
    std::map<SearchPath, unsigned> paths;
    unsigned compared = 0, spansLines = 0, spansWhole = 0, spansUsed = 0;
    for (int n = 0; n < rounds; ++n) {
        const std::string text = generate.Expression();
        const bool icase = generate.Pick(4) == 0;
        boost::regex e;
        e.assign(text, boost::regex::normal | boost::regex::no_except | (icase ? boost::regex::icase : boost::regex::normal));
        if (e.status() != 0)
            continue;
        const unsigned marks = static_cast<unsigned>(e.mark_count()) + 1;
        const auto plan = PlanSearch(text, icase, e, marks);
        unsigned error = 0;
        const auto pattern = CompilePattern(text.c_str(), icase, error);
        for (int k = 0; k < 4; ++k) {
            const unsigned flags = generate.Flags();
            const std::string subject = generate.Subject();
            for (const int mode : {0, 1, 2}) {  // whole buffer, lines, first match of each line
                const bool lines = mode != 0, first = mode == 2;
                Differential::Matches expected, got;
                if (!Differential::Reference(e, subject, flags, lines, expected, first))
                    continue;
                ++paths[ChooseSearchPath(plan.get(), flags | (lines ? lineModeFlag : 0u))];
                ++compared;
                ASSERT_TRUE(Differential::Driver(e, plan.get(), subject, flags, lines, got, first))
                    << "/" << text << "/ on \"" << Show(subject) << "\"";
                ASSERT_EQ(got, expected) << "/" << text << "/ icase " << icase << " flags " << std::hex << flags
                                         << " mode " << mode << " on \"" << Show(subject) << "\"";
                // The file searcher, with the automaton's spans where it
                // takes them, against the engine over the whole buffer or
                // over each line ending at its line feed.
                if (lines) {
                    expected.clear();
                    if (!Differential::Reference(e, subject, flags, true, expected, first, true))
                        continue;
                }
                bool prefiltered = false;
                ASSERT_TRUE(pattern != nullptr && Differential::Searcher(*pattern, subject, flags, lines, got, first,
                                                                         &prefiltered));
                ASSERT_EQ(got, expected) << "searcher /" << text << "/ icase " << icase << " flags " << std::hex
                                         << flags << " mode " << mode << " on \"" << Show(subject) << "\"";
                ++(lines ? spansLines : spansWhole);
                spansUsed += prefiltered ? 1 : 0;
            }
        }
    }
    // Every path must have had its share, or the comparison proves little.
    if (rounds < 3000)
        return;
    EXPECT_GT(compared, 15000u);
    if (AutomatonPrefilter::Available()) {
        EXPECT_GT(spansUsed, 1000u) << spansLines << " in lines, " << spansWhole << " whole";
    }
    for (const auto path : {SearchPath::Plain, SearchPath::Prefix, SearchPath::Window, SearchPath::Whole,
                            SearchPath::LinesWithText, SearchPath::EveryLine})
        EXPECT_GT(paths[path], 200u) << static_cast<int>(path);
}

TEST(SearchDriver, AgreesAtTheEdgesOfItsWindows)
{
    struct Row {
        const char* expression;
        const char* subject;
        unsigned flags;
    };
    // Windows start after a line feed: assertions must see it, and the
    // buffer's start must stay where it is.
    const Row rows[] = {
        {"\\w*\\Aing", "x\ning", 0},
        {"\\w*\\`ing", "x\ning\n", 0},
        {"\\w*^ing", "x\ning", boost::match_not_bol},
        {"\\w*\\<ing", "x\ning", boost::match_not_bow},
        {"\\w*\\bing", "x\ning", boost::match_not_bow},
        {"\\w*ing$", "sing\r\nx", 0},
        {"\\w*ing\\z", "sing\nx", 0},
        {"\\w*ing\\'", "x\nsing", boost::match_not_eob},
        {"\\w*ing\\>", "sing\nx", boost::match_not_eow},
        {"[a-z]*ing\\b", "sing\n\nring\nring", boost::match_posix},
    };
    for (const auto& row : rows) {
        const boost::regex e(row.expression);
        const auto plan = PlanSearch(row.expression, false, e, static_cast<unsigned>(e.mark_count()) + 1);
        ASSERT_EQ(ChooseSearchPath(plan.get(), row.flags), SearchPath::Window) << row.expression;
        Differential::Matches expected, got;
        ASSERT_TRUE(Differential::Reference(e, row.subject, row.flags, false, expected));
        ASSERT_TRUE(Differential::Driver(e, plan.get(), row.subject, row.flags, false, got));
        EXPECT_EQ(got, expected) << row.expression << " on " << Show(row.subject);
    }
}

TEST(SearchDriver, HandsDenseBuffersToTheEngineWithoutChangingAMatch)
{
    // Long buffers where the candidates or the windows come thick: the rest
    // of the buffer goes to the engine's own search part way through.
    std::string dense, sparse, longLines;
    for (int i = 0; dense.size() < 1200 * 1024; ++i) {
        longLines += std::string(300, i % 2 ? 'x' : ' ') + " thing tag\n";
        dense += i % 3 == 0 ? "thing the sing tag\n" : "a tug to t the\r\n";
        sparse += i % 500 == 0 ? "thing the sing tag\n" : "no match on this line at all\n";
    }
    const struct {
        const char* expression;
        SearchPath path;
    } rows[] = {
        {"t\\w+g", SearchPath::Prefix},
        {"(t)(\\w*)g\\b", SearchPath::Prefix},
        {"\\w+ing\\b", SearchPath::Window},
        {"\\w*t\\w*g$", SearchPath::Window},
    };
    for (const auto& row : rows) {
        const boost::regex e(row.expression);
        const auto plan = PlanSearch(row.expression, false, e, static_cast<unsigned>(e.mark_count()) + 1);
        ASSERT_EQ(ChooseSearchPath(plan.get(), 0), row.path) << row.expression;
        for (const std::string* subject : {&dense, &sparse, &longLines}) {
            Differential::Matches expected, got;
            ASSERT_TRUE(Differential::Reference(e, *subject, 0, false, expected));
            ASSERT_TRUE(Differential::Driver(e, plan.get(), *subject, 0, false, got));
            EXPECT_GT(expected.size(), 100u);
            EXPECT_EQ(got, expected) << row.expression;
        }
    }
}

namespace {

struct AnalyserRow {
    const char* expression;
    bool icase;
    bool understood;
    std::vector<std::string> plain;
    std::vector<std::string> prefixes;
    std::vector<std::string> required;
    bool lineFeed;
};

}  // namespace

TEST(ExpressionAnalyser, DerivesLiteralsAndLineFeeds)
{
    const AnalyserRow rows[] = {
        {"lantern", false, true, {"lantern"}, {"lantern"}, {"lantern"}, false},
        {"lantern", true, true, {"lantern"}, {"lantern"}, {"lantern"}, false},
        {"foo|bar|baz", false, true, {"foo", "bar", "baz"}, {"foo", "bar", "baz"}, {"foo", "bar", "baz"}, false},
        {"[A-Z][a-z]+ing\\b", false, true, {}, {}, {"ing"}, false},
        {"\\w+ing\\b", false, true, {}, {}, {"ing"}, false},
        {"colou?r", false, true, {"colour", "color"}, {"colour", "color"}, {"colour", "color"}, false},
        {"colou??r", false, true, {"color", "colour"}, {"color", "colour"}, {"color", "colour"}, false},
        {"(\\w+)@old-host\\.example", false, true, {}, {}, {"@old-host.example"}, false},
        {"TODO.*", false, true, {}, {"TODO"}, {"TODO"}, true},
        {"[a-z]{3}[0-9]{3}", false, true, {}, {}, {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}, false},
        {"[A-Z][a-z]+ [0-9]{2,4}", false, true, {}, {}, {" 0", " 1", " 2", " 3", " 4", " 5", " 6", " 7", " 8", " 9"},
         false},  // a text followed by what the next part begins with
        {"[a-z]{3}[a-z0-9]{3}", false, true, {}, {}, {}, false},
        {"(ab|ba)", false, true, {"ab", "ba"}, {"ab", "ba"}, {"ab", "ba"}, false},
        {"(a)(b)", false, true, {}, {"ab"}, {"ab"}, false},
        {"\\bthe\\b", false, true, {}, {"the"}, {"the"}, false},
        {"x[^a]y", false, true, {}, {"x"}, {"x"}, true},       // a negated set holds a line feed
        {"x[^\\n]y", false, true, {}, {"x"}, {"x"}, false},
        {"a\\sb", false, true, {"a\tb", "a\nb", "a\vb", "a\fb", "a\rb", "a b"},
         {"a\tb", "a\nb", "a\vb", "a\fb", "a\rb", "a b"}, {"a\tb", "a\nb", "a\vb", "a\fb", "a\rb", "a b"}, true},
        {"a\\Wb|c\\Dd", false, true, {}, {"a", "c"}, {"a", "c"}, true},
        {"(a.)\\1", false, true, {}, {"a"}, {"a"}, true},       // a back-reference to a group holding one
        {"([ab])\\1x", false, true, {}, {"a", "b"}, {"x"}, false},
        {"a|", false, true, {}, {}, {}, false},                 // the empty text matches
        {"(?:ab){2}", false, true, {"abab"}, {"abab"}, {"abab"}, false},
        {"[Cc]at", false, true, {"Cat", "cat"}, {"Cat", "cat"}, {"Cat", "cat"}, false},
        {"\\Qa.b\\E", false, true, {"a.b"}, {"a.b"}, {"a.b"}, false},
        // Give-up cases: look-around, options, \Z, \G, hex, conditionals,
        // collating elements, named groups, unknown escapes.
        {"a(?=b)", false, false, {}, {}, {}, true},
        {"(?<=a)b", false, false, {}, {}, {}, true},
        {"(?i)ab", false, false, {}, {}, {}, true},
        {"ab\\Z", false, false, {}, {}, {}, true},
        {"\\Gab", false, false, {}, {}, {}, true},
        {"\\x41b", false, false, {}, {}, {}, true},
        {"(?(1)a|b)", false, false, {}, {}, {}, true},
        {"[[.a.]]b", false, false, {}, {}, {}, true},
        {"(?<n>a)b", false, false, {}, {}, {}, true},
        {"\\hb", false, false, {}, {}, {}, true},
        {"a{,2}", false, false, {}, {}, {}, true},
    };
    for (const auto& row : rows) {
        boost::regex e(row.expression, boost::regex::normal | (row.icase ? boost::regex::icase : boost::regex::normal));
        const ExpressionFacts facts = AnalyseExpression(row.expression, row.icase, e);
        EXPECT_EQ(facts.understood, row.understood) << row.expression;
        EXPECT_EQ(facts.plain, row.plain) << row.expression;
        EXPECT_EQ(facts.prefixes, row.prefixes) << row.expression;
        EXPECT_EQ(facts.required, row.required) << row.expression;
        EXPECT_EQ(facts.lineFeed, row.lineFeed) << row.expression;
    }
}

TEST(SearchDriver, ChoosesAPathOnlyWhereItsFlagsAllowIt)
{
    struct Row {
        const char* expression;
        unsigned flags;
        SearchPath path;
    };
    const Row rows[] = {
        {"lantern", 0, SearchPath::Plain},
        {"lantern", boost::match_posix, SearchPath::Plain},
        {"lantern", boost::match_any, SearchPath::Prefix},
        {"lantern", boost::match_continuous, SearchPath::Whole},
        {"TODO.*", 0, SearchPath::Prefix},
        {"\\w+ing\\b", 0, SearchPath::Window},
        {"\\w+ing\\b", boost::match_partial, SearchPath::Whole},
        {"x.*ing", 0, SearchPath::Prefix},  // exact whatever the match may hold
        {"\\w.*ing", 0, SearchPath::Whole},
        {"\\w.*ing", boost::match_not_dot_newline, SearchPath::Window},
        {"[a-z]{3}[0-9]{3}", 0, SearchPath::Window},
        {"[a-z]{3}[a-z0-9]{3}", 0, SearchPath::Whole},
        {"\\w+ing\\b", lineModeFlag, SearchPath::LinesWithText},
        {"\\w+ing\\b", lineModeFlag | boost::match_continuous, SearchPath::LinesWithText},
        {"a\\nb", lineModeFlag, SearchPath::EveryLine},
        {"[a-z]{3}", lineModeFlag, SearchPath::EveryLine},
        {"lantern", lineModeFlag, SearchPath::Plain},
    };
    for (const auto& row : rows) {
        boost::regex e(row.expression);
        const auto plan = PlanSearch(row.expression, false, e, static_cast<unsigned>(e.mark_count()) + 1);
        EXPECT_EQ(ChooseSearchPath(plan.get(), row.flags), row.path) << row.expression << " " << row.flags;
    }
}

// The byte search steps 64 and 32 places at a time: a text at every place of
// a long buffer, after near misses that agree on the bytes it compares first
// (also in the other half of a step), is found there and only there.
TEST(LiteralFinderSteps, FindsATextAtEveryPlaceAfterNearMisses)
{
    for (const bool icase : {false, true}) {
        const auto finder = LiteralFinder::ForTexts({"needle"}, icase, std::locale::classic());
        ASSERT_TRUE(finder != nullptr);
        for (std::size_t at = 0; at + 6 <= 300; ++at) {
            std::string buffer(300, 'x');
            for (std::size_t miss = 0; miss + 6 <= at; miss += 37)
                buffer.replace(miss, 6, "needlx");
            buffer.replace(at, 6, icase ? "NeEdLe" : "needle");
            Differential::Collect sink(1);
            ASSERT_TRUE(finder->Search(buffer.data(), buffer.size(), sink));
            ASSERT_EQ(sink.matches.size(), 1u) << "at " << at << (icase ? " icase" : "");
            EXPECT_EQ(sink.matches[0][0], at) << (icase ? " icase" : "");
        }
    }
}

// The byte search against a plain reference (every place tried in turn) over
// random buffers of a few letters, whose sizes put matches at both ends of
// the probe loops' steps: single texts and sets of two to five, short texts,
// repeated bytes, texts of which one holds another or that share a prefix,
// case variants.
TEST(LiteralFinderReference, FindsWhatTryingEveryPlaceFinds)
{
    struct Row {
        std::vector<std::string> texts;
        bool icase;
    };
    const Row rows[] = {
        {{"a"}, false},
        {{"ab"}, false},
        {{"aaa"}, false},
        {{"abab"}, true},
        {{"baaab"}, false},
        {{"aXbab\n"}, false},
        {{"a", "b"}, false},
        {{"ab", "abba", "b"}, false},
        {{"bab", "ab"}, true},
        {{"aaaa", "bb", "ba"}, false},
        {{"aBa", "Bb", "xAb", "bbbab"}, true},
        {{"a", "bb", "aab", "bab", "abb"}, false},
        {{"abba", "abb", "ab"}, false},
        {{"aab", "aaba"}, true},
        {{"bab", "baa", "babb", "ba", "bax"}, false},
    };
    const char alphabet[] = {'a', 'b', 'a', 'b', 'A', 'B', 'x', '\n'};
    std::mt19937 random(7);
    for (const Row& row : rows) {
        const auto finder = LiteralFinder::ForTexts(row.texts, row.icase, std::locale::classic());
        ASSERT_TRUE(finder != nullptr);
        const auto same = [&](char a, char b) {
            return row.icase ? std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b))
                             : a == b;
        };
        for (int round = 0; round < 400; ++round) {
            std::string buffer(random() % 200, 'a');
            for (char& c : buffer)
                c = alphabet[random() % sizeof alphabet];
            for (const bool longest : {false, true})
                for (const bool firstOfLine : {false, true}) {
                    if (firstOfLine && std::any_of(row.texts.begin(), row.texts.end(), [](const std::string& t) {
                            return t.find('\n') != std::string::npos;
                        }))
                        continue;
                    std::vector<std::uint64_t> expected;
                    for (std::size_t pos = 0; pos < buffer.size();) {
                        std::size_t length = 0;
                        for (const auto& text : row.texts)
                            if (text.size() <= buffer.size() - pos && text.size() > length &&
                                std::equal(text.begin(), text.end(), buffer.begin() + static_cast<std::ptrdiff_t>(pos), same) &&
                                (longest || length == 0))
                                length = text.size();
                        if (length == 0) {
                            ++pos;
                            continue;
                        }
                        expected.push_back(pos);
                        expected.push_back(pos + length);
                        pos += length;
                        if (firstOfLine) {
                            const std::size_t feed = buffer.find('\n', pos);
                            pos = feed == std::string::npos ? buffer.size() : feed + 1;
                        }
                    }
                    Differential::Collect sink(1);
                    ASSERT_TRUE(finder->Search(buffer.data(), buffer.size(), sink, longest, firstOfLine));
                    std::vector<std::uint64_t> found;
                    for (const auto& m : sink.matches) {
                        found.push_back(m[0]);
                        found.push_back(m[1]);
                    }
                    ASSERT_EQ(found, expected) << Show(buffer) << " texts " << row.texts[0] << "... longest "
                                               << longest << " firstOfLine " << firstOfLine;
                }
        }
    }
}

// Line mode starts the engine late in a line holding a required text: at the
// last byte before the text that no match can hold. Rows where a match begins
// well before the text, where the line holds the text several times, where
// assertions look at the byte the search starts after, and CRLF lines.
TEST(SearchDriver, StartsLateInALineOnlyWhereNoMatchBegins)
{
    struct Row {
        const char* expression;
        bool icase;
        const char* subject;
    };
    const Row rows[] = {
        {"\\w+ing\\b", false, "say running now\nxing ping-pinging\r\nabc sing\r\n  ing\ning"},
        {"\\w+ing\\b", true, "SAY RUNNING\nbring-ING\r\nx\ringo\n"},
        {"[A-Z][a-z]+ing\\b", false, "a Ring Bring-ing\nKing\r\nxKing Sings\n"},
        {"(\\w+)@\\w+\\.example", false, "mail alice@mail.example, bob@x.example\n@y.example z@.example\n"},
        {"\\bfoo\\w*", false, "xfoo foo foobar\n-foo\r\nfoo"},
        {"^\\w*ab", false, "zab ab\nab\r\nx\rab\n x\fab\n"},
        {"\\<\\w+ab\\>", false, "cab zab-ab ab\n\rxab\r\n"},
        {"a[^ ]*b\\w*", false, "xxab a-b a.b.bc\naaa bb\n"},
        {"(x+)\\1ing", false, "xxxxing xing\nxxing\n"},
        {"\\w+ing$", false, "ring ding\r\nsing\rbring\n"},
    };
    for (const Row& row : rows) {
        boost::regex e;
        e.assign(row.expression, boost::regex::normal | (row.icase ? boost::regex::icase : boost::regex::normal));
        const unsigned marks = static_cast<unsigned>(e.mark_count()) + 1;
        const auto plan = PlanSearch(row.expression, row.icase, e, marks);
        ASSERT_TRUE(plan != nullptr) << row.expression;
        ASSERT_EQ(ChooseSearchPath(plan.get(), lineModeFlag), SearchPath::LinesWithText) << row.expression;
        for (const unsigned flags : {0u, unsigned(boost::match_not_bol), unsigned(boost::match_not_eol)})
            for (const bool first : {false, true}) {
                Differential::Matches expected, got;
                ASSERT_TRUE(Differential::Reference(e, row.subject, flags, true, expected, first));
                ASSERT_TRUE(Differential::Driver(e, plan.get(), row.subject, flags, true, got, first));
                EXPECT_EQ(got, expected) << row.expression << " flags " << flags << " first " << first << " on \""
                                         << Show(row.subject) << "\"";
            }
    }
}

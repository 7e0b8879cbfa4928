// The fast paths (byte-search prefilter, look-ahead threads, batching) against
// a plain reference: the engine's own grep and search over each whole file.
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <fstream>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include "Compilation.h"
#include "Literalfinder.h"
#include "RegEx.h"
#include "Syntaxflags.h"
#include "Filetesting.h"

using RegexEngine::RegEx;

namespace {

// One reported match: file, every sub-match's offsets, line.
struct Report {
    std::string file;
    std::vector<std::uint64_t> offsets;
    std::uint64_t line;
    bool operator==(const Report& o) const { return file == o.file && offsets == o.offsets && line == o.line; }
};

std::ostream& operator<<(std::ostream& os, const Report& r)
{
    os << r.file.substr(r.file.rfind('/') + 1) << " line " << r.line << " [";
    for (auto o : r.offsets)
        os << static_cast<long long>(o) << ' ';
    return os << ']';
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The subjects the reference searches in a file: the whole file, or in line
// mode each line on its own (no line in an empty file, none after a final
// line feed).
std::vector<std::pair<const char*, const char*>> Subjects(const std::string& text, bool lines)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    if (!lines)
        return {{p, end}};
    std::vector<std::pair<const char*, const char*>> subjects;
    while (p != end) {
        const char* feed = std::find(p, end, '\n');
        subjects.emplace_back(p, feed);
        p = feed == end ? end : feed + 1;
    }
    return subjects;
}

// The reference: regex_grep over the whole file (or over each line), line
// numbers counted from the start of the file for every match.
std::vector<Report> ReferenceGrep(const std::vector<std::string>& files, const std::string& expression, bool icase,
                                  unsigned flags, bool lines = false)
{
    const boost::regex e(expression, boost::regex::normal | (icase ? boost::regex::icase : boost::regex::normal));
    flags &= ~static_cast<unsigned>(boost::match_prev_avail);
    std::vector<Report> reports;
    for (const auto& file : files) {
        const std::string text = ReadAll(file);
        const char* base = text.data();
        const auto report = [&](const boost::match_results<const char*>& m) {
            Report r{file, {}, 0};
            for (unsigned i = 0; i <= e.mark_count(); ++i) {
                const bool took = i < m.size() && m[i].matched;
                r.offsets.push_back(took ? std::uint64_t(m[i].first - base) : RegEx::npos);
                r.offsets.push_back(took ? std::uint64_t(m[i].second - base) : RegEx::npos);
            }
            r.line = 1 + std::count(base, m[0].first, '\n');
            reports.push_back(r);
            return true;
        };
        for (const auto& subject : Subjects(text, lines)) {
            if (!lines) {
                boost::regex_grep(report, subject.first, subject.second, e, static_cast<boost::match_flag_type>(flags));
                continue;
            }
            // Line mode: a single line for the engine; a CRLF line without
            // its carriage return first, then whole for the matches that
            // reach past it after the last one (all of them when none).
            const auto single = static_cast<boost::match_flag_type>(flags | boost::match_single_line);
            const char* first = subject.first;
            const char* last = subject.second;
            const std::size_t before = reports.size();
            const char* from = first;
            if (last != first && last[-1] == '\r') {
                boost::regex_grep(
                    [&](const boost::match_results<const char*>& m) {
                        from = m[0].second;
                        return report(m);
                    },
                    first, last - 1, e, single);
            }
            const bool none = reports.size() == before;
            boost::regex_grep(
                [&](const boost::match_results<const char*>& m) {
                    return !(none || (m[0].first >= from && m[0].second == last)) || report(m);
                },
                first, last, e, single);
        }
    }
    return reports;
}

std::vector<std::string> ReferenceFind(const std::vector<std::string>& files, const std::string& expression,
                                       bool icase, unsigned flags, bool lines = false)
{
    const boost::regex e(expression, boost::regex::normal | (icase ? boost::regex::icase : boost::regex::normal));
    flags &= ~static_cast<unsigned>(boost::match_prev_avail);
    std::vector<std::string> found;
    for (const auto& file : files) {
        const std::string text = ReadAll(file);
        boost::cmatch m;
        const auto single = static_cast<boost::match_flag_type>(flags | (lines ? static_cast<unsigned>(boost::match_single_line) : 0u));
        for (const auto& subject : Subjects(text, lines)) {
            const bool crlf = lines && subject.second != subject.first && subject.second[-1] == '\r';
            if (boost::regex_search(subject.first, subject.second, m, e, single) ||
                (crlf && boost::regex_search(subject.first, subject.second - 1, m, e, single))) {
                found.push_back(file);
                break;
            }
        }
    }
    return found;
}

std::vector<Report>* grepSink = nullptr;
std::vector<std::string>* findSink = nullptr;

bool Collect(const char* file, const RegEx& engine)
{
    Report r{file, {}, 0};
    // Line before What: the order of the questions must not matter.
    r.line = engine.Line();
    for (unsigned i = 0; i < engine.Marks(); ++i) {
        const std::uint64_t at = engine.Position(i);
        r.offsets.push_back(at);
        r.offsets.push_back(at == RegEx::npos ? RegEx::npos : at + engine.What(i).size());
    }
    grepSink->push_back(r);
    return true;
}

bool CollectFile(const char* file)
{
    findSink->push_back(file);
    return true;
}

// Random files built from pieces that the test expressions care about.
std::vector<std::string> MakeCorpus(const FileTesting::Tree& tree, unsigned seed)
{
    const std::vector<std::string> pieces = {
        "a", "b", "ab", "ba", "abc", "the", "THE", "The", "x.y", "xzy", "a|b", "-", "\\", "\n", "\r\n", " ",
        " ", "\n\n", std::string("\0", 1), "A", "B", "\xC9", "\xE9", "\xDDt", "it", "IT", "bb", "[", "@", "`"};
    std::mt19937 random(seed);
    std::vector<std::string> names;
    for (int f = 0; f < 12; ++f) {
        std::string text;
        const int length = f == 0 ? 0 : static_cast<int>(random() % 2000);
        while (static_cast<int>(text.size()) < length)
            text += pieces[random() % pieces.size()];
        const std::string name = "d" + std::to_string(f % 3) + "/f" + std::to_string(10 + f) + ".txt";
        tree.Write(name, text);
    }
    // The walk's order: each directory's files, then the next directory.
    for (int d = 0; d < 3; ++d)
        for (int f = 0; f < 12; ++f)
            if (f % 3 == d)
                names.push_back(tree.Path("d" + std::to_string(d) + "/f" + std::to_string(10 + f) + ".txt"));
    return names;
}

const char* const expressions[] = {
    // Plain text and alternations of plain text: the byte-search path.
    "a", "ab", "the", "abc", "ba", "x\\.y", "a\\|b", "\\-", "\\\\", "\xE9", "\n", "\r\n", "\\[", "it",
    "a|b", "ab|a", "a|ab", "the|a|x\\.y", "(ab|ba)", "(?:abc|b)", "(the)", "bb|b",
    // Everything else: the engine.
    "", "a*", "x*", "^a", "a$", "\\bthe\\b", "(a)(b)?", "[ab]+", ".", "a.b", "\\<ab", "b{2}", "a|", "(a|)",
    "(a)|b", "^", "$", "\\`a", "b\\'", "(?i)the", "\\Qa|b\\E", "a\\b"};

const unsigned flagSets[] = {
    0,
    boost::match_not_bol,
    boost::match_not_eol | boost::match_not_eob,
    boost::match_not_null,
    boost::match_continuous,
    boost::match_any,
    boost::match_not_dot_newline | boost::match_not_dot_null,
    boost::match_prev_avail,
    boost::match_not_bow | boost::match_not_eow | boost::match_not_bob,
};

}  // namespace

class CrossCheckThreads : public ::testing::TestWithParam<unsigned> {};

TEST_P(CrossCheckThreads, GrepAndFindAgreeWithThePlainReference)
{
    FileTesting::Tree tree;
    const std::vector<std::string> files = MakeCorpus(tree, 11 + GetParam());
    const std::string pattern = tree.Root() + "/*.txt";
    // Under the thread checker (QUORVEX_TEST_SHORT set) every third set of
    // match flags is enough: what it looks at is the hand-over between the
    // threads, which the flags do not change, and each case costs it much.
    const bool shortRun = std::getenv("QUORVEX_TEST_SHORT") != nullptr;
    for (const bool lines : {false, true}) {
        const unsigned threads = GetParam();
        RegEx engine;
        engine.SetSearchThreads(threads);
        engine.SetLineMode(lines);
        for (const char* expression : expressions) {
            for (const bool icase : {false, true}) {
                ASSERT_EQ(engine.SetExpression(expression, icase), 0u) << expression;
                for (std::size_t f = 0; f < std::size(flagSets); f += shortRun ? 3 : 1) {
                    const unsigned flags = flagSets[f];
                    std::vector<Report> got;
                    grepSink = &got;
                    const unsigned count = engine.GrepFiles(Collect, pattern, true, flags);
                    const auto expected = ReferenceGrep(files, expression, icase, flags, lines);
                    ASSERT_EQ(got, expected) << "/" << expression << "/ icase " << icase << " flags " << flags
                                             << " threads " << threads << " lines " << lines;
                    ASSERT_EQ(count, expected.size());

                    std::vector<std::string> found;
                    findSink = &found;
                    const unsigned files_reported = engine.FindFiles(CollectFile, pattern, true, flags);
                    EXPECT_EQ(files_reported, found.size());
                    ASSERT_EQ(found, ReferenceFind(files, expression, icase, flags, lines))
                        << "/" << expression << "/ icase " << icase << " flags " << flags << " lines " << lines;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, CrossCheckThreads, ::testing::Values(1u, 3u),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             return "Threads" + std::to_string(info.param);
                         });

// `text` as a normal-syntax expression matching exactly its bytes.
std::string Quoted(const std::string& text)
{
    std::string quoted;
    for (const char c : text) {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos)
            quoted += '\\';
        quoted += c;
    }
    return quoted;
}

// The objects' file operations hand the walk their own compilation. With the
// default compile options it finds exactly what the walk's own normal-syntax
// compilation finds; with Literals, what the same text quoted finds.
TEST(CrossCheck, AdoptedCompilationsFindWhatTheReferenceFinds)
{
    using namespace RegexEngine::LegacySyntax;
    FileTesting::Tree tree;
    const std::vector<std::string> files = MakeCorpus(tree, 11);
    const std::string pattern = tree.Root() + "/*.txt";
    const unsigned normalWord = escape_in_lists | char_classes | intervals | bk_refs | nocollate;
    for (const bool lines : {false, true}) {
        for (const char* expression : expressions) {
            if (*expression == '\0')
                continue;  // the objects never walk an empty expression
            for (const bool icase : {false, true}) {
                for (const bool literalText : {false, true}) {
                    boost::regex compiled;
                    const unsigned word = (literalText ? literal : normalWord) | (icase ? RegexEngine::LegacySyntax::icase : 0u);
                    ASSERT_EQ(RegexEngine::CompileExpression(compiled, expression, word, std::locale()), 0);
                    RegEx engine;
                    engine.SetLineMode(lines);
                    ASSERT_EQ(engine.SetExpression(compiled, expression), 0u) << expression;
                    const std::string reference = literalText ? Quoted(expression) : std::string(expression);
                    for (const unsigned flags : {0u, unsigned(boost::match_not_dot_newline)}) {
                        std::vector<Report> got;
                        grepSink = &got;
                        engine.GrepFiles(Collect, pattern, true, flags);
                        ASSERT_EQ(got, ReferenceGrep(files, reference, icase, flags, lines))
                            << "/" << expression << "/ literal " << literalText << " icase " << icase << " lines "
                            << lines;
                    }
                }
            }
        }
    }
}

struct LiteralRow {
    const char* expression;
    unsigned marks;
    bool fast;
};

TEST(CrossCheck, ThePlainPathTakesPlainTextOnly)
{
    // If these drift, the cross-check above stops covering the byte search.
    const LiteralRow rows[] = {
        {"a", 0, true},         {"x\\.y", 0, true},    {"a|b", 0, true},        {"(ab|ba)", 1, true},
        {"(?:abc|b)", 0, true}, {"\\-", 0, true},      {"a*", 0, false},        {"", 0, false},
        {"a|", 0, false},       {"(a)|b", 1, false},   {"(a)(b)", 2, false},    {"\\bthe", 0, false},
        {"\\Qa\\E", 0, true},  {"(?i)a", 0, false},   {"a\\", 0, false},       {"\\<a", 0, false},
        {"(a|b", 1, false},     {"a{2}", 0, true},    {"[a]", 0, true},       {"^a", 0, false},
    };
    for (const auto& row : rows)
        for (const bool icase : {false, true})
            EXPECT_EQ(RegexEngine::LiteralFinder::Make(row.expression, icase, std::locale(), row.marks) != nullptr,
                      row.fast)
                << row.expression;
    EXPECT_TRUE(RegexEngine::LiteralFinder::FlagsAllow(boost::match_not_bol | boost::match_not_null));
    EXPECT_FALSE(RegexEngine::LiteralFinder::FlagsAllow(boost::match_continuous));
    EXPECT_FALSE(RegexEngine::LiteralFinder::FlagsAllow(boost::match_any));
    EXPECT_FALSE(RegexEngine::LiteralFinder::FlagsAllow(boost::match_partial));
}

namespace {

struct Starts final : RegexEngine::MatchSink {
    bool Take(const std::uint64_t* offsets) override
    {
        at.push_back(offsets[0]);
        return true;
    }
    std::vector<std::uint64_t> at;
};

}  // namespace

// The byte search with the text at every offset of buffers of every length
// up to past two of its widest steps, among near misses (every probe byte
// present), with and without case: the places of a plain search.
TEST(CrossCheck, ByteSearchFindsEveryPlaceAtEveryOffset)
{
    for (const bool icase : {false, true}) {
        const auto finder = RegexEngine::LiteralFinder::ForTexts({"TODO"}, icase, std::locale());
        ASSERT_NE(finder, nullptr);
        for (std::size_t size = 4; size <= 80; ++size) {
            for (std::size_t at = 0; at + 4 <= size; ++at) {
                std::string text;
                for (std::size_t i = 0; text.size() < size; ++i)
                    text += (icase && i % 2 == 0) ? "tOd" : "TOD";
                text.resize(size);
                text.replace(at, 4, icase && at % 2 == 1 ? "todo" : "TODO");
                std::vector<std::uint64_t> expected;
                for (std::size_t i = 0; i + 4 <= size;) {
                    std::string piece = text.substr(i, 4);
                    if (icase)
                        std::transform(piece.begin(), piece.end(), piece.begin(), ::toupper);
                    if (piece == "TODO") {
                        expected.push_back(i);
                        i += 4;
                    } else {
                        ++i;
                    }
                }
                Starts got;
                finder->Search(text.data(), text.size(), got);
                ASSERT_EQ(got.at, expected) << "icase " << icase << " size " << size << " at " << at;
            }
        }
    }
}

namespace {

// A locale in which byte 0xDD is an upper case of 'i', as in some 8-bit
// encodings: case-folding by `| 0x20` alone would miss it.
class DottedCapitalI : public std::ctype<char> {
protected:
    char do_tolower(char c) const override
    {
        return static_cast<unsigned char>(c) == 0xDD ? 'i' : std::ctype<char>::do_tolower(c);
    }
    const char* do_tolower(char* first, const char* last) const override
    {
        for (; first != last; ++first)
            *first = do_tolower(*first);
        return last;
    }
};

}  // namespace

TEST(CrossCheck, CaseFoldingFollowsTheExpressionsLocale)
{
    FileTesting::Tree tree;
    tree.Write("a.txt", "\xDDT it IT iT \xDD ab AB");
    const std::locale dotted(std::locale::classic(), new DottedCapitalI);
    EXPECT_EQ(RegexEngine::LiteralFinder::Make("it", true, dotted, 0), nullptr);
    EXPECT_NE(RegexEngine::LiteralFinder::Make("ab", true, dotted, 0), nullptr);

    const std::locale previous = std::locale::global(dotted);
    std::vector<Report> got;
    grepSink = &got;
    RegEx engine;
    const unsigned error = engine.SetExpression("it", true);
    engine.GrepFiles(Collect, tree.Path("a.txt"), false, 0);
    std::vector<Report> expected;
    {
        boost::regex e("it", boost::regex::normal | boost::regex::icase);
        expected = {};
        std::string text = ReadAll(tree.Path("a.txt"));
        for (boost::cregex_iterator it(text.data(), text.data() + text.size(), e), end; it != end; ++it)
            expected.push_back(Report{tree.Path("a.txt"),
                                      {std::uint64_t(it->position()), std::uint64_t(it->position() + it->length())},
                                      1});
    }
    std::locale::global(previous);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(expected.size(), 4u);  // the engine does fold 0xDD here
    EXPECT_EQ(got, expected);
}

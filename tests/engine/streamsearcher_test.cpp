// The streaming searcher: block by block and window by window it must give
// the matches of the engine over each line (or over the whole subject), for
// generated expressions and for the line ends that trip a line reader.
#include <cstdlib>
#include <string>
#include <vector>

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include "Differential.h"
#include "Filesearcher.h"
#include "Streamsearcher.h"

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

// Lines selected by `expression` over `subject` read `block` bytes at a time:
// "number:offset:line" for each line with a match.
struct Lines final : StreamSink {
    StreamAnswer Match(const StreamMatch& m) override
    {
        got.push_back(std::to_string(m.lineNumber) + ":" + std::to_string(m.lineStart) + ":" +
                      std::string(m.line, m.lineSize));
        return StreamAnswer::Go;
    }
    std::vector<std::string> got;
};

std::vector<std::string> SelectLines(const char* expression, const std::string& subject, std::size_t block,
                                     bool binary = false, bool nullData = false)
{
    unsigned error = 0;
    const auto pattern = CompilePattern(expression, false, error);
    EXPECT_TRUE(pattern != nullptr) << expression;
    StreamSettings settings;
    settings.firstOfLine = true;
    settings.countLines = true;
    settings.blockSize = block;
    settings.nulEndsLine = binary;
    settings.nullData = nullData;
    StreamSearcher searcher(*pattern, settings);
    SearchSource source;
    source.Assign(subject.data(), subject.size());
    Lines sink;
    std::string text;
    EXPECT_EQ(searcher.Search(source, sink, text), StreamEnd::Finished);
    // Counting only gives as many lines, and no match.
    settings.countOnly = true;
    StreamSearcher counter(*pattern, settings);
    source.Assign(subject.data(), subject.size());
    Differential::StreamTally tally;
    EXPECT_EQ(counter.Search(source, tally, text), StreamEnd::Finished);
    EXPECT_EQ(tally.lines, sink.got.size()) << expression << " block " << block;
    EXPECT_EQ(tally.handedOut, 0u);
    return sink.got;
}

}  // namespace

TEST(StreamSearcher, GivesTheEnginesMatchesOverEachLineBlockByBlock)
{
    const char* seedText = std::getenv("QUORVEX_DIFFERENTIAL_SEED");
    Differential::Generator generate(seedText ? static_cast<std::uint32_t>(std::atoi(seedText)) : 20261209u);
    unsigned compared = 0, prefiltered = 0;
    for (int n = 0; n < 1500; ++n) {
        const std::string text = generate.Expression();
        const bool icase = generate.Pick(4) == 0;
        boost::regex e;
        e.assign(text, boost::regex::normal | boost::regex::no_except | (icase ? boost::regex::icase : boost::regex::normal));
        if (e.status() != 0)
            continue;
        const unsigned flags = generate.Flags() & ~static_cast<unsigned>(boost::match_not_bob | boost::match_not_eob);
        // Several subjects end to end, so that blocks hold many lines.
        std::string subject;
        for (int k = 0; k < 4; ++k)
            subject += generate.Subject();
        const bool first = generate.Pick(2) == 0;
        Differential::Matches expected, got;
        if (!Differential::Reference(e, subject, flags, true, expected, first, true))
            continue;
        for (const std::size_t block : {1u, 5u, 4096u}) {
            unsigned wrongViews = 0;
            bool automaton = false;
            ASSERT_TRUE(Differential::Stream(e, text, subject, icase, flags, true, block, got, wrongViews, first, &automaton));
            ++compared;
            prefiltered += automaton ? 1 : 0;
            ASSERT_EQ(got, expected) << "/" << text << "/ flags " << std::hex << flags << std::dec << " block " << block
                                     << " on \"" << Show(subject) << "\"";
            ASSERT_EQ(wrongViews, 0u) << "/" << text << "/ block " << block << " on \"" << Show(subject) << "\"";
            // Counting only (grep -c): the lines holding a match.
            std::uint64_t counted = 0;
            ASSERT_TRUE(Differential::StreamCount(e, text, subject, icase, flags, block, counted));
            ASSERT_EQ(counted, Differential::LinesWith(subject, expected))
                << "/" << text << "/ flags " << std::hex << flags << std::dec << " block " << block << " on \""
                << Show(subject) << "\"";
        }
    }
    EXPECT_GT(compared, 3000u);
    // Expressions without a literal went through the automaton prefilter.
    if (AutomatonPrefilter::Available()) {
        EXPECT_GT(prefiltered, 100u);
    }
}

TEST(StreamSearcher, GivesTheEnginesMatchesOverTheWholeSubjectWindowByWindow)
{
    Differential::Generator generate(20261210u);
    unsigned compared = 0, wrong = 0;
    for (int n = 0; n < 1500; ++n) {
        const std::string text = generate.Expression();
        boost::regex e;
        e.assign(text, boost::regex::normal | boost::regex::no_except);
        // \G answers where a search starts, which a window moves.
        if (e.status() != 0 || text.find("\\G") != std::string::npos)
            continue;
        std::string subject;
        for (int k = 0; k < 40; ++k)
            subject += generate.Subject();
        Differential::Matches expected, got;
        if (!Differential::Reference(e, subject, 0, false, expected))
            continue;
        for (const std::size_t window : {1024u, 2048u}) {
            unsigned wrongViews = 0;
            ASSERT_TRUE(Differential::Stream(e, text, subject, false, 0, false, window, got, wrongViews));
            ++compared;
            if (got != expected) { ++wrong; if (wrong < 4) ADD_FAILURE() << "/" << text << "/ window " << window << " on \"" << Show(subject) << "\""; }
        }
    }
    EXPECT_GT(compared, 2000u);
    EXPECT_EQ(wrong, 0u);
}

TEST(StreamSearcher, HandsOutWholeLinesAroundEachMatchWindowByWindow)
{
    // Whole-buffer mode in blocks of whole lines (for printers): the same
    // matches as over the whole subject, each handed out in a block holding
    // every line it touches, blocks in order and covering the subject.
    Differential::Generator generate(20261211u);
    unsigned compared = 0, wrong = 0;
    for (int n = 0; n < 800; ++n) {
        const std::string text = generate.Expression();
        boost::regex e;
        e.assign(text, boost::regex::normal | boost::regex::no_except);
        if (e.status() != 0 || text.find("\\G") != std::string::npos)
            continue;
        std::string subject;
        for (int k = 0; k < 30; ++k)
            subject += generate.Subject();
        Differential::Matches expected, got;
        if (!Differential::Reference(e, subject, 0, false, expected))
            continue;
        for (const std::size_t window : {1024u, 2048u}) {
            unsigned wrongViews = 0;
            ASSERT_TRUE(Differential::Stream(e, text, subject, false, 0, false, window, got, wrongViews, false,
                                             nullptr, true, n % 3));
            ++compared;
            if (got != expected || wrongViews != 0) {
                ++wrong;
                if (wrong < 4)
                    ADD_FAILURE() << "/" << text << "/ window " << window << " keep " << n % 3 << " wrong views "
                                  << wrongViews << " on \"" << Show(subject) << "\"";
            }
        }
    }
    EXPECT_GT(compared, 1000u);
    EXPECT_EQ(wrong, 0u);
}

TEST(StreamSearcher, FindsMatchesAcrossWindowEdgesWhole)
{
    struct Row {
        const char* expression;
        std::string subject;
    };
    const std::string long1(100, 'a');
    const Row rows[] = {
        {"a+", "xx" + long1 + "y" + long1},                 // longer than any window
        {"abcd|ab", "0123456abcd ab abc abcd"},             // the longer alternative past the edge
        {"b\\nc", "aaaaaaab\ncaaaaaaaaab\nc"},              // across lines
        {"^\\w+$", "one\ntwo\n\nthree four\nfive"},
        {"x*", "abxxc" + long1 + "xx"},                     // empty matches at every place
        {"(?<=a)b", "aaaaaaaaaaaaaaab" + long1 + "b"},       // looking back over the edge
        {"\\Aa", long1},                                    // only at the very start
        {"a\\z", long1},
    };
    for (const Row& row : rows) {
        const boost::regex e(row.expression);
        Differential::Matches expected, got;
        ASSERT_TRUE(Differential::Reference(e, row.subject, 0, false, expected));
        for (const std::size_t window : {8u, 16u, 1u << 16, 1u << 23}) {
            unsigned wrongViews = 0;
            ASSERT_TRUE(Differential::Stream(e, row.expression, row.subject, false, 0, false, window, got, wrongViews));
            EXPECT_EQ(got, expected) << row.expression << " window " << window << " on " << Show(row.subject);
            ASSERT_TRUE(Differential::Stream(e, row.expression, row.subject, false, 0, false, window, got, wrongViews,
                                             false, nullptr, true, 1));
            EXPECT_EQ(got, expected) << row.expression << " in blocks, window " << window << " on " << Show(row.subject);
            EXPECT_EQ(wrongViews, 0u) << row.expression << " in blocks, window " << window;
        }
    }
}

TEST(StreamSearcher, EndsLinesOnlyAtTheirTerminator)
{
    struct Row {
        const char* expression;
        std::string subject;
        std::vector<std::string> lines;  // for every block size
        bool binary;
        bool nullData;
    };
    const std::string longLine(300000, 'q');
    const Row rows[] = {
        {"^done", "progress 10%\rdone\n", {}, false, false},
        {"done$", "progress\rdone\r\n", {"1:0:progress\rdone\r"}, false, false},  // $ before a CRLF's \r
        {"^b", "a\fb\nb\n", {"2:4:b"}, false, false},
        {"^$", "a\n\n\nb\n\n", {"2:2:", "3:3:", "5:6:"}, false, false},
        {"^$", "", {}, false, false},
        {"x*", "a\n\n", {"1:0:a", "2:2:"}, false, false},  // no line after the last line feed
        {"$", "ab", {"1:0:ab"}, false, false},
        {"an", "an an\r\nban\nx\n", {"1:0:an an\r", "2:7:ban"}, false, false},  // twice on a line: one line
        {"c$", "a\nbc", {"2:2:bc"}, false, false},  // no final line feed
        {"z", "a\nq" + longLine + "z\nz", {"2:2:q" + longLine + "z", "3:300005:z"}, false, false},
        {"^b", std::string("a\0b\nb", 5), {"2:2:b", "3:4:b"}, true, false},  // NUL ends lines in binary data
        {"^b", std::string("a\0b\nb", 5), {"2:4:b"}, false, false},
        {"^b$", std::string("a\0b\nc\0b", 7), {"3:6:b"}, false, true},  // null data: NUL ends records, ^ $ at their edges only
    };
    for (const Row& row : rows)
        for (const std::size_t block : {1u, 3u, 65536u})
            EXPECT_EQ(SelectLines(row.expression, row.subject, block, row.binary, row.nullData), row.lines)
                << row.expression << " block " << block << " on " << Show(row.subject.substr(0, 40));
}

// One read buffer through a run of searches, as a walk's thread has it: an
// input searched after one whose long line or window grew the buffer (or
// that left other bytes in it) gives the lines and numbers it gives alone.
TEST(StreamSearcher, ABufferLeftByAnEarlierSearchChangesNothing)
{
    const std::string huge = "needle 1\n" + std::string(3 << 20, 'x') + " needle\nneedle 3\n";  // past keptBuffer
    const std::string large = std::string(300000, 'y') + "\nneedle 2\n" + std::string(200000, 'n') + "\n";
    const std::string small = "a\nneedle one\nb\n\nneedle two\nc needle";
    const struct {
        const std::string* first;
        bool firstLines;       // false: whole-buffer mode in windows (-U over a stream)
        std::size_t window;    // of the first search
        const std::string* then;
        std::size_t block;     // of the second search, line mode
    } rows[] = {
        {&huge, true, 0, &small, 4096},   {&huge, true, 0, &large, 4096},  {&large, true, 0, &small, 7},
        {&large, true, 0, &huge, 65536},  {&huge, false, 4096, &small, 5}, {&large, false, 1 << 16, &small, 65536},
        {&large, false, 1 << 16, &large, 4096}, {&small, true, 0, &small, 1},
    };
    unsigned error = 0;
    const auto pattern = CompilePattern("needle", false, error);
    ASSERT_TRUE(pattern != nullptr);
    StreamSettings lines;
    lines.countLines = true;
    StreamSettings whole = lines;
    whole.lines = false;
    whole.wholeLines = true;
    for (const auto& row : rows) {
        ReadBuffer buffer;
        std::string text;
        SearchSource source;
        Lines first, alone, after;
        StreamSettings firstSettings = row.firstLines ? lines : whole;
        firstSettings.window = row.window;
        StreamSearcher before(*pattern, firstSettings, &buffer);
        source.Assign(row.first->data(), row.first->size());
        ASSERT_EQ(row.firstLines ? before.Search(source, first, text) : before.SearchWindows(source, first, text),
                  StreamEnd::Finished);
        // A buffer grown past what is kept is given back; a smaller one stays.
        EXPECT_EQ(buffer.Size() == 0, row.first == &huge) << buffer.Size();
        StreamSettings thenSettings = lines;
        thenSettings.blockSize = row.block;
        StreamSearcher fresh(*pattern, thenSettings);
        source.Assign(row.then->data(), row.then->size());
        ASSERT_EQ(fresh.Search(source, alone, text), StreamEnd::Finished);
        StreamSearcher reused(*pattern, thenSettings, &buffer);
        source.Assign(row.then->data(), row.then->size());
        ASSERT_EQ(reused.Search(source, after, text), StreamEnd::Finished);
        EXPECT_TRUE(after.got == alone.got) << after.got.size() << " lines, alone " << alone.got.size() << "; "
                                            << row.then->size() << " bytes after " << row.first->size() << ", block "
                                        << row.block;
        if (row.then == &small) {
            EXPECT_EQ(after.got, (std::vector<std::string>{"2:2:needle one", "5:16:needle two", "6:27:c needle"}));
        }
    }
}

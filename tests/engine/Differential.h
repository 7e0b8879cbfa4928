// Generated expressions and subjects, and the comparison of the search driver
// against the engine's plain grep over the whole buffer (or over each line on
// its own in line mode). Shared by the differential test and the fuzz target.
#ifndef QUORVEX_TESTS_ENGINE_DIFFERENTIAL_H
#define QUORVEX_TESTS_ENGINE_DIFFERENTIAL_H

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <boost/regex.hpp>

#include "Automatonprefilter.h"
#include "Filesearcher.h"
#include "Searchdriver.h"
#include "Streamsearcher.h"
#include "Unicodeexpression.h"

namespace Differential {

// Every match as offsets (start, end per sub-match; all ones for none).
using Matches = std::vector<std::vector<std::uint64_t>>;

class Collect final : public RegexEngine::MatchSink {
public:
    explicit Collect(unsigned marks) : marks_(marks) {}
    bool Take(const std::uint64_t* offsets) override
    {
        matches.emplace_back(offsets, offsets + 2 * marks_);
        return true;
    }
    Matches matches;

private:
    unsigned marks_;
};

// Line mode's rule for one line [line, feed): a single line for the engine; a
// line ending in a carriage return searched first without it, then whole for
// the matches that begin at or after the end of the last match found and reach
// past the carriage return (all of them when the first search found none).
// `grep(first, last, keep)` hands out the matches of [first, last) for which
// keep(match start, match end) holds and answers whether it handed out one.
template <class GrepLine>
void SearchLineByRule(const char* line, const char* feed, bool firstOfLine, GrepLine grep)
{
    const auto all = [](const char*, const char*) { return true; };
    if (feed == line || feed[-1] != '\r' || !grep(line, feed - 1, all)) {
        grep(line, feed, all);
        return;
    }
    if (firstOfLine)
        return;
    const char* from = line;
    grep(line, feed - 1, [&](const char*, const char* matchEnd) {
        from = matchEnd;
        return false;
    });
    grep(line, feed, [&](const char* start, const char* matchEnd) { return start >= from && matchEnd == feed; });
}

// The reference; false when the engine gave up on it. With `firstOfLine` (in
// line mode) only each line's first match. `feedOnly` is kept for callers:
// line mode always follows SearchLineByRule.
inline bool Reference(const boost::regex& e, const std::string& subject, unsigned flags, bool lines, Matches& out,
                      bool firstOfLine = false, bool feedOnly = false)
{
    (void)feedOnly;
    const char* base = subject.data();
    const char* end = base + subject.size();
    const unsigned marks = static_cast<unsigned>(e.mark_count()) + 1;
    auto take = [&](const boost::match_results<const char*>& m) {
        std::vector<std::uint64_t> o;
        for (unsigned i = 0; i < marks; ++i) {
            const bool took = i < m.size() && m[i].matched;
            o.push_back(took ? std::uint64_t(m[i].first - base) : RegexEngine::noOffset);
            o.push_back(took ? std::uint64_t(m[i].second - base) : RegexEngine::noOffset);
        }
        out.push_back(o);
        return !(lines && firstOfLine);
    };
    const auto f = static_cast<boost::match_flag_type>(flags);
    try {
        if (!lines) {
            boost::regex_grep(take, base, end, e, f);
        } else {
            for (const char* p = base; p != end;) {
                const char* feed = std::find(p, end, '\n');
                SearchLineByRule(p, feed, firstOfLine, [&](const char* first, const char* last, auto keep) {
                    const std::size_t before = out.size();
                    boost::regex_grep(
                        [&](const boost::match_results<const char*>& m) {
                            return !keep(m[0].first, m[0].second) || take(m);
                        },
                        first, last, e, f | boost::match_single_line);
                    return out.size() != before;
                });
                p = feed == end ? end : feed + 1;
            }
        }
    } catch (const std::runtime_error&) {
        return false;
    }
    return true;
}

// The driver; false when it reported a matching error.
inline bool Driver(const boost::regex& e, const RegexEngine::SearchPlan* plan, const std::string& subject,
                   unsigned flags, bool lines, Matches& out, bool firstOfLine = false)
{
    const unsigned marks = static_cast<unsigned>(e.mark_count()) + 1;
    Collect sink(marks);
    std::string error;
    const auto end = RegexEngine::RunSearch(e, marks, plan, subject.data(), subject.size(),
                                            flags | (lines ? RegexEngine::lineModeFlag : 0u) |
                                                (firstOfLine ? RegexEngine::firstOfLineFlag : 0u),
                                            sink, error);
    out = sink.matches;
    return end != RegexEngine::SearchEnd::Failed;
}

// The file searcher (SearchBuffer) with `pattern` (as CompilePattern makes
// it: byte-search plan and automaton prefilter), over the whole buffer or, in
// line mode, each line ending only at its line feed (feedOnlyFlag); false when
// it reported a matching error. `prefiltered` tells whether the automaton's
// candidate spans or lines were searched.
inline bool Searcher(const RegexEngine::CompiledPattern& pattern, const std::string& subject, unsigned flags,
                     bool lines, Matches& out, bool firstOfLine = false, bool* prefiltered = nullptr)
{
    if (lines)
        flags |= RegexEngine::lineModeFlag | RegexEngine::feedOnlyFlag | (firstOfLine ? RegexEngine::firstOfLineFlag : 0u);
    if (prefiltered != nullptr)
        *prefiltered = pattern.prefilter != nullptr &&
                       (lines ? RegexEngine::PrefersCandidateSpans(pattern.plan.get(), flags) ||
                                    RegexEngine::ChooseSearchPath(pattern.plan.get(), flags) ==
                                        RegexEngine::SearchPath::LinesWithText
                              : pattern.prefilter->ServesWholeBuffer() &&
                                    RegexEngine::PrefersCandidateSpans(pattern.plan.get(), flags));
    Collect sink(pattern.marks);
    std::string message;
    const auto end = RegexEngine::SearchBuffer(pattern, subject.data(), subject.size(), flags, sink, message);
    out = sink.matches;
    return end != RegexEngine::SearchEnd::Failed;
}

// The same with `text` compiled by CompilePattern; false also when it does
// not compile.
inline bool Searcher(const std::string& text, bool icase, const std::string& subject, unsigned flags, bool lines,
                     Matches& out, bool firstOfLine = false, bool* prefiltered = nullptr)
{
    unsigned error = 0;
    const auto pattern = RegexEngine::CompilePattern(text.c_str(), icase, error);
    return pattern && Searcher(*pattern, subject, flags, lines, out, firstOfLine, prefiltered);
}

// The streaming searcher over `subject` in memory, read `block` bytes at a
// time (line mode), or in windows of `block` bytes (whole-buffer mode, the
// subject read as a stream); false when it reported a matching error. Each
// match's line number and line view are checked against the subject.
//
// With `whole` (whole-buffer mode with wholeLines) the line view spans to the
// end of the line holding the match's last byte, and the blocks are checked
// too: their bytes are the subject's, their new lines follow on from the last
// block's and are whole, their first line's number is right, every match and
// the lines it touches lie in its block's new lines, and together they cover
// the subject; a wrong block counts as a wrong view.
class StreamCollect final : public RegexEngine::StreamSink {
public:
    explicit StreamCollect(const std::string& subject, bool whole = false, std::size_t keepLines = 0)
        : subject_(subject), whole_(whole), keepLines_(keepLines)
    {
    }
    RegexEngine::StreamAnswer Match(const RegexEngine::StreamMatch& m) override
    {
        matches.emplace_back(m.offsets, m.offsets + 2 * m.marks);
        const std::string before = subject_.substr(0, static_cast<std::size_t>(m.start));
        const std::uint64_t line = 1 + static_cast<std::uint64_t>(std::count(before.begin(), before.end(), '\n'));
        const std::size_t lineStart = before.rfind('\n') == std::string::npos ? 0 : before.rfind('\n') + 1;
        std::size_t last = static_cast<std::size_t>(m.start);
        if (whole_ && m.end > m.start)
            last = static_cast<std::size_t>(m.end - 1);
        const std::size_t lineEnd = std::min(subject_.find('\n', last), subject_.size());
        if (m.lineNumber != line || m.lineStart != lineStart ||
            std::string(m.line, m.lineSize) != subject_.substr(lineStart, lineEnd - lineStart) ||
            std::string(m.match, static_cast<std::size_t>(m.end - m.start)) !=
                subject_.substr(static_cast<std::size_t>(m.start), static_cast<std::size_t>(m.end - m.start)))
            ++wrongViews;
        if (whole_ && (!inBlock_ || lineStart < newStart_ || (lineEnd < subject_.size() ? lineEnd + 1 : lineEnd) > newEnd_))
            ++wrongViews;
        return RegexEngine::StreamAnswer::Go;
    }
    RegexEngine::StreamAnswer Block(const RegexEngine::StreamBlock& b) override
    {
        if (!whole_)
            return RegexEngine::StreamAnswer::Go;
        inBlock_ = true;
        newStart_ = static_cast<std::size_t>(b.offset) + b.kept;
        newEnd_ = static_cast<std::size_t>(b.offset) + b.size;
        // Kept lines: as many as asked where the subject has them, whole.
        std::size_t keptLines = 0;
        for (std::size_t i = static_cast<std::size_t>(b.offset); i < newStart_; ++i)
            keptLines += subject_[i] == '\n';
        const std::size_t linesBefore = static_cast<std::size_t>(std::count(subject_.begin(), subject_.begin() + newStart_, '\n'));
        if (newStart_ != covered_ || newEnd_ > subject_.size() || newEnd_ < newStart_ ||
            std::string(b.data, b.size) != subject_.substr(static_cast<std::size_t>(b.offset), b.size) ||
            (b.offset > 0 && subject_[static_cast<std::size_t>(b.offset) - 1] != '\n') ||
            (newEnd_ < subject_.size() && newEnd_ > 0 && subject_[newEnd_ - 1] != '\n') ||
            keptLines != std::min(keepLines_, linesBefore) || b.line != 1 + linesBefore)
            ++wrongViews;
        return RegexEngine::StreamAnswer::Go;
    }
    RegexEngine::StreamAnswer BlockDone(const RegexEngine::StreamBlock&) override
    {
        inBlock_ = false;
        covered_ = newEnd_;
        return RegexEngine::StreamAnswer::Go;
    }
    // Whether the blocks covered the whole subject (whole mode).
    bool Covered() const { return !whole_ || covered_ == subject_.size(); }
    Matches matches;
    unsigned wrongViews = 0;

private:
    const std::string& subject_;
    const bool whole_;
    const std::size_t keepLines_;
    bool inBlock_ = false;
    std::size_t newStart_ = 0, newEnd_ = 0, covered_ = 0;
};

inline bool Stream(const boost::regex& e, const std::string& text, const std::string& subject, bool icase,
                   unsigned flags, bool lines, std::size_t block, Matches& out, unsigned& wrongViews,
                   bool firstOfLine = false, bool* prefiltered = nullptr, bool wholeLines = false,
                   std::size_t keepLines = 0)
{
    RegexEngine::CompiledPattern pattern;
    pattern.expression = e;
    pattern.marks = static_cast<unsigned>(e.mark_count()) + 1;
    pattern.plan = RegexEngine::PlanSearch(text, icase, e, pattern.marks);
    // As the compiler of patterns does: the automaton prefilter where no
    // literal worth looking for is found.
    if (RegexEngine::PrefersCandidateSpans(pattern.plan.get(), RegexEngine::lineModeFlag) ||
        RegexEngine::PrefersCandidateSpans(pattern.plan.get(), 0))
        pattern.prefilter = RegexEngine::AutomatonPrefilter::Build(text, icase, e);
    if (prefiltered != nullptr)
        *prefiltered = pattern.prefilter != nullptr && lines &&
                       RegexEngine::PrefersCandidateSpans(pattern.plan.get(), flags | RegexEngine::lineModeFlag);
    RegexEngine::StreamSettings settings;
    settings.flags = flags;
    settings.lines = lines;
    settings.firstOfLine = firstOfLine;
    settings.countLines = true;
    settings.blockSize = block;
    settings.window = block;
    settings.wholeLines = wholeLines;
    settings.keepLines = keepLines;
    RegexEngine::StreamSearcher searcher(pattern, settings);
    RegexEngine::SearchSource source;
    std::string error;
    StreamCollect sink(subject, wholeLines && !lines, keepLines);
    RegexEngine::StreamEnd end;
    if (lines) {
        source.Assign(subject.data(), subject.size());
        end = searcher.Search(source, sink, error);
    } else {
        // Whole-buffer mode reads a stream in windows: hand it the bytes
        // window by window (memory bytes would otherwise be searched at once).
        source.Assign(subject.data(), subject.size());
        end = searcher.SearchWindows(source, sink, error);
    }
    out = sink.matches;
    wrongViews = sink.wrongViews + (sink.Covered() ? 0u : 1u);
    return end != RegexEngine::StreamEnd::MatchFailed;
}

// Lines of `subject` holding one of `matches` (line mode).
inline std::uint64_t LinesWith(const std::string& subject, const Matches& matches)
{
    std::uint64_t lines = 0, last = ~std::uint64_t(0);
    for (const auto& m : matches) {
        const auto line = static_cast<std::uint64_t>(std::count(subject.begin(), subject.begin() + m[0], '\n'));
        if (line != last)
            ++lines;
        last = line;
    }
    return lines;
}

// The streaming searcher in line mode counting the lines that hold a match
// (countOnly), `block` bytes at a time; false when it reported a matching
// error or handed out a match.
class StreamTally final : public RegexEngine::StreamSink {
public:
    RegexEngine::StreamAnswer Match(const RegexEngine::StreamMatch&) override
    {
        ++handedOut;
        return RegexEngine::StreamAnswer::Go;
    }
    RegexEngine::StreamAnswer BlockDone(const RegexEngine::StreamBlock& block) override
    {
        lines += block.matched;
        return RegexEngine::StreamAnswer::Go;
    }
    std::uint64_t lines = 0;
    unsigned handedOut = 0;
};

inline bool StreamCount(const boost::regex& e, const std::string& text, const std::string& subject, bool icase,
                        unsigned flags, std::size_t block, std::uint64_t& lines)
{
    RegexEngine::CompiledPattern pattern;
    pattern.expression = e;
    pattern.marks = static_cast<unsigned>(e.mark_count()) + 1;
    pattern.plan = RegexEngine::PlanSearch(text, icase, e, pattern.marks);
    if (RegexEngine::NoUsableLiteral(pattern.plan.get(), RegexEngine::lineModeFlag))
        pattern.prefilter = RegexEngine::AutomatonPrefilter::Build(text, icase, e);
    RegexEngine::StreamSettings settings;
    settings.flags = flags;
    settings.countOnly = true;
    settings.blockSize = block;
    RegexEngine::StreamSearcher searcher(pattern, settings);
    RegexEngine::SearchSource source;
    source.Assign(subject.data(), subject.size());
    StreamTally sink;
    std::string error;
    const RegexEngine::StreamEnd end = searcher.Search(source, sink, error);
    lines = sink.lines;
    return end != RegexEngine::StreamEnd::MatchFailed && sink.handedOut == 0;
}

// Random expressions over the constructs the analyser reads, and some it
// gives up on.
class Generator {
public:
    // With `unicode`, expressions and subjects also take UTF-8 text: several
    // scripts, case variants outside ASCII and broken sequences.
    explicit Generator(std::uint32_t seed, bool unicode = false) : random_(seed), unicode_(unicode) {}

    std::string Expression()
    {
        groups_ = 0;
        return Alternation(3);
    }

    std::string Subject()
    {
        if (unicode_ && Pick(3) != 0)
            return UnicodeSubject();
        static const char* const pieces[] = {"a", "b", "ab", "ba", "abc", "ing", "sing", "x", "A", "B", "AB", "c",
                                             "\n", "\n", "\r\n", " ", "-", ".", "1", "23", "\t", "@", "\n\n", "_", "\r", "\f"};
        std::string s;
        const unsigned n = Pick(24);
        for (unsigned i = 0; i < n; ++i) {
            if (Pick(40) == 0)
                s += std::string("\0", 1);
            else
                s += pieces[Pick(sizeof pieces / sizeof *pieces)];
        }
        if (Pick(3) == 0 && (s.empty() || s.back() != '\n'))
            s += '\n';
        return s;
    }

    unsigned Flags()
    {
        static const unsigned bits[] = {
            boost::match_not_bol,         boost::match_not_eol,       boost::match_not_bob,
            boost::match_not_eob,         boost::match_not_bow,       boost::match_not_eow,
            boost::match_not_dot_newline, boost::match_not_dot_null,  boost::match_any,
            boost::match_not_null,        boost::match_continuous,    boost::match_posix,
        };
        unsigned flags = 0;
        if (Pick(3) == 0)
            return Pick(2) ? 0u : static_cast<unsigned>(boost::match_posix);
        for (const unsigned bit : bits)
            if (Pick(5) == 0)
                flags |= bit;
        return flags;
    }

    unsigned Pick(unsigned n) { return static_cast<unsigned>(random_() % n); }

private:
    std::string Alternation(int depth)
    {
        std::string s = Concatenation(depth);
        while (Pick(5) == 0)
            s += "|" + Concatenation(depth);
        return s;
    }

    std::string Concatenation(int depth)
    {
        std::string s;
        const unsigned n = 1 + Pick(4);
        for (unsigned i = 0; i < n; ++i)
            s += Quantified(depth);
        return s;
    }

    std::string Quantified(int depth)
    {
        static const char* const quantifiers[] = {"*", "+", "?", "{2}", "{1,3}", "{0,2}", "{2,}", "*?", "+?", "??", "*+"};
        std::string atom = Atom(depth);
        if (atom.empty())
            return atom;
        if (Pick(4) == 0)
            atom += quantifiers[Pick(sizeof quantifiers / sizeof *quantifiers)];
        return atom;
    }

    std::string UnicodeSubject()
    {
        // ASCII pieces first (a subject of them alone half of the time),
        // among them the separators and symbols whose classes differ in the
        // mode; then other scripts, case variants and broken sequences.
        static const char* const pieces[] = {
            "a", "ab", "sing", "k", "K", "s", "S", " ", "\n", "\r\n", "\r", "1", "_", "-", ".", "$", "+", "\x1F", "~",
            "\xC3\xA9", "\xC3\x89", "\xC3\xA9" "cole", "\xC3\x89" "COLE", "\xCF\x83", "\xCF\x82", "\xCE\xA3",
            "\xD0\xBE\xD1\x81\xD1\x82\xD1\x8C", "\xD0\x9E\xD0\xA1\xD0\xA2\xD0\xAC", "\xE6\x97\xA5\xE6\x9C\xAC",
            "\xD9\xA3", "\xE2\x84\xAA", "\xC5\xBF", "\xC3\x9F", "\xE1\xBA\x9E", "\xC2\xA0", "\xE2\x80\xA8",
            "\xC3", "\x80", "\xED\xA0\x80", "\xF5", "\xE2\x82", "\xC0\xAF", "\xF0\x9F\x98\x80"};
        const unsigned count = Pick(2) == 0 ? 18 : sizeof pieces / sizeof *pieces;
        std::string s;
        const unsigned n = Pick(24);
        for (unsigned i = 0; i < n; ++i)
            s += pieces[Pick(count)];
        return s;
    }

    std::string UnicodeAtom()
    {
        static const char* const atoms[] = {
            "\xC3\xA9", "\xC3\x89", "\xC3\xA9" "cole", "\xCF\x83", "\xCE\xA3", "\xD0\xBE\xD1\x81\xD1\x82\xD1\x8C",
            "\xE6\x97\xA5", "k", "K", "s", "\xC3\x9F", "\xE2\x84\xAA", "\\d", "\\s", "\\p{Greek}",
            "\\x{E9}", "[\xC3\xA9" "a]", "[^\xC3\xA9]", "[[:digit:]]", "[[:punct:]]", "\\w", ".",
            "\\pL", "[\\p{Lu}x]", "\\p{N}"};
        return atoms[Pick(sizeof atoms / sizeof *atoms)];
    }

    std::string Atom(int depth)
    {
        if (unicode_ && Pick(3) == 0)
            return UnicodeAtom();
        static const char* const literals[] = {"a", "b", "c", "ab", "ing", "A", "x", "\\.", "-", " ", "@", "\\n",
                                               "\\t", "1", "_", "sing", "B", "ba"};
        static const char* const classes[] = {"[ab]", "[^a]", "[a-c]", "\\w", "\\d", "\\s", "\\W", "\\D", "\\S",
                                              "[[:alpha:]]", "[^\\n]", "[A-Z]", "[\\n a]", "[Bb]", "."};
        static const char* const assertions[] = {"^", "$", "\\b", "\\B", "\\<", "\\>", "\\A", "\\z", "\\'", "\\`"};
        static const char* const unknown[] = {"(?=a)", "(?!b)", "\\Z", "(?i)a", "(?<=a)b", "\\x41", "\\G"};
        const unsigned kind = Pick(depth > 0 ? 20 : 14);
        if (kind < 7)
            return literals[Pick(sizeof literals / sizeof *literals)];
        if (kind < 10)
            return classes[Pick(sizeof classes / sizeof *classes)];
        if (kind < 12)
            return Pick(2) == 0 ? std::string(assertions[Pick(sizeof assertions / sizeof *assertions)])
                                : std::string(literals[Pick(sizeof literals / sizeof *literals)]);
        if (kind == 12)
            return groups_ > 0 && Pick(2) == 0 ? "\\" + std::to_string(1 + Pick(groups_)) : std::string("a");
        if (kind == 13)
            return Pick(4) == 0 ? unknown[Pick(sizeof unknown / sizeof *unknown)] : "b";
        if (kind < 17) {
            ++groups_;
            const std::string inner = Alternation(depth - 1);
            return "(" + inner + ")";
        }
        return "(?:" + Alternation(depth - 1) + ")";
    }

    std::mt19937 random_;
    bool unicode_ = false;
    unsigned groups_ = 0;
};

// The Unicode engine's own grep over the whole subject, or over each line
// (with `firstOfLine` only each line's first match): the reference of the
// mode's shortcuts. False when it reported a matching error.
inline bool UnicodeReference(const RegexEngine::UnicodeExpression& e, const std::string& subject, unsigned flags,
                             bool lines, Matches& out, bool firstOfLine = false)
{
    const char* base = subject.data();
    const char* end = base + subject.size();
    const unsigned marks = e.MarkCount() + 1;
    auto take = [&](const boost::cmatch& m) {
        std::vector<std::uint64_t> o;
        for (unsigned i = 0; i < marks; ++i) {
            const bool took = i < m.size() && m[i].matched;
            o.push_back(took ? std::uint64_t(m[i].first - base) : RegexEngine::noOffset);
            o.push_back(took ? std::uint64_t(m[i].second - base) : RegexEngine::noOffset);
        }
        out.push_back(o);
        return !(lines && firstOfLine);
    };
    const auto f = static_cast<boost::match_flag_type>(flags);
    std::string error;
    if (!lines) {
        e.Grep(base, end, f, take, error);
    } else {
        for (const char* p = base; p != end && error.empty();) {
            const char* feed = std::find(p, end, '\n');
            SearchLineByRule(p, feed, firstOfLine, [&](const char* first, const char* last, auto keep) {
                const std::size_t before = out.size();
                e.Grep(
                    first, last, f | boost::match_single_line,
                    [&](const boost::cmatch& m) { return !keep(m[0].first, m[0].second) || take(m); }, error);
                return out.size() != before || !error.empty();
            });
            p = feed == end ? end : feed + 1;
        }
    }
    return error.empty();
}

// The file searcher's run in the mode, with the plan it would use.
inline bool UnicodeSearcher(const RegexEngine::UnicodeExpression& e, const std::string& subject, unsigned flags,
                            bool lines, Matches& out, bool firstOfLine = false)
{
    const unsigned marks = e.MarkCount() + 1;
    const auto plan = RegexEngine::PlanUnicodeLines(e);
    Collect sink(marks);
    std::string error;
    const auto end = RegexEngine::SearchUnicodeBuffer(
        e, plan.get(), marks, subject.data(), subject.size(),
        flags | (lines ? RegexEngine::lineModeFlag : 0u) | (firstOfLine ? RegexEngine::firstOfLineFlag : 0u), sink,
        error);
    out = sink.matches;
    return end != RegexEngine::SearchEnd::Failed;
}

// The file searcher's line mode in the Unicode mode through a pattern that
// UnicodePattern made (with its automaton prefilter when one was built).
inline bool UnicodePrefiltered(const RegexEngine::CompiledPattern& pattern, const std::string& subject,
                               unsigned flags, Matches& out, bool firstOfLine)
{
    Collect sink(pattern.marks);
    std::string error;
    const auto end = RegexEngine::SearchBuffer(
        pattern, subject.data(), subject.size(),
        RegexEngine::SearchFlags(flags) | RegexEngine::lineModeFlag | (firstOfLine ? RegexEngine::firstOfLineFlag : 0u),
        sink, error);
    out = sink.matches;
    return end != RegexEngine::SearchEnd::Failed;
}

// The string operations' routes in the mode (GrepUnicode, with every match's
// offsets; CountUnicodeMatches) over the whole subject.
inline bool UnicodeStringRoutes(const RegexEngine::UnicodeExpression& e, const std::string& subject, unsigned flags,
                                Matches& out, unsigned& counted)
{
    const char* base = subject.data();
    const unsigned marks = e.MarkCount() + 1;
    std::string error, countError;
    RegexEngine::GrepUnicode(
        e, base, base + subject.size(), static_cast<boost::match_flag_type>(flags),
        [&](const boost::cmatch& m) {
            std::vector<std::uint64_t> o;
            for (unsigned i = 0; i < marks; ++i) {
                const bool took = i < m.size() && m[i].matched;
                o.push_back(took ? std::uint64_t(m[i].first - base) : RegexEngine::noOffset);
                o.push_back(took ? std::uint64_t(m[i].second - base) : RegexEngine::noOffset);
            }
            out.push_back(o);
            return true;
        },
        error);
    counted = RegexEngine::CountUnicodeMatches(e, base, base + subject.size(), static_cast<boost::match_flag_type>(flags),
                                               countError);
    return error.empty() && countError.empty();
}

}  // namespace Differential

#endif

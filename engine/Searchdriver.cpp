// The search driver (see Searchdriver.h).
#include "Searchdriver.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <locale>
#include <new>
#include <stdexcept>
#include <vector>

#include "Expressionanalyser.h"

namespace RegexEngine {

namespace {

namespace rc = boost::regex_constants;

// Flags under which the literal paths give the engine's own results: the
// assertion and dot flags (the window shows the engine the byte before it),
// the empty-match and first-found rules, and the choice between leftmost-first
// and leftmost-longest (the engine decides each place the same way).
constexpr unsigned soundFlags = 0xFFu | rc::match_any | rc::match_not_null | rc::match_perl |
                                rc::match_posix | rc::match_nosubs;

// In line mode the subjects are the lines themselves: skipping a line that
// holds none of the required texts is exact under these flags too.
constexpr unsigned soundLineFlags = soundFlags | rc::match_continuous;

// Lines merged into one engine window when the next line with a required text
// starts within this many bytes: fewer engine calls for dense matches.
constexpr std::size_t mergeDistance = 256;

// Candidates that come on average less than denseGap bytes apart (measured
// over denseCandidates failed ones), and windows that cover more than half of
// the bytes (measured over denseBytes), hand the rest of the buffer to the
// engine's own search.
constexpr std::size_t denseCandidates = 256;
constexpr std::size_t denseGap = 64;
constexpr std::size_t denseBytes = 256 * 1024;

// Whether one of the texts can match `byte` (with icase, a byte whose lower
// case is its lower case).
bool HoldsByte(const std::vector<std::string>& texts, bool icase, const std::locale& locale, char byte)
{
    const auto& ctype = std::use_facet<std::ctype<char>>(locale);
    for (const auto& text : texts)
        for (const char c : text)
            if (c == byte || (icase && ctype.tolower(c) == ctype.tolower(byte)))
                return true;
    return false;
}

// Turns the engine's matches into offsets for the sink and keeps what the
// sink throws for after the engine has returned.
struct Delivery {
    const char* base;
    unsigned marks;
    MatchSink* sink;
    std::vector<std::uint64_t> offsets;
    bool stopped = false;
    std::exception_ptr thrown;
    std::size_t lastEnd = 0;  // end of the last match handed out
    std::size_t taken = 0;    // matches handed out

    bool Take(const boost::match_results<const char*>& m)
    {
        ++taken;
        for (unsigned i = 0; i < marks; ++i) {
            if (i < m.size() && m[i].matched) {
                offsets[2 * i] = static_cast<std::uint64_t>(m[i].first - base);
                offsets[2 * i + 1] = static_cast<std::uint64_t>(m[i].second - base);
            } else {
                offsets[2 * i] = offsets[2 * i + 1] = noOffset;
            }
        }
        lastEnd = static_cast<std::size_t>(m[0].second - base);
        try {
            if (sink->Take(offsets.data()))
                return true;
        } catch (...) {
            thrown = std::current_exception();
        }
        stopped = true;
        return false;
    }
};

struct Predicate {
    Delivery* delivery;
    bool operator()(const boost::match_results<const char*>& m) const { return delivery->Take(m); }
};

// The engine's grep over [first, last) of the buffer; `first` past the
// buffer's start sees the byte before it, as it would over the whole buffer.
void Grep(const boost::regex& e, Delivery& d, const char* first, const char* last, unsigned flags)
{
    if (first != d.base)
        flags |= rc::match_prev_avail | rc::match_not_bob;
    boost::regex_grep(Predicate{&d}, first, last, e, static_cast<rc::match_flag_type>(flags));
}

// Catches what the sink throws inside the plain byte search.
class GuardedSink final : public MatchSink {
public:
    explicit GuardedSink(MatchSink& inner) : inner_(inner) {}
    bool Take(const std::uint64_t* offsets) override
    {
        try {
            return inner_.Take(offsets);
        } catch (...) {
            thrown = std::current_exception();
            return false;
        }
    }
    std::exception_ptr thrown;

private:
    MatchSink& inner_;
};

const char* LineStart(const char* from, const char* at)
{
    while (at != from && at[-1] != '\n')
        --at;
    return at;
}

const char* LineEnd(const char* at, const char* end)
{
    const void* feed = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
    return feed != nullptr ? static_cast<const char*>(feed) : end;
}

// Every match begins with a prefix text: try the engine anchored at each
// place where one begins. When the places come thick and fail, the engine's
// own search is the faster one: the rest of the buffer goes to it (exact, as
// no match begins before the place reached). `resume` is kept where a
// matching error should go on from.
void SearchPrefixes(const boost::regex& e, const LiteralFinder& finder, Delivery& d, const char* data,
                    std::size_t size, unsigned flags, std::size_t& resume)
{
    LiteralFinder::Cursor cursor(finder, data, size);
    boost::match_results<const char*> m;
    const auto anchored = static_cast<rc::match_flag_type>(flags | rc::match_continuous);
    std::size_t pos = 0, failed = 0, failedFrom = 0;
    while (pos < size) {
        std::size_t which = 0;
        const std::size_t at = cursor.Next(pos, which);
        if (at == LiteralFinder::none)
            return;
        resume = at;
        if (failed >= denseCandidates) {
            if ((at - failedFrom) / failed < denseGap) {
                Grep(e, d, data + at, data + size, flags);
                return;
            }
            failed = 0;
            failedFrom = at;
        }
        // The base is the buffer's start: the engine sees every byte before
        // the candidate, as in a search over the whole buffer.
        if (boost::regex_search(data + at, data + size, m, e, anchored, data)) {
            if (!d.Take(m))
                return;
            pos = d.lastEnd;  // never empty: it begins with a prefix text
        } else {
            ++failed;
            pos = at + 1;
        }
    }
}

// Every match holds a required text and no line feed: run the engine over the
// lines holding one (neighbouring ones together), each window ending after
// its line feed so that `$` and `\b` see the byte after the line.
void SearchWindows(const boost::regex& e, const LiteralFinder& finder, Delivery& d, const char* data,
                   std::size_t size, unsigned flags, std::size_t& resume)
{
    LiteralFinder::Cursor cursor(finder, data, size);
    const char* const end = data + size;
    std::size_t pos = 0;  // a line start: everything before it is done
    std::size_t which = 0;
    std::size_t measuredFrom = 0, windowed = 0;  // bytes given to the engine since measuredFrom
    std::size_t at = cursor.Next(0, which);
    while (at != LiteralFinder::none) {
        const char* first = LineStart(data + pos, data + at);
        const char* last = LineEnd(data + at, end);
        for (;;) {
            if (last != end)
                ++last;  // the line feed
            const std::size_t next = last == end ? LiteralFinder::none : cursor.Next(static_cast<std::size_t>(last - data), which);
            if (next == LiteralFinder::none || next - static_cast<std::size_t>(last - data) > mergeDistance) {
                at = next;
                break;
            }
            last = LineEnd(data + next, end);
        }
        resume = static_cast<std::size_t>(first - data);
        if (static_cast<std::size_t>(first - data) - measuredFrom >= denseBytes) {
            if (windowed * 2 > static_cast<std::size_t>(first - data) - measuredFrom) {
                Grep(e, d, first, end, flags);
                return;
            }
            measuredFrom = static_cast<std::size_t>(first - data);
            windowed = 0;
        }
        Grep(e, d, first, last, flags);
        if (d.stopped)
            return;
        windowed += static_cast<std::size_t>(last - first);
        pos = static_cast<std::size_t>(last - data);
    }
    resume = size;
}

// Line mode: each line a subject of its own; with a finder only the lines
// holding one of its texts. With `firstOnly` a line's search ends at its first
// match (the first the engine's grep over the line would find).
//
// Lines end only at their line feed: each is searched under
// match_single_line, so that a carriage return or a form feed inside it is no
// edge for `^` and `$`. A line ending in a carriage return (a CRLF line) is
// searched first without it, so that `$` matches before it. When that finds
// nothing, the whole line is searched, the carriage return an ordinary byte
// (`\r$` still finds the line); when it finds matches, they are followed by
// those of the whole line's search that reach past the carriage return and
// begin at or after the end of the last one (`x*` also matches after the carriage
// return, `b|\r` finds both in `b\r`).
void SearchLines(const boost::regex& e, const LiteralFinder* finder, Delivery& d, const char* data,
                 std::size_t size, unsigned flags, bool firstOnly, const bool* stops = nullptr)
{
    const char* const end = data + size;
    boost::match_results<const char*> m;
    const auto engineFlags = static_cast<rc::match_flag_type>(flags | rc::match_single_line);
    // `f`: the engine's flags for this line (those of a search starting
    // within it show it the bytes before).
    const auto searchSubject = [&](const char* line, const char* lineEnd, rc::match_flag_type f) {
        const std::size_t before = d.taken;
        if (!firstOnly)
            boost::regex_grep(Predicate{&d}, line, lineEnd, e, f);
        else if (boost::regex_search(line, lineEnd, m, e, f))
            d.Take(m);
        return d.taken != before;
    };
    const auto searchLine = [&](const char* line, const char* lineEnd, rc::match_flag_type f) {
        if (lineEnd == line || lineEnd[-1] != '\r' || !searchSubject(line, lineEnd - 1, f)) {
            if (!d.stopped)
                searchSubject(line, lineEnd, f);
            return;
        }
        if (firstOnly || d.stopped)
            return;
        const char* const from = d.base + d.lastEnd;
        boost::regex_grep(
            [&](const boost::match_results<const char*>& found) {
                return found[0].first < from || found[0].second != lineEnd || d.Take(found);
            },
            line, lineEnd, e, f);
    };
    if (finder == nullptr) {
        for (const char* line = data; line != end && !d.stopped;) {
            const char* lineEnd = LineEnd(line, end);
            searchLine(line, lineEnd, engineFlags);
            line = lineEnd == end ? end : lineEnd + 1;
        }
        return;
    }
    const auto lateFlags = static_cast<rc::match_flag_type>(engineFlags | rc::match_prev_avail | rc::match_not_bob);
    LiteralFinder::Cursor cursor(*finder, data, size);
    std::size_t pos = 0;
    while (pos < size && !d.stopped) {
        std::size_t which = 0;
        const std::size_t at = cursor.Next(pos, which);
        if (at == LiteralFinder::none)
            return;
        const char* const lineEnd = LineEnd(data + at, end);
        if (stops != nullptr) {
            // Every match holds a required text, and none begins before the
            // last byte ahead of the first one that no match can hold (a
            // match holding a later one would hold that byte too): the search
            // starts there, on a byte where no match begins, with the bytes
            // before it visible, as RunCandidateSpans starts its spans. One
            // walk back finds that byte or the line's start.
            const char* from = data + at;
            const char* const floor = data + pos;
            while (from != floor && from[-1] != '\n' && !stops[static_cast<unsigned char>(from[-1])])
                --from;
            // (At the buffer's first byte nothing before it may be read:
            // the search starts there as the whole line's.)
            if (from != floor && from[-1] != '\n' && from - 1 != data)
                searchLine(from - 1, lineEnd, lateFlags);
            else
                searchLine(from != floor && from[-1] != '\n' ? from - 1 : from, lineEnd, engineFlags);
        } else {
            searchLine(LineStart(data + pos, data + at), lineEnd, engineFlags);
        }
        pos = static_cast<std::size_t>(lineEnd - data) + 1;
    }
}

// Runs `search`, the engine over parts of the buffer d.data[0, size), and
// says how it ended. The engine's limits depend on the length of what it is
// given: where `windowed`, a part may hit them where the whole buffer would
// not, and the search goes on from `resume` (or the last match's end) over
// the rest of the buffer as the plain search would. Other failures of the
// engine (complexity or stack limits, match flags it refuses) become the
// search's error; a sink's exception goes on to the caller.
template <class Search>
SearchEnd RunGuarded(const boost::regex& expression, Delivery& d, std::size_t size, unsigned flags, bool windowed,
                     std::size_t& resume, std::string& error, Search search)
{
    try {
        try {
            search();
        } catch (const std::runtime_error&) {
            if (!windowed || d.stopped)
                throw;
            resume = std::max(resume, d.lastEnd);
            if (resume < size)
                Grep(expression, d, d.base + resume, d.base + size, flags);
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        if (d.thrown)
            std::rethrow_exception(d.thrown);
        error = e.what();
        return SearchEnd::Failed;
    }
    if (d.thrown)
        std::rethrow_exception(d.thrown);
    return d.stopped ? SearchEnd::Stopped : SearchEnd::Finished;
}

}  // namespace

std::unique_ptr<SearchPlan> PlanSearch(const std::string& text, bool icase, const boost::regex& compiled,
                                       unsigned marks)
{
    const ExpressionFacts facts = AnalyseExpression(text, icase, compiled);
    if (!facts.understood)
        return nullptr;
    std::unique_ptr<SearchPlan> plan(new SearchPlan());
    const std::locale locale = compiled.getloc();
    if (!facts.plain.empty() && marks == (facts.wholeGroup ? 2u : 1u)) {
        plan->plain = LiteralFinder::ForTexts(facts.plain, icase, locale);
        plan->plainLineFeed = HoldsByte(facts.plain, icase, locale, '\n');
        plan->plainCarriageReturn = HoldsByte(facts.plain, icase, locale, '\r');
    }
    plan->prefixes = LiteralFinder::ForTexts(facts.prefixes, icase, locale);
    plan->required = LiteralFinder::ForTexts(facts.required, icase, locale);
    plan->requiredLineFeed = HoldsByte(facts.required, icase, locale, '\n');
    plan->lineFeed = facts.lineFeed;
    plan->lineFeedBesidesDot = facts.lineFeedBesidesDot;
    for (std::size_t b = 0; b < 256; ++b) {
        plan->stops[b] = !facts.bytes[b] && b != '\n';
        plan->stopsKnown = plan->stopsKnown || plan->stops[b];
    }
    return plan;
}

SearchPath ChooseSearchPath(const SearchPlan* plan, unsigned flags)
{
    const bool lines = (flags & lineModeFlag) != 0;
    flags &= ~(lineModeFlag | firstOfLineFlag | feedOnlyFlag);
    if (lines) {
        if (plan != nullptr && plan->plain && !plan->plainLineFeed && !plan->plainCarriageReturn &&
            LiteralFinder::FlagsAllow(flags))
            return SearchPath::Plain;
        if (plan != nullptr && plan->required && !plan->requiredLineFeed && (flags & ~soundLineFlags) == 0)
            return SearchPath::LinesWithText;
        return SearchPath::EveryLine;
    }
    if (plan == nullptr)
        return SearchPath::Whole;
    if (plan->plain && LiteralFinder::FlagsAllow(flags))
        return SearchPath::Plain;
    if ((flags & ~soundFlags) != 0)
        return SearchPath::Whole;
    if (plan->prefixes)
        return SearchPath::Prefix;
    const bool lineFeed = (flags & rc::match_not_dot_newline) ? plan->lineFeedBesidesDot : plan->lineFeed;
    if (plan->required && !lineFeed)
        return SearchPath::Window;
    return SearchPath::Whole;
}

namespace {

// Whether every required text of `plan` is one byte (a class such as [0-9]):
// the byte search for them stops on most lines.
bool OnlySingleBytesRequired(const SearchPlan& plan)
{
    for (std::size_t k = 0; k < plan.required->Alternatives(); ++k)
        if (plan.required->Text(k).size() > 1)
            return false;
    return true;
}

}  // namespace

bool NoUsableLiteral(const SearchPlan* plan, unsigned flags)
{
    if ((flags & lineModeFlag) == 0 || (flags & ~(lineModeFlag | firstOfLineFlag | feedOnlyFlag | soundLineFlags)) != 0)
        return false;
    const SearchPath path = ChooseSearchPath(plan, flags);
    if (path == SearchPath::LinesWithText)
        return OnlySingleBytesRequired(*plan);
    return path == SearchPath::EveryLine;
}

bool PrefersCandidateSpans(const SearchPlan* plan, unsigned flags)
{
    if ((flags & lineModeFlag) != 0)
        return NoUsableLiteral(plan, flags);
    // Under match_any the engine's grep may answer by where it began.
    if (plan == nullptr || (flags & ~soundFlags) != 0 || (flags & rc::match_any) != 0)
        return false;
    const bool lineFeed = (flags & rc::match_not_dot_newline) ? plan->lineFeedBesidesDot : plan->lineFeed;
    if (lineFeed)
        return false;
    // Windows around single required bytes cover most lines, as in line mode.
    const SearchPath path = ChooseSearchPath(plan, flags);
    return path == SearchPath::Whole || (path == SearchPath::Window && OnlySingleBytesRequired(*plan));
}

SearchEnd RunCandidateSpans(const boost::regex& expression, unsigned marks, const char* data, std::size_t size,
                            const std::vector<CandidateSpan>& spans, unsigned flags, MatchSink& sink,
                            std::string& error)
{
    const bool lines = (flags & lineModeFlag) != 0;
    const bool firstOfLine = lines && (flags & firstOfLineFlag) != 0;
    flags &= ~(lineModeFlag | firstOfLineFlag | feedOnlyFlag);
    // A line's search must begin at its start when the match must.
    const bool fromLineStart = (flags & rc::match_continuous) != 0;
    Delivery d{data, marks, &sink, std::vector<std::uint64_t>(2 * marks), false, nullptr, 0};
    std::size_t resume = 0;
    // (A line too hard for the engine fails the search, as over every line.)
    return RunGuarded(expression, d, size, flags, !lines, resume, error, [&] {
        for (const CandidateSpan& span : spans) {
            if (d.stopped)
                break;
            if (lines) {
                // The bytes before `from` are the line's own: the engine
                // sees them as it would searching the whole line. It
                // starts one byte early, where no match can begin: at the
                // place it starts from, with the byte before visible, the
                // engine lets `^` follow a carriage return or form feed
                // even under match_single_line.
                const std::size_t from = fromLineStart || span.from == span.line ? span.line : span.from - 1;
                const unsigned shown = from != span.line ? static_cast<unsigned>(rc::match_prev_avail | rc::match_not_bob) : 0u;
                SearchLines(expression, nullptr, d, data + from, span.end - from, flags | shown, firstOfLine);
            } else {
                // The window ends after the line feed, so that `$` and
                // `\b` see the byte after the line.
                resume = span.from;
                Grep(expression, d, data + span.from, data + std::min(span.end + 1, size), flags);
            }
        }
    });
}

SearchEnd RunSearch(const boost::regex& expression, unsigned marks, const SearchPlan* plan, const char* data,
                    std::size_t size, unsigned flags, MatchSink& sink, std::string& error)
{
    const SearchPath path = ChooseSearchPath(plan, flags);
    const bool firstOfLine = (flags & lineModeFlag) != 0 && (flags & firstOfLineFlag) != 0;
    flags &= ~(lineModeFlag | firstOfLineFlag | feedOnlyFlag);
    if (path == SearchPath::Plain) {
        GuardedSink guarded(sink);
        const bool finished =
            plan->plain->Search(data, size, guarded, (flags & rc::match_posix) != 0, firstOfLine);
        if (guarded.thrown)
            std::rethrow_exception(guarded.thrown);
        return finished ? SearchEnd::Finished : SearchEnd::Stopped;
    }

    Delivery d{data, marks, &sink, std::vector<std::uint64_t>(2 * marks), false, nullptr, 0};
    std::size_t resume = 0;
    const bool windowed = path == SearchPath::Prefix || path == SearchPath::Window;
    return RunGuarded(expression, d, size, flags, windowed, resume, error, [&] {
        switch (path) {
        case SearchPath::Prefix:
            SearchPrefixes(expression, *plan->prefixes, d, data, size, flags, resume);
            break;
        case SearchPath::Window:
            SearchWindows(expression, *plan->required, d, data, size, flags, resume);
            break;
        case SearchPath::LinesWithText:
            // The search starts late in a line only where it must not
            // begin at the line's start.
            SearchLines(expression, plan->required.get(), d, data, size, flags, firstOfLine,
                        plan->stopsKnown && (flags & rc::match_continuous) == 0 ? plan->stops : nullptr);
            break;
        case SearchPath::EveryLine:
            SearchLines(expression, nullptr, d, data, size, flags, firstOfLine);
            break;
        default:
            Grep(expression, d, data, data + size, flags);
            break;
        }
    });
}

}  // namespace RegexEngine

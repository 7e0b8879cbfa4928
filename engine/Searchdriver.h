// The search driver: finds the matches of a compiled expression in one buffer
// exactly as the engine's grep over the whole buffer finds them, but lets a
// byte search for literal texts skip the places where no match can be:
//
// - Plain: the expression is a set of plain texts; the byte search alone
//   finds its matches.
// - Prefix: every match begins with one of a set of texts; the engine is run
//   anchored (match_continuous) at each place where one occurs, and the first
//   place where it matches holds the leftmost match.
// - Window: every match contains one of a set of texts and no match can hold
//   a line feed; the engine runs only over the lines that hold one, with the
//   byte before the line visible to it, so that every assertion answers as it
//   would over the whole buffer.
// - Whole: the engine over the whole buffer.
//
// In line mode each line is a subject of its own: lines without one of the
// required texts are skipped, the others are searched one by one, from the
// last byte before the text that no match can hold, where one is known. Lines end
// only at a line feed: `^` matches only at a line's start, `$` only at its
// end, and in a line ending in a carriage return (a CRLF line) also before
// that carriage return. Such a line is searched without its carriage return
// first; the whole line's search, the carriage return an ordinary byte, adds
// the matches that reach past it (`\r$` still finds it), or all of its matches
// when the first found none. A carriage return or form feed anywhere else is
// an ordinary byte.
//
// A path is taken only under match flags for which it is exact; the others
// (match_continuous, match_partial, ...) run the engine over the whole buffer.
#ifndef QUORVEX_ENGINE_SEARCHDRIVER_H
#define QUORVEX_ENGINE_SEARCHDRIVER_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <boost/regex.hpp>

#include "Filebuffer.h"
#include "Literalfinder.h"

namespace RegexEngine {

// A bit of the searcher's flag word that no engine match flag uses: each line
// of the buffer (the bytes before a line feed; the last line needs none; an
// empty buffer has none) is searched as a subject of its own. Offsets stay
// relative to the buffer.
constexpr unsigned lineModeFlag = 0x80000000u;
// With lineModeFlag: only the first match of each line is handed out.
constexpr unsigned firstOfLineFlag = 0x40000000u;
// Line mode always ends lines only at their line feed (see RunSearch); this
// bit, which asked for that once, changes nothing and is kept for callers.
constexpr unsigned feedOnlyFlag = 0x20000000u;

// What the analyser found, turned into byte searches.
struct SearchPlan {
    std::unique_ptr<LiteralFinder> plain;     // the expression's matches are these texts
    bool plainLineFeed = false;               // one of them holds a line feed
    bool plainCarriageReturn = false;         // ... a carriage return
    bool plainBeyondAscii = false;            // ... a byte above 0x7F
    std::unique_ptr<LiteralFinder> prefixes;  // every match begins with one of these
    std::unique_ptr<LiteralFinder> required;  // every match contains one of these
    bool requiredLineFeed = false;            // one of them holds a line feed
    bool lineFeed = true;                     // a match can hold a line feed
    bool lineFeedBesidesDot = true;           // ... even when `.` matches none
    // Bytes no match can hold (stops[b]), other than the line feed; `stops`
    // is set only when there is one. In line mode a search for a required
    // text starts at the last of them before the text's first place in the
    // line: no match holding a required text can begin before it.
    bool stopsKnown = false;
    bool stops[256] = {};
};

// The plan for `text` compiled with `icase` into `compiled` with `marks`
// sub-matches (whole match included); null when nothing is known.
std::unique_ptr<SearchPlan> PlanSearch(const std::string& text, bool icase, const boost::regex& compiled,
                                       unsigned marks);

enum class SearchPath { Plain, Prefix, Window, Whole, LinesWithText, EveryLine };

// The path the driver takes for `plan` (may be null) under `flags` (match
// flags, plus lineModeFlag and firstOfLineFlag for line mode).
SearchPath ChooseSearchPath(const SearchPlan* plan, unsigned flags);

// Whether, in line mode (`flags` with lineModeFlag), the driver has no
// literal worth looking for (it would search every line, or look for single
// bytes that most lines hold) and skipping the lines without a match is exact
// under `flags`: the place for the automaton prefilter.
bool NoUsableLiteral(const SearchPlan* plan, unsigned flags);

// Whether the automaton prefilter's candidate spans (RunCandidateSpans) are
// the better plan for `plan` under `flags`: in line mode where no literal is
// worth looking for (NoUsableLiteral); over a whole buffer where the driver
// would run the engine over all of it or over the lines around single
// required bytes, the flags keep the literal paths exact and no match can
// hold a line feed (every match then lies within a line).
bool PrefersCandidateSpans(const SearchPlan* plan, unsigned flags);

// The lines worth the engine, as the automaton prefilter reports them:
// [line, end) are whole lines (end before the last one's line feed, or at the
// end of the buffer), and no match of the engine begins in them before `from`.
struct CandidateSpan {
    std::size_t line;
    std::size_t from;
    std::size_t end;
};

enum class SearchEnd {
    Finished,  // every match was handed out
    Stopped,   // the sink answered false
    Failed     // the engine gave up (complexity or stack limits); see `error`
};

// Hands every match of `expression` (with `marks` sub-matches) in
// [data, data + size) to the sink, in order, as the engine's grep finds them
// with `flags`: leftmost matches (leftmost-longest under match_posix), each
// search resuming at the end of the previous match, an empty match followed
// by a try for a non-empty one at the same place. Whatever the sink throws
// passes through unchanged; a matching error does not throw.
SearchEnd RunSearch(const boost::regex& expression, unsigned marks, const SearchPlan* plan, const char* data,
                    std::size_t size, unsigned flags, MatchSink& sink, std::string& error);

// RunSearch over the candidate spans of [data, data + size) only (offsets
// relative to `data`), for flags under which PrefersCandidateSpans holds. In
// line mode each line of a span is a subject of its own, searched from `from`
// with the bytes before it visible; in a whole-buffer search each span is a
// window of the buffer, from `from` to after its line feed, and the matches
// are those of the engine over the whole buffer as no match holds a line
// feed. In a whole-buffer search `expression` must not hold `\G`.
SearchEnd RunCandidateSpans(const boost::regex& expression, unsigned marks, const char* data, std::size_t size,
                            const std::vector<CandidateSpan>& spans, unsigned flags, MatchSink& sink,
                            std::string& error);

}  // namespace RegexEngine

#endif

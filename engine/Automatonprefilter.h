// The automaton prefilter: for expressions in which the analyser finds no
// literal text, a finite automaton compiled from the expression (in the
// automaton library's prefilter mode) scans each buffer first, and the engine
// runs only over the lines in which the automaton reports a match.
//
// The automaton's expression is the engine's expression with every
// zero-width assertion whose answer depends on where a subject begins or ends
// (`^`, `$`, `\A`, `\z`, `\Z`, `\b`, `\B`, `\<`, `\>`, `\G`, ...) taken out,
// so that it matches wherever the engine's does, whatever the line edges.
// Prefilter mode approximates what the automaton cannot hold (back-references,
// look-around) by a larger language. Every match of the engine within a line
// is therefore also a match of the automaton, and one of the reported match
// ends falls in that line: the lines holding a reported end (less one byte)
// are the only ones the engine needs to see.
//
// The same lines serve searches over a whole buffer where no match of the
// engine can hold a line feed: each such match lies within a candidate line
// (see Searchdriver.h, RunCandidateSpans). And where the expression requires a
// short text, the automaton scans only the lines holding it, each on its own.
//
// Built only for the engine's normal syntax in the "C" locale (one byte, one
// character, ASCII case folding); anything the rewriting does not fully
// understand, or the automaton compiler refuses, leaves no prefilter.
#ifndef QUORVEX_ENGINE_AUTOMATONPREFILTER_H
#define QUORVEX_ENGINE_AUTOMATONPREFILTER_H

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/regex.hpp>

#include "Searchdriver.h"

namespace RegexEngine {

class AutomatonPrefilter {
public:
    // Whether this build has the automaton library.
    static bool Available();

    // The prefilter for `text` compiled with `icase` into `compiled`; null
    // when none can be built or it could not skip any line (the expression
    // matches an empty text).
    static std::unique_ptr<AutomatonPrefilter> Build(const std::string& text, bool icase,
                                                     const boost::regex& compiled);

    // The prefilter for `expression`, an expression over bytes written for
    // the automaton's syntax (as the Unicode mode's translation writes it),
    // compiled as it stands in byte mode; null as for Build.
    static std::unique_ptr<AutomatonPrefilter> BuildBytes(const std::string& expression);

    // `text` with the edge-dependent assertions taken out; false when it
    // holds something the rewriting does not understand.
    static bool Rewrite(const std::string& text, std::string& out);

    ~AutomatonPrefilter();
    AutomatonPrefilter(const AutomatonPrefilter&) = delete;
    AutomatonPrefilter& operator=(const AutomatonPrefilter&) = delete;

    // Appends to `lines` the ranges [start, end) of the lines of
    // [data, data + size) that may hold a match (end before the line feed),
    // in order, neighbouring lines merged into one range. False when the
    // scan failed (then every line is a candidate).
    bool CandidateLines(const char* data, std::size_t size,
                        std::vector<std::pair<std::size_t, std::size_t>>& lines) const;
    // Where the part of [data, data + size) scanned at once from `at` ends:
    // 1 MiB on, after the next line feed (or at `size`), so that the list of
    // candidate lines stays small whatever the buffer's size.
    static std::size_t ChunkEnd(const char* data, std::size_t at, std::size_t size);

    // CandidateLines as spans (`from` each span's start).
    bool CandidateSpans(const char* data, std::size_t size, std::vector<CandidateSpan>& spans) const;

    // Whether the spans also serve searches over a whole buffer: the
    // expression does not depend on where a search began (`\G`).
    bool ServesWholeBuffer() const { return !searchStartAnchor_; }

private:
    AutomatonPrefilter() = default;
    // `expression` compiled with the automaton library's `flags`; null when
    // it refuses it or the expression matches an empty text.
    static std::unique_ptr<AutomatonPrefilter> Compile(const std::string& expression, unsigned flags);
    struct Database;
    std::unique_ptr<Database> database_;
    bool searchStartAnchor_ = false;     // the expression holds `\G`
};

}  // namespace RegexEngine

#endif

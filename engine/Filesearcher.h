// The searcher: runs a compiled expression over one file's bytes and hands
// each match, in order, to a sink (the byte-search prefilter where it gives
// the same matches, the engine's grep otherwise).
#ifndef QUORVEX_ENGINE_FILESEARCHER_H
#define QUORVEX_ENGINE_FILESEARCHER_H

#include <cstddef>
#include <memory>
#include <string>

#include <boost/regex.hpp>

#include "Filebuffer.h"
#include "Literalfinder.h"

namespace RegexEngine {

// One compiled expression, shared read-only by the threads of a walk.
struct CompiledPattern {
    boost::regex expression;
    unsigned marks = 1;                     // marked sub-expressions + 1
    std::unique_ptr<LiteralFinder> literal;  // null: always use the engine
};

// Compiles `text` in the engine's normal syntax; null with `error` set to the
// engine's code when it does not compile. Never throws for a bad expression.
std::shared_ptr<const CompiledPattern> CompilePattern(const char* text, bool icase, unsigned& error);

// Match flags as the searcher uses them: the flags that would make the engine
// read before the buffer or that are the engine's own bookkeeping are dropped,
// and so is lineModeFlag (the walk adds it itself).
unsigned SearchFlags(unsigned flags);

// A bit of the searcher's flag word that no engine match flag uses: each line
// of the buffer (the bytes before a line feed; the last line needs none; an
// empty buffer has none) is searched as a subject of its own. Offsets stay
// relative to the buffer.
constexpr unsigned lineModeFlag = 0x80000000u;

enum class SearchEnd {
    Finished,  // every match was handed out
    Stopped,   // the sink answered false
    Failed     // the engine gave up (complexity or stack limits); see `error`
};

// Runs `pattern` over [data, data + size) with `flags` (already through
// SearchFlags) and the engine grep's rules: leftmost-first matches, each
// search resuming at the end of the previous match, an empty match followed by
// a try for a non-empty one at the same place. Whatever the sink throws passes
// through unchanged; a matching error does not throw.
SearchEnd SearchBuffer(const CompiledPattern& pattern, const char* data, std::size_t size, unsigned flags,
                       MatchSink& sink, std::string& error);

}  // namespace RegexEngine

#endif

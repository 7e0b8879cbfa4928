// The searcher: runs a compiled expression over one file's bytes and hands
// each match, in order, to a sink (the byte-search prefilter where it gives
// the same matches, the engine's grep otherwise).
#ifndef QUORVEX_ENGINE_FILESEARCHER_H
#define QUORVEX_ENGINE_FILESEARCHER_H

#include <cstddef>
#include <memory>
#include <string>

#include <boost/regex.hpp>

#include "Automatonprefilter.h"
#include "Filebuffer.h"
#include "Searchdriver.h"
#include "Unicodeexpression.h"

namespace RegexEngine {

// One compiled expression, shared read-only by the threads of a walk.
struct CompiledPattern {
    boost::regex expression;
    unsigned marks = 1;                     // marked sub-expressions + 1
    std::unique_ptr<SearchPlan> plan;        // null: always the engine over the whole buffer
    // Line mode without a literal to look for: the lines worth the engine
    // (null: none built, every line goes to the engine).
    std::unique_ptr<AutomatonPrefilter> prefilter;
    // Set in Unicode mode: the expression searched instead of `expression`
    // (with a plan from PlanUnicodeLines only).
    std::shared_ptr<const UnicodeExpression> unicode;
};

// Compiles `text` in the engine's normal syntax; null with `error` set to the
// engine's code when it does not compile. Never throws for a bad expression.
std::shared_ptr<const CompiledPattern> CompilePattern(const char* text, bool icase, unsigned& error);

// Adopts an expression compiled elsewhere (an object's own compilation, with
// whatever syntax options it has); `text` is its source, up to the first NUL.
// The byte-search plan is made where the analyser understands the syntax: the
// normal syntax as it stands, and the literal syntax through the same text
// quoted for the normal syntax. Null with `error` set to the expression's
// status when it did not compile.
std::shared_ptr<const CompiledPattern> AdoptPattern(const boost::regex& compiled, const std::string& text,
                                                    unsigned& error);
// The pattern of a Unicode-mode compilation (see Unicodeexpression.h); null,
// with `error` set to its error code, when it did not compile.
std::shared_ptr<const CompiledPattern> UnicodePattern(std::shared_ptr<const UnicodeExpression> compiled,
                                                      unsigned& error);

// Match flags as the searcher uses them: the flags that would make the engine
// read before the buffer or that are the engine's own bookkeeping are dropped,
// and so is lineModeFlag (the walk adds it itself).
unsigned SearchFlags(unsigned flags);

// Runs `pattern` over [data, data + size) with `flags` (already through
// SearchFlags, plus lineModeFlag in line mode) through the search driver:
// the engine grep's matches, found with the help of the pattern's plan (and
// of its prefilter in line mode).
SearchEnd SearchBuffer(const CompiledPattern& pattern, const char* data, std::size_t size, unsigned flags,
                       MatchSink& sink, std::string& error);

}  // namespace RegexEngine

#endif

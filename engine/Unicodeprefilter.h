// The automaton prefilter of the Unicode mode: the Unicode expression written
// out as an expression over bytes, whose every class (., bracket expressions
// and their negations, \w \d \s and their negations, \p{..} categories and
// scripts) is the alternation of the UTF-8 sequences of its code points, and
// whose every letter ignoring case is the alternation of its simple case
// variants. It is compiled by the automaton library in byte mode, so that a
// subject's invalid bytes never reach a mode with undefined behaviour, and it
// scans each buffer of the file searcher's line mode: the Unicode engine runs
// only over the lines that hold one of its match ends.
//
// The classes come from the generated Unicode tables, which hold what the
// ICU backend asks ICU for (with the ICU backend, only while the ICU it runs
// on has the tables' Unicode version). Where a construct is not fully understood (inline
// options, \X, \h, a negated bracket expression ignoring case, an unusual
// syntax...) or the byte expression would be larger than a class's worth
// allows, no prefilter is made and every line goes to the engine.
#ifndef QUORVEX_ENGINE_UNICODEPREFILTER_H
#define QUORVEX_ENGINE_UNICODEPREFILTER_H

#include <cstddef>
#include <memory>
#include <string>

#include "Automatonprefilter.h"
#include "Searchdriver.h"
#include "Unicodeexpression.h"

namespace RegexEngine {

// The byte expression for `text` in the legacy syntax `legacySyntax` (the
// normal syntax or the literal one, with or without icase); false when the
// translation does not understand it. Every match of the Unicode engine
// within a line is a match of the byte expression (it may match more: back
// references and edge assertions are widened or left out).
bool UnicodeToByteExpression(const std::string& text, unsigned legacySyntax, std::string& out);

// The prefilter of `expression`, or null (no automaton library, nothing
// understood, or nothing it could skip).
std::unique_ptr<AutomatonPrefilter> BuildUnicodePrefilter(const UnicodeExpression& expression);

// SearchUnicodeBuffer's run in line mode, with the engine over the lines that
// `prefilter` reports only; the same matches in the same order. `flags` must
// pass NoUsableLiteral(plan, flags).
SearchEnd SearchUnicodeCandidates(const UnicodeExpression& expression, const SearchPlan* plan,
                                  const AutomatonPrefilter& prefilter, unsigned marks, const char* data,
                                  std::size_t size, unsigned flags, MatchSink& sink, std::string& error);

}  // namespace RegexEngine

#endif

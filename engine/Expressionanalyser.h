// The expression analyser: reads an expression in the engine's normal
// syntax and derives, conservatively, what every match must look like, so
// that the searcher can look for plain bytes before it runs the engine.
//
// Anything the analyser does not fully understand (look-around, conditionals,
// inline options, named groups, \G, \Z, \x, octal and control escapes, classes
// such as \h \v \l \u \p, collating elements, intervals it cannot read...)
// makes it give up: `understood` is false and nothing else may be used.
// Every answer it does give is a guarantee, never a guess.
#ifndef QUORVEX_ENGINE_EXPRESSIONANALYSER_H
#define QUORVEX_ENGINE_EXPRESSIONANALYSER_H

#include <bitset>
#include <string>
#include <vector>

#include <boost/regex.hpp>

namespace RegexEngine {

struct ExpressionFacts {
    bool understood = false;

    // Every match is one of `plain` (no assertion, no back-reference, no
    // group other than possibly one capturing group around the whole
    // expression, as `wholeGroup` says), listed in the order in which the
    // engine prefers them at one position (leftmost-first). Empty: not plain.
    std::vector<std::string> plain;
    bool wholeGroup = false;

    // Every match begins with one of `prefixes` (none empty). Empty: unknown.
    std::vector<std::string> prefixes;
    // Every match contains one of `required` (none empty). Empty: unknown.
    std::vector<std::string> required;

    // Whether a match can contain a line feed; `lineFeedBesidesDot`: even when
    // `.` does not match one (match_not_dot_newline).
    bool lineFeed = true;
    bool lineFeedBesidesDot = true;

    // Every byte of every match is one of these.
    std::bitset<256> bytes = std::bitset<256>().set();
};

// Texts compare byte for byte, or with `icase` through the case folding of
// the expression's locale (the literal finder checks that it can fold them
// exactly). `compiled` is `text` compiled with `icase`: it supplies the
// locale through which classes and sets are read.
ExpressionFacts AnalyseExpression(const std::string& text, bool icase, const boost::regex& compiled);

}  // namespace RegexEngine

#endif

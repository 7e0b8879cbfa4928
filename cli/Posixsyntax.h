// The expressions of grep's basic (-G) and extended (-E) syntaxes, written
// in the normal syntax the file operations search with, and the joining of
// several expressions into one.
#ifndef QUORVEX_CLI_POSIXSYNTAX_H
#define QUORVEX_CLI_POSIXSYNTAX_H

#include <string>
#include <vector>

namespace QuorvexCli {

// The normal-syntax expression that matches what `expression` matches as a
// grep basic (`extended` false) or extended expression: \( \) \| \{ \} \+ \?
// (basic) or ( ) | { } + ? (extended) are the operators, the others are
// literal characters; a backslash inside brackets is itself; \< \> \w \b
// and back-references keep their meaning; '*' at the start is literal, as
// are '^' and '$' of a basic expression where they cannot anchor.
std::string PosixToNormal(const std::string& expression, bool extended);

// The number of capturing groups of a normal-syntax expression.
unsigned CountGroups(const std::string& expression);

// The normal-syntax `expression` with each numbered back-reference (\N,
// \gN, \g{N}) moved up by `offset`, for an expression joined after others
// holding `offset` groups.
std::string ShiftBackReferences(const std::string& expression, unsigned offset);

// Splits each expression at its line feeds (a line feed separates
// expressions, as in grep).
std::vector<std::string> SplitLines(const std::vector<std::string>& expressions);

}  // namespace QuorvexCli

#endif

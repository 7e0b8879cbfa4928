// The dialect of Perl-compatible expressions that grep -P users type, written
// in the normal syntax the engine compiles: the constructs the engine spells
// differently are rewritten, those it lacks are refused by name. Nothing here
// runs unless a caller asks for it; the library's own syntax is unchanged.
#ifndef QUORVEX_ENGINE_PERLDIALECT_H
#define QUORVEX_ENGINE_PERLDIALECT_H

#include <string>

namespace RegexEngine {

// Rewrites `expression`:
//   \N (any character but a line feed)   -> [^\n]
//   \N{U+hhhh}                           -> \x{hhhh}
//   (?P<name>...) (?P=name) (?P>name)    -> (?<name>...) \k<name> (?&name)
//   \NN with NN groups or more           -> \g{NN}; fewer groups: an octal escape
//   (?<=a|bc) (?<!a|bc)                  -> one look-behind per alternative
//   \Q...\E                              -> the text, each character escaped
//   \p{Lu} \p{Ll} \p{L} \p{N} \p{Nd} \p{P} \p{Z} (and \P) -> the POSIX classes;
//                                        with `unicode` (the expression is for
//                                        the Unicode mode, which reads them
//                                        itself) left as they are, \p{^X} as \P{X}
//   (?C...) callouts                     -> nothing (no callout is ever set)
// Returns false, with `error` naming the construct, for one the engine has
// no equivalent of (\N inside brackets, \8 or \9 without such a group).
bool TranslatePerlDialect(const std::string& expression, std::string& translated, std::string& error,
                          bool unicode = false);

}  // namespace RegexEngine

#endif

// The legacy flag words handed out by GetFlagOptions()/GetMatchFlags(), and
// their translation into the flag types of the Boost.Regex release we build on.
//
// The option sets are reported to callers as flag words of an older engine
// generation (the values below). Current Boost gives its syntax flags other
// values and other meanings, so a syntax word is translated into the nearest
// equivalent request; the match flag values coincide and pass through.
#ifndef QUORVEX_ENGINE_SYNTAXFLAGS_H
#define QUORVEX_ENGINE_SYNTAXFLAGS_H

#include <boost/regex.hpp>

namespace RegexEngine {

// Syntax flag word bits, one per compile option.
namespace LegacySyntax {
constexpr unsigned escape_in_lists = 0x0001;  // backslash escapes inside [...]
constexpr unsigned char_classes = 0x0002;     // [[:alpha:]] inside [...]
constexpr unsigned intervals = 0x0004;        // {n,m}
constexpr unsigned limited_ops = 0x0008;      // + ? | are not operators at all
constexpr unsigned newline_alt = 0x0010;      // a newline in the expression alternates
constexpr unsigned bk_plus_qm = 0x0020;       // \+ and \? are the operators
constexpr unsigned bk_braces = 0x0040;        // \{ \} delimit repeats
constexpr unsigned bk_parens = 0x0080;        // \( \) group
constexpr unsigned bk_refs = 0x0100;          // \1 to \9
constexpr unsigned bk_vbar = 0x0200;          // \| alternates
constexpr unsigned use_except = 0x0400;       // never requested
constexpr unsigned failbit = 0x0800;          // never requested
constexpr unsigned literal = 0x1000;          // the whole expression is text
constexpr unsigned icase = 0x2000;            // case-insensitive
constexpr unsigned nocollate = 0x4000;        // ranges compare character codes
}  // namespace LegacySyntax

// Match flag word bits; the same values as boost::regex_constants.
namespace LegacyMatch {
constexpr unsigned match_default = 0x0000;
constexpr unsigned match_not_bol = 0x0001;
constexpr unsigned match_not_eol = 0x0002;
constexpr unsigned match_not_bob = 0x0004;
constexpr unsigned match_not_eob = 0x0008;
constexpr unsigned match_not_bow = 0x0010;
constexpr unsigned match_not_eow = 0x0020;
constexpr unsigned match_not_dot_newline = 0x0040;
constexpr unsigned match_not_dot_null = 0x0080;
constexpr unsigned match_any = 0x0400;
constexpr unsigned match_not_null = 0x0800;
constexpr unsigned match_continuous = 0x1000;
// Every bit that a match option can contribute.
constexpr unsigned all_options = 0x1CFF;
}  // namespace LegacyMatch

// The Boost syntax request for a legacy syntax word. Always carries
// no_except: compilation reports errors through the expression's status.
boost::regex_constants::syntax_option_type TranslateSyntaxFlags(unsigned legacy);

// The Boost match flags for a legacy match word: its option bits, plus
// match_posix (leftmost-longest) unless match_any asks for the first match found.
boost::regex_constants::match_flag_type TranslateMatchFlags(unsigned legacy);

}  // namespace RegexEngine

#endif

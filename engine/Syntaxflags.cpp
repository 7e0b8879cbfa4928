// Translation of legacy syntax and match words into Boost.Regex flags.
#include "Syntaxflags.h"

namespace RegexEngine {

namespace rc = boost::regex_constants;
using rb = boost::regbase;

boost::regex_constants::syntax_option_type TranslateSyntaxFlags(unsigned legacy)
{
    using namespace LegacySyntax;
    const auto has = [legacy](unsigned bit) { return (legacy & bit) != 0; };

    // Choice of grammar, most specific request first.
    rc::syntax_option_type flags;
    if (has(literal)) {
        flags = rb::literal;
    } else if (has(bk_parens)) {
        // POSIX basic: \( \) group, \{ \} delimit repeats.
        flags = rb::basic_syntax_group;
        if (!has(escape_in_lists))
            flags |= rb::no_escape_in_lists;
        if (!has(char_classes))
            flags |= rb::no_char_classes;
        if (!has(intervals))
            flags |= rb::no_intervals;
        // With limited operations + ? | are never operators, escaped or not.
        if (has(bk_plus_qm) && !has(limited_ops))
            flags |= rb::bk_plus_qm;
        if (has(bk_vbar) && !has(limited_ops))
            flags |= rb::bk_vbar;
    } else if (has(escape_in_lists)) {
        // The engine's normal syntax: the one with escapes inside sets.
        flags = rb::perl_syntax_group;
        if (!has(bk_refs))
            flags |= rb::no_bk_refs;
    } else {
        // POSIX extended.
        flags = rb::no_perl_ex | rb::no_escape_in_lists;
        if (!has(bk_refs))
            flags |= rb::no_bk_refs;
    }

    if (has(icase))
        flags |= rb::icase;
    if (!has(nocollate))
        flags |= rb::collate;
    if (has(newline_alt) && !has(literal))
        flags |= rb::newline_alt;
    return flags | rb::no_except;
}

boost::regex_constants::match_flag_type TranslateMatchFlags(unsigned legacy)
{
    legacy &= LegacyMatch::all_options;
    auto flags = static_cast<rc::match_flag_type>(legacy);
    if ((legacy & LegacyMatch::match_any) == 0)
        flags |= rc::match_posix;
    return flags;
}

}  // namespace RegexEngine

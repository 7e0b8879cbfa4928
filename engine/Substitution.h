// Format expansion of a match, and the engine's one-call search-and-replace.
//
// The format syntax is the engine's full one: $n and $& for sub-matches, $`
// and $' for prefix and suffix, backslash escapes, (?n...:...) conditionals;
// a $ followed by anything else stands for itself. A sub-expression that took
// no part, or that does not exist, expands to nothing.
#ifndef QUORVEX_ENGINE_SUBSTITUTION_H
#define QUORVEX_ENGINE_SUBSTITUTION_H

#include <iterator>
#include <locale>
#include <stdexcept>
#include <string>

#include <boost/regex.hpp>

namespace RegexEngine {

// Supplies the character classification of a format expansion from a locale,
// when the compiled expression's own locale is not the one wanted.
class LocaleFormatTraits {
public:
    using traits_type = boost::regex_traits<char>;
    explicit LocaleFormatTraits(const std::locale& locale) { traits_.imbue(locale); }
    const boost::regex_traits_wrapper<traits_type>& get_traits() const { return traits_; }

private:
    boost::regex_traits_wrapper<traits_type> traits_;
};

// Appends to `out` the expansion of `format` against `m`, classifying the
// format's characters with `locale`. `compiled` is the expression that made
// the match: its traits serve when its locale is the one wanted.
inline void AppendFormat(std::string& out, const boost::cmatch& m, const std::string& format,
                         const std::locale& locale, const boost::regex& compiled)
{
    const auto flags = boost::regex_constants::format_all;
    // An expression that was never compiled has no traits of its own.
    const bool ownTraits = compiled.status() != boost::regex_constants::error_empty;
    if (ownTraits && compiled.getloc() == locale)
        m.format(std::back_inserter(out), format, flags, compiled);
    else
        m.format(std::back_inserter(out), format, flags, LocaleFormatTraits(locale));
}

// Replaces every match in [first, last) by the expansion of `format`,
// appending to `out`; with `copyRest` the text between, before and after the
// matches is copied too. A matching error ends the output after the last
// replacement made and is stored in `error`.
inline void ReplaceRange(std::string& out, const char* first, const char* last, const boost::regex& expression,
                         const std::string& format, boost::regex_constants::match_flag_type flags, bool copyRest,
                         std::string& error)
{
    flags |= boost::regex_constants::format_all;
    if (!copyRest)
        flags |= boost::regex_constants::format_no_copy;
    try {
        boost::regex_replace(std::back_inserter(out), first, last, expression, format, flags);
    } catch (const std::runtime_error& failure) {
        error = failure.what();
    }
}

}  // namespace RegexEngine

#endif

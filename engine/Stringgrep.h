// Running the engine over a character range without letting a matching error
// escape: the engine throws std::runtime_error when an expression's
// backtracking exceeds its limits (try (a*)*b on a long run of a). Such an
// error ends the run where it is and is handed back as text; an exception
// thrown by the caller's own callback is not mistaken for one and propagates.
#ifndef QUORVEX_ENGINE_STRINGGREP_H
#define QUORVEX_ENGINE_STRINGGREP_H

#include <stdexcept>
#include <string>

#include <boost/regex.hpp>

namespace RegexEngine {

// Every match in [first, last), left to right, each handed to
// onMatch(const boost::cmatch&) which answers whether to go on. After an
// empty match the same position is tried again for a non-empty match before
// moving on; attempts after the first see the character before them. Returns
// the number of matches handed to onMatch (the one that answered false
// included). A matching error stops the scan and is stored in `error`.
template <class OnMatch>
unsigned GrepRange(const char* first, const char* last, const boost::regex& expression,
                   boost::regex_constants::match_flag_type flags, OnMatch&& onMatch, std::string& error)
{
    unsigned count = 0;
    bool inCallback = false;
    try {
        boost::regex_grep(
            [&](const boost::cmatch& m) -> bool {
                ++count;
                inCallback = true;
                const bool goOn = onMatch(m);
                inCallback = false;
                return goOn;
            },
            first, last, expression, flags);
    } catch (const std::runtime_error& failure) {
        if (inCallback)
            throw;
        error = failure.what();
    }
    return count;
}

// How a single test of a subject is anchored.
enum class Anchoring {
    AtStart,   // the match starts at the first character and may end anywhere
    Whole,     // the match covers the whole subject
    Anywhere   // the leftmost match
};

// One engine run over [first, last) into `m`. A matching error counts as no
// match and is stored in `error`.
inline bool MatchRange(const char* first, const char* last, const boost::regex& expression,
                       boost::regex_constants::match_flag_type flags, Anchoring anchoring,
                       boost::cmatch& m, std::string& error)
{
    try {
        switch (anchoring) {
        case Anchoring::AtStart:
            return boost::regex_search(first, last, m, expression, flags | boost::regex_constants::match_continuous);
        case Anchoring::Whole:
            return boost::regex_match(first, last, m, expression, flags);
        case Anchoring::Anywhere:
            return boost::regex_search(first, last, m, expression, flags);
        }
    } catch (const std::runtime_error& failure) {
        error = failure.what();
    }
    return false;
}

}  // namespace RegexEngine

#endif

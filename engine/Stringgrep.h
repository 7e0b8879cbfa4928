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

#include "Searchdriver.h"

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

// Subjects from this size on are counted through the search driver, whose
// literal search pays off only on long subjects.
constexpr std::size_t countThroughDriver = 64 * 1024;

// The number of matches in [first, last), as GrepRange with a callback that
// always goes on counts them; `text` is the expression's source. A long
// subject whose expression has a literal path goes through the search
// driver, which finds the same matches. A matching error stops the count and
// is stored in `error`.
inline unsigned CountMatches(const char* first, const char* last, const boost::regex& expression,
                             const std::string& text, boost::regex_constants::match_flag_type flags,
                             std::string& error)
{
    class Counter final : public MatchSink {
    public:
        bool Take(const std::uint64_t*) override
        {
            ++count;
            return true;
        }
        unsigned count = 0;
    };
    if (static_cast<std::size_t>(last - first) >= countThroughDriver) {
        const unsigned marks = static_cast<unsigned>(expression.mark_count()) + 1;
        const auto plan = PlanSearch(text.c_str(), (expression.flags() & boost::regex::icase) != 0, expression, marks);
        if (ChooseSearchPath(plan.get(), flags) != SearchPath::Whole) {
            Counter counter;
            std::string failure;
            if (RunSearch(expression, marks, plan.get(), first, static_cast<std::size_t>(last - first), flags,
                          counter, failure) == SearchEnd::Failed)
                error = failure;
            return counter.count;
        }
    }
    return GrepRange(first, last, expression, flags, [](const boost::cmatch&) { return true; }, error);
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

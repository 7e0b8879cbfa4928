// Running the engine over a character range without letting a matching error
// escape: the engine throws std::runtime_error when an expression's
// backtracking exceeds its limits (try (a*)*b on a long run of a). Such an
// error ends the run where it is and is handed back as text; an exception
// thrown by the caller's own callback is not mistaken for one and propagates.
#ifndef QUORVEX_ENGINE_STRINGGREP_H
#define QUORVEX_ENGINE_STRINGGREP_H

#include <iterator>
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

// Replaces every match in [first, last) by the expansion of `format` (full
// format syntax), appending to `out`, with the text between the matches when
// `copyRest`: what the engine's one-call replace gives, for a long subject
// whose expression (source `text`) has a literal path and whose format does
// not use the text before or after a match. Returns false, with nothing
// appended, when it does not apply. A matching error ends the output after
// the last replacement made and is stored in `error`.
inline bool ReplaceThroughDriver(std::string& out, const char* first, const char* last,
                                 const boost::regex& expression, const std::string& text, const std::string& format,
                                 boost::regex_constants::match_flag_type flags, bool copyRest, std::string& error)
{
    namespace rc = boost::regex_constants;
    if (static_cast<std::size_t>(last - first) < countThroughDriver)
        return false;
    // $` $' and their long names expand to text that the driver's matches
    // do not carry.
    if (format.find_first_of("`'") != std::string::npos || format.find("MATCH") != std::string::npos)
        return false;
    const unsigned marks = static_cast<unsigned>(expression.mark_count()) + 1;
    const auto plan = PlanSearch(text.c_str(), (expression.flags() & boost::regex::icase) != 0, expression, marks);
    if (ChooseSearchPath(plan.get(), flags) == SearchPath::Whole)
        return false;

    // Each match found is taken again by an anchored engine run at its start,
    // which gives its sub-matches for the expansion.
    class Replacer final : public MatchSink {
    public:
        Replacer(std::string& out, const char* first, const char* last, const boost::regex& e,
                 const std::string& format, rc::match_flag_type flags, bool copy)
            : out_(out), first_(first), last_(last), e_(e), format_(format), flags_(flags), copy_(copy)
        {
        }
        bool Take(const std::uint64_t* offsets) override
        {
            const char* start = first_ + offsets[0];
            if (!boost::regex_search(start, last_, m_, e_, flags_ | rc::match_continuous, first_) ||
                m_[0].second != first_ + offsets[1]) {
                diverged = true;  // never expected: the caller starts over with the engine
                return false;
            }
            if (copy_)
                out_.append(first_ + done, start);
            m_.format(std::back_inserter(out_), format_,
                      rc::format_all | (copy_ ? rc::format_default : rc::format_no_copy), e_);
            done = offsets[1];
            return true;
        }
        std::size_t done = 0;
        bool diverged = false;

    private:
        std::string& out_;
        const char* first_;
        const char* last_;
        const boost::regex& e_;
        const std::string& format_;
        rc::match_flag_type flags_;
        bool copy_;
        boost::cmatch m_;
    };

    const std::size_t initial = out.size();
    Replacer replacer(out, first, last, expression, format, flags, copyRest);
    std::string failure;
    SearchEnd end = SearchEnd::Failed;
    try {
        end = RunSearch(expression, marks, plan.get(), first, static_cast<std::size_t>(last - first), flags, replacer,
                        failure);
    } catch (const std::runtime_error& thrown) {
        failure = thrown.what();  // the anchored run hit the engine's limits
    }
    if (replacer.diverged) {
        out.resize(initial);
        return false;
    }
    if (end == SearchEnd::Failed) {
        error = failure;
        return true;
    }
    if (copyRest)
        out.append(first + replacer.done, last);
    return true;
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

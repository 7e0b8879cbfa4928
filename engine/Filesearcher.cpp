// The searcher (see Filesearcher.h).
#include "Filesearcher.h"

#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace RegexEngine {

std::shared_ptr<const CompiledPattern> CompilePattern(const char* text, bool icase, unsigned& error)
{
    auto pattern = std::make_shared<CompiledPattern>();
    boost::regex::flag_type syntax = boost::regex::normal | boost::regex::no_except;
    if (icase)
        syntax |= boost::regex::icase;
    try {
        pattern->expression.assign(text, syntax);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // no_except keeps the engine from throwing for a bad expression; any
        // other complaint from the compiler is reported the same way.
        error = boost::regex_constants::error_unknown;
        return nullptr;
    }
    error = static_cast<unsigned>(pattern->expression.status());
    if (error != 0)
        return nullptr;
    pattern->marks = static_cast<unsigned>(pattern->expression.mark_count()) + 1;
    pattern->plan = PlanSearch(text, icase, pattern->expression, pattern->marks);
    return pattern;
}

unsigned SearchFlags(unsigned flags)
{
    // match_prev_avail would read the byte before the buffer; match_init is
    // the engine's record of a search already under way.
    return flags & ~(static_cast<unsigned>(boost::match_prev_avail | boost::regex_constants::match_init) | lineModeFlag | firstOfLineFlag);
}

SearchEnd SearchBuffer(const CompiledPattern& pattern, const char* data, std::size_t size, unsigned flags,
                       MatchSink& sink, std::string& error)
{
    if (pattern.unicode)
        return SearchUnicodeBuffer(*pattern.unicode, pattern.plan.get(), pattern.marks, data, size, flags, sink,
                                   error);
    return RunSearch(pattern.expression, pattern.marks, pattern.plan.get(), data, size, flags, sink, error);
}

}  // namespace RegexEngine

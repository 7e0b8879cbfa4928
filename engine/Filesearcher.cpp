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

namespace {

// `text` as an expression of the normal syntax that matches exactly its
// bytes: every byte that could be an operator is escaped.
std::string QuotedForNormalSyntax(const std::string& text)
{
    std::string quoted;
    quoted.reserve(2 * text.size());
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80 && std::strchr("\\^$.|?*+()[]{}", c) != nullptr && c != '\0')
            quoted += '\\';
        quoted += c;
    }
    return quoted;
}

}  // namespace

std::shared_ptr<const CompiledPattern> AdoptPattern(const boost::regex& compiled, const std::string& text,
                                                    unsigned& error)
{
    error = static_cast<unsigned>(compiled.status());
    if (error != 0)
        return nullptr;
    auto pattern = std::make_shared<CompiledPattern>();
    pattern->expression = compiled;
    pattern->marks = static_cast<unsigned>(compiled.mark_count()) + 1;
    const bool icase = (compiled.flags() & boost::regex::icase) != 0;
    if ((compiled.flags() & boost::regex::literal) == 0) {
        pattern->plan = PlanSearch(text, icase, compiled, pattern->marks);
        return pattern;
    }
    // Plain text: its plan is that of the same text quoted, compiled the same
    // way under the same locale.
    const std::string quoted = QuotedForNormalSyntax(text);
    boost::regex analysed;
    analysed.imbue(compiled.getloc());
    analysed.assign(quoted, boost::regex::normal | boost::regex::no_except | (icase ? boost::regex::icase : 0));
    if (analysed.status() == 0 && analysed.mark_count() == 0)
        pattern->plan = PlanSearch(quoted, icase, analysed, pattern->marks);
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
    return RunSearch(pattern.expression, pattern.marks, pattern.plan.get(), data, size, flags, sink, error);
}

}  // namespace RegexEngine

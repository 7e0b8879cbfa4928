// The searcher (see Filesearcher.h).
#include "Filesearcher.h"

#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "Unicodeprefilter.h"

namespace RegexEngine {

namespace {

// Whether the automaton prefilter would serve a search with `plan`: one
// without a literal worth looking for, in line mode or over a whole buffer.
// (Scanning the lines that hold a required text with the automaton as well
// was tried and measured: it gained nothing on the search benchmark.)
bool WantsPrefilter(const SearchPlan* plan)
{
    return PrefersCandidateSpans(plan, lineModeFlag) || PrefersCandidateSpans(plan, 0);
}

}  // namespace

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
    if (WantsPrefilter(pattern->plan.get()))
        pattern->prefilter = AutomatonPrefilter::Build(text, icase, pattern->expression);
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

std::shared_ptr<const CompiledPattern> UnicodePattern(std::shared_ptr<const UnicodeExpression> compiled,
                                                      unsigned& error)
{
    error = 0;
    if (!compiled) {
        error = boost::regex_constants::error_empty;
        return nullptr;
    }
    if (compiled->Status() != 0) {
        error = static_cast<unsigned>(compiled->Status());
        return nullptr;
    }
    auto pattern = std::make_shared<CompiledPattern>();
    pattern->marks = compiled->MarkCount() + 1;
    pattern->plan = PlanUnicodeLines(*compiled);
    if (NoUsableLiteral(pattern->plan.get(), lineModeFlag))
        pattern->prefilter = BuildUnicodePrefilter(*compiled);
    pattern->unicode = std::move(compiled);
    return pattern;
}

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
        // The automaton reads the normal syntax, and `text` must be the whole
        // expression (it stops at a NUL the expression may hold).
        const auto syntax = compiled.flags() & ~(boost::regex::icase | boost::regex::collate |
                                                 boost::regex::no_except | boost::regex::failbit);
        if (syntax == boost::regex::normal && compiled.str().size() == text.size() &&
            WantsPrefilter(pattern->plan.get()))
            pattern->prefilter = AutomatonPrefilter::Build(text, icase, compiled);
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
    return flags & ~(static_cast<unsigned>(boost::match_prev_avail | boost::regex_constants::match_init) | lineModeFlag | firstOfLineFlag | feedOnlyFlag);
}

namespace {

// The engine over the candidate spans the prefilter reports, the buffer
// scanned a chunk at a time.
SearchEnd SearchCandidates(const CompiledPattern& pattern, const char* data, std::size_t size, unsigned flags,
                           MatchSink& sink, std::string& error)
{
    std::vector<CandidateSpan> spans;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t stop = AutomatonPrefilter::ChunkEnd(data, at, size);
        spans.clear();
        if (pattern.prefilter->CandidateSpans(data + at, stop - at, spans)) {
            for (CandidateSpan& span : spans) {
                span.line += at;
                span.from += at;
                span.end += at;
            }
        } else {
            // Every line of the chunk.
            const std::size_t end = stop > at && data[stop - 1] == '\n' ? stop - 1 : stop;
            spans.assign(1, {at, at, end});
        }
        const SearchEnd end = RunCandidateSpans(pattern.expression, pattern.marks, data, stop, spans, flags, sink, error);
        if (end != SearchEnd::Finished)
            return end;
        at = stop;
    }
    return SearchEnd::Finished;
}

}  // namespace

SearchEnd SearchBuffer(const CompiledPattern& pattern, const char* data, std::size_t size, unsigned flags,
                       MatchSink& sink, std::string& error)
{
    if (pattern.unicode && pattern.prefilter && NoUsableLiteral(pattern.plan.get(), flags))
        return SearchUnicodeCandidates(*pattern.unicode, pattern.plan.get(), *pattern.prefilter, pattern.marks, data,
                                       size, flags, sink, error);
    if (pattern.unicode)
        return SearchUnicodeBuffer(*pattern.unicode, pattern.plan.get(), pattern.marks, data, size, flags, sink,
                                   error);
    if (pattern.prefilter && ((flags & lineModeFlag) != 0 || pattern.prefilter->ServesWholeBuffer()) &&
        PrefersCandidateSpans(pattern.plan.get(), flags))
        return SearchCandidates(pattern, data, size, flags, sink, error);
    return RunSearch(pattern.expression, pattern.marks, pattern.plan.get(), data, size, flags, sink, error);
}

}  // namespace RegexEngine

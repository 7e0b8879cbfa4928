// The searcher (see Filesearcher.h).
#include "Filesearcher.h"

#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "Unicodeprefilter.h"

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
    if (NoUsableLiteral(pattern->plan.get(), lineModeFlag))
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

// Bytes the prefilter scans at once (up to the next line feed): the list of
// candidate lines stays small, whatever the buffer's size.
constexpr std::size_t prefilterChunk = std::size_t(1) << 20;

// Hands on the matches of a part of the buffer with offsets from its start.
class Shifted final : public MatchSink {
public:
    Shifted(MatchSink& inner, unsigned marks) : inner_(inner), offsets_(2 * marks) {}
    void From(std::size_t at) { at_ = at; }
    bool Take(const std::uint64_t* offsets) override
    {
        for (std::size_t i = 0; i < offsets_.size(); ++i)
            offsets_[i] = offsets[i] == noOffset ? noOffset : offsets[i] + at_;
        return inner_.Take(offsets_.data());
    }

private:
    MatchSink& inner_;
    std::vector<std::uint64_t> offsets_;
    std::size_t at_ = 0;
};

// Line mode with the prefilter: the engine over the candidate lines only,
// each a subject of its own as in the driver's line search.
SearchEnd SearchCandidates(const CompiledPattern& pattern, const char* data, std::size_t size, unsigned flags,
                           MatchSink& sink, std::string& error)
{
    Shifted shifted(sink, pattern.marks);
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    std::size_t at = 0;
    while (at < size) {
        std::size_t stop = size;
        if (size - at > prefilterChunk) {
            const void* feed = std::memchr(data + at + prefilterChunk, '\n', size - at - prefilterChunk);
            stop = feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(feed) - data) + 1 : size;
        }
        lines.clear();
        if (!pattern.prefilter->CandidateLines(data + at, stop - at, lines))
            lines.assign(1, {0, stop - at});  // every line of the chunk
        for (const auto& line : lines) {
            shifted.From(at + line.first);
            const SearchEnd end = RunSearch(pattern.expression, pattern.marks, pattern.plan.get(),
                                            data + at + line.first, line.second - line.first, flags, shifted, error);
            if (end != SearchEnd::Finished)
                return end;
        }
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
    if (pattern.prefilter && NoUsableLiteral(pattern.plan.get(), flags))
        return SearchCandidates(pattern, data, size, flags, sink, error);
    return RunSearch(pattern.expression, pattern.marks, pattern.plan.get(), data, size, flags, sink, error);
}

}  // namespace RegexEngine

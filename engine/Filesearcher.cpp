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
    pattern->literal =
        LiteralFinder::Make(text, icase, pattern->expression.getloc(), pattern->marks - 1);
    return pattern;
}

unsigned SearchFlags(unsigned flags)
{
    // match_prev_avail would read the byte before the buffer; match_init is
    // the engine's record of a search already under way.
    return flags & ~(static_cast<unsigned>(boost::match_prev_avail | boost::regex_constants::match_init) | lineModeFlag);
}

namespace {

// The engine grep's predicate: turns a match into offsets for the sink and
// keeps what the sink throws for after the engine has returned.
struct GrepState {
    const char* base;
    unsigned marks;
    MatchSink* sink;
    std::vector<std::uint64_t> offsets;
    bool stopped = false;
    std::exception_ptr thrown;
};

struct GrepPredicate {
    GrepState* state;
    bool operator()(const boost::match_results<const char*>& m) const
    {
        GrepState& s = *state;
        for (unsigned i = 0; i < s.marks; ++i) {
            if (i < m.size() && m[i].matched) {
                s.offsets[2 * i] = static_cast<std::uint64_t>(m[i].first - s.base);
                s.offsets[2 * i + 1] = static_cast<std::uint64_t>(m[i].second - s.base);
            } else {
                s.offsets[2 * i] = s.offsets[2 * i + 1] = noOffset;
            }
        }
        try {
            if (s.sink->Take(s.offsets.data()))
                return true;
        } catch (...) {
            s.thrown = std::current_exception();
        }
        s.stopped = true;
        return false;
    }
};

// Catches what the sink throws so that the literal search's caller can tell
// it from a matching error; rethrown by SearchBuffer.
class GuardedSink final : public MatchSink {
public:
    explicit GuardedSink(MatchSink& inner) : inner_(inner) {}
    bool Take(const std::uint64_t* offsets) override
    {
        try {
            return inner_.Take(offsets);
        } catch (...) {
            thrown = std::current_exception();
            return false;
        }
    }
    std::exception_ptr thrown;

private:
    MatchSink& inner_;
};

}  // namespace

SearchEnd SearchBuffer(const CompiledPattern& pattern, const char* data, std::size_t size, unsigned flags,
                       MatchSink& sink, std::string& error)
{
    if (pattern.literal && LiteralFinder::FlagsAllow(flags)) {
        GuardedSink guarded(sink);
        const bool finished = pattern.literal->Search(data, size, guarded);
        if (guarded.thrown)
            std::rethrow_exception(guarded.thrown);
        return finished ? SearchEnd::Finished : SearchEnd::Stopped;
    }

    GrepState state{data, pattern.marks, &sink, std::vector<std::uint64_t>(2 * pattern.marks), false, nullptr};
    const auto engineFlags = static_cast<boost::match_flag_type>(flags & ~lineModeFlag);
    try {
        if ((flags & lineModeFlag) == 0) {
            boost::regex_grep(GrepPredicate{&state}, data, data + size, pattern.expression, engineFlags);
        } else {
            // Each line on its own: the engine sees the line as its whole subject.
            const char* const end = data + size;
            for (const char* line = data; line != end && !state.stopped;) {
                const char* feed = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
                const char* lineEnd = feed != nullptr ? feed : end;
                boost::regex_grep(GrepPredicate{&state}, line, lineEnd, pattern.expression, engineFlags);
                line = feed != nullptr ? feed + 1 : end;
            }
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        // Complexity or stack limits, or match flags the engine refuses.
        error = e.what();
        return SearchEnd::Failed;
    }
    if (state.thrown)
        std::rethrow_exception(state.thrown);
    return state.stopped ? SearchEnd::Stopped : SearchEnd::Finished;
}

}  // namespace RegexEngine

// Streaming search (see Quorvexsearch.h): the public face of the engine's
// streaming searcher, its sources and its walker.
#include "Quorvexsearch.h"

#include <algorithm>
#include <mutex>
#include <new>

#include "Filesearcher.h"
#include "Filewalker.h"
#include "Platform.h"
#include "Searchpool.h"
#include "Searchsource.h"
#include "Streamsearcher.h"

namespace RegexClass {

SearchSink::~SearchSink() = default;
SearchAnswer SearchSink::OnInputStart(const std::string&) { return SearchAnswer::Continue; }
SearchAnswer SearchSink::OnBlock(const SearchBlock&) { return SearchAnswer::Continue; }
SearchAnswer SearchSink::OnBlockEnd(const SearchBlock&) { return SearchAnswer::Continue; }
SearchAnswer SearchSink::OnInputEnd(const std::string&) { return SearchAnswer::Continue; }
SearchAnswer SearchSink::OnInputFailed(const std::string&, unsigned, const std::string&) { return SearchAnswer::Continue; }

SearchSinkFactory::~SearchSinkFactory() = default;
SearchAnswer SearchSinkFactory::OnWalkFailed(const std::string&, unsigned, const std::string&)
{
    return SearchAnswer::Continue;
}

namespace {

using RegexEngine::StreamAnswer;

StreamAnswer ToStream(SearchAnswer answer)
{
    return answer == SearchAnswer::Continue ? StreamAnswer::Go
           : answer == SearchAnswer::SkipInput ? StreamAnswer::SkipSource
                                               : StreamAnswer::Stop;
}

SearchBlock ToBlock(const RegexEngine::StreamBlock& b)
{
    return SearchBlock{std::string_view(b.data, b.size), b.offset, b.kept, b.line, b.binary, b.matched};
}

// The engine's sink over the caller's: the same values, public types. On a
// worker of a walk's pool, a file the walk no longer wants (a Stop from an
// earlier file) ends at its next block.
class Bridge final : public RegexEngine::StreamSink {
public:
    Bridge(SearchSink& sink, const RegexEngine::SearchPool* pool, std::size_t index)
        : sink_(sink), pool_(pool), index_(index)
    {
    }
    StreamAnswer Match(const RegexEngine::StreamMatch& m) override
    {
        ++matches;
        SearchMatch match;
        match.Offset = m.start;
        match.End = m.end;
        match.Line = m.lineNumber;
        match.LineOffset = m.lineStart;
        match.Text = std::string_view(m.match, static_cast<std::size_t>(m.end - m.start));
        match.LineText = std::string_view(m.line, m.lineSize);
        match.Groups = m.marks;
        match.groups_ = m.offsets;
        return ToStream(sink_.OnMatch(match));
    }
    StreamAnswer Block(const RegexEngine::StreamBlock& b) override
    {
        if (pool_ != nullptr && !pool_->Wanted(index_))
            return StreamAnswer::Stop;
        return ToStream(sink_.OnBlock(ToBlock(b)));
    }
    StreamAnswer BlockDone(const RegexEngine::StreamBlock& b) override
    {
        matches += b.matched;
        if (pool_ != nullptr && !pool_->Wanted(index_))
            return StreamAnswer::Stop;
        return ToStream(sink_.OnBlockEnd(ToBlock(b)));
    }
    std::uint64_t matches = 0;

private:
    SearchSink& sink_;
    const RegexEngine::SearchPool* pool_;
    std::size_t index_;
};

bool CallFilter(const char* path, bool directory, void* context)
{
    return (*static_cast<const std::function<bool(const std::string&, bool)>*>(context))(path, directory);
}

}  // namespace

struct Searcher::Impl {
    std::shared_ptr<const RegexEngine::CompiledPattern> pattern;
    unsigned flags = 0;
    unsigned error = 0;
    std::string errorText;
    SearchOptions options;

    void Compile(const std::string& expression, bool icase, unsigned matchFlags)
    {
        // As the object's walks: the expression up to its first NUL.
        pattern = RegexEngine::CompilePattern(expression.c_str(), icase, error);
        if (!pattern) {
            RegularExpression probe;
            probe.SetExpression(expression);
            if (icase)
                probe.AddExpressionOption(RegularExpression::CaseInsensitive);
            probe.ParseExpression();
            errorText = probe.GetExpressionError();
            if (errorText.empty())
                errorText = "the expression does not compile";
        }
        flags = RegexEngine::SearchFlags(matchFlags);
    }

    RegexEngine::StreamSettings Settings() const
    {
        RegexEngine::StreamSettings s;
        s.flags = flags;
        s.lines = options.LineMode;
        s.firstOfLine = options.FirstMatchOfLine;
        s.countOnly = options.CountOnly && options.LineMode;
        s.countLines = options.LineNumbers;
        s.nullData = options.NullData;
        s.nulEndsLine = options.NulEndsLine;
        if (options.BlockSize != 0)
            s.blockSize = options.BlockSize;
        s.keepLines = options.ContextLines;
        s.window = options.Window;
        // Whole-input mode hands out blocks of whole lines, as line mode does.
        s.wholeLines = !options.LineMode;
        return s;
    }

    // Read storage for the calls on the caller's thread (one at a time),
    // kept from one input to the next.
    RegexEngine::ReadBuffer buffer;

    // Searches an opened source into `buffer`; the sink hears of its start
    // and end.
    SearchResult Run(RegexEngine::SearchSource& source, const std::string& name, SearchSink& sink,
                     RegexEngine::ReadBuffer& buffer, const RegexEngine::SearchPool* pool = nullptr,
                     std::size_t index = 0) const
    {
        SearchResult result;
        const SearchAnswer start = sink.OnInputStart(name);
        if (start != SearchAnswer::Continue) {
            result.End = start == SearchAnswer::Stop ? SearchResult::Stopped : SearchResult::Finished;
            return result;
        }
        RegexEngine::StreamSearcher searcher(*pattern, Settings(), &buffer);
        Bridge bridge(sink, pool, index);
        RegexEngine::StreamEnd end;
        try {
            end = searcher.Search(source, bridge, result.Error);
        } catch (const std::bad_alloc&) {
            // A line (or a whole-input match) larger than memory: this input
            // fails, the caller goes on.
            result.End = SearchResult::ReadFailed;
            result.SystemError = RegexPlatform::OutOfMemoryError();
            result.Error = RegexPlatform::ErrorText(result.SystemError);
            result.Matches = bridge.matches;
            return result;
        }
        result.Matches = bridge.matches;
        result.Bytes = searcher.BytesSearched();
        switch (end) {
        case RegexEngine::StreamEnd::Finished:
        case RegexEngine::StreamEnd::Skipped:
            break;
        case RegexEngine::StreamEnd::Stopped:
            result.End = SearchResult::Stopped;
            return result;
        case RegexEngine::StreamEnd::ReadFailed:
            result.End = SearchResult::ReadFailed;
            result.SystemError = source.Error();
            return result;
        case RegexEngine::StreamEnd::MatchFailed:
            result.End = SearchResult::MatchFailed;
            return result;
        }
        if (sink.OnInputEnd(name) == SearchAnswer::Stop)
            result.End = SearchResult::Stopped;
        return result;
    }

    // A file by name, its failures told to the sink too. Const: the workers
    // of a walk search with it at once.
    SearchResult SearchOne(const std::string& path, bool listed, SearchSink& sink, RegexEngine::ReadBuffer& buffer,
                           const RegexEngine::SearchPool* pool = nullptr, std::size_t index = 0) const
    {
        RegexEngine::SearchSource source;
        // A file a walk listed is opened only if it is still a regular file.
        if (!source.Open(path, listed)) {
            SearchResult result;
            result.End = SearchResult::ReadFailed;
            result.SystemError = source.Error();
            result.Error = RegexPlatform::ErrorText(result.SystemError);
            if (sink.OnInputFailed(path, result.SystemError, result.Error) == SearchAnswer::Stop)
                result.End = SearchResult::Stopped;
            return result;
        }
        SearchResult result = Run(source, path, sink, buffer, pool, index);
        if (result.End == SearchResult::ReadFailed || result.End == SearchResult::MatchFailed) {
            if (result.Error.empty())
                result.Error = RegexPlatform::ErrorText(result.SystemError);
            if (sink.OnInputFailed(path, result.SystemError, result.Error) == SearchAnswer::Stop)
                result.End = SearchResult::Stopped;
        }
        return result;
    }

    // The files of a walk, and the directories it could not read.
    std::vector<std::string> List(const std::string& files, const WalkOptions& walk,
                                  std::vector<RegexEngine::ListProblem>& problems) const
    {
        const RegexEngine::LinkRule links = walk.LinkRule == WalkOptions::NoLinks    ? RegexEngine::LinkRule::NoLinks
                                            : walk.LinkRule == WalkOptions::AllLinks ? RegexEngine::LinkRule::AllLinks
                                                                                     : RegexEngine::LinkRule::FileLinks;
        return RegexEngine::ListFiles(files, walk.Recurse, links, walk.Filter ? CallFilter : nullptr,
                                      const_cast<std::function<bool(const std::string&, bool)>*>(&walk.Filter),
                                      &problems);
    }

    SearchResult NotCompiled() const
    {
        SearchResult result;
        result.End = SearchResult::MatchFailed;
        result.Error = errorText;
        return result;
    }
};

Searcher::Searcher(const std::string& expression, const std::set<RegularExpression::Options>& options,
                   const std::set<RegularExpression::Matches>& matches)
    : impl_(new Impl())
{
    RegularExpression probe;
    for (const RegularExpression::Matches m : matches)
        probe.AddMatchOption(m);
    impl_->Compile(expression, options.count(RegularExpression::CaseInsensitive) != 0, probe.GetMatchFlags());
}

Searcher::Searcher(RegularExpression& object) : impl_(new Impl())
{
    impl_->Compile(object.GetExpression(), object.IsExpressionOption(RegularExpression::CaseInsensitive),
                   object.GetMatchFlags());
    // In Unicode mode the search runs the object's own Unicode compilation.
    // (The byte compilation above may refuse what the mode accepts: \x{e9}.)
    if (object.GetUnicode()) {
        impl_->errorText.clear();
        impl_->error = object.ParseExpression();
        impl_->pattern = impl_->error != 0 ? nullptr
                                           : RegexEngine::UnicodePattern(object.UnicodeCompiled, impl_->error);
        if (!impl_->pattern) {
            impl_->errorText = object.GetExpressionError();
            if (impl_->errorText.empty())
                impl_->errorText = "the expression does not compile";
        }
    }
    impl_->options.LineMode = object.GetLineMode();
}

Searcher::~Searcher() = default;
Searcher::Searcher(Searcher&&) noexcept = default;
Searcher& Searcher::operator=(Searcher&&) noexcept = default;

bool Searcher::Ok() const { return impl_->pattern != nullptr; }
const std::string& Searcher::Error() const { return impl_->errorText; }
unsigned Searcher::ErrorCode() const { return impl_->error; }
SearchOptions& Searcher::Options() { return impl_->options; }

SearchResult Searcher::SearchPath(const std::string& path, SearchSink& sink)
{
    return SearchOne(path, false, sink);
}

SearchResult Searcher::SearchOne(const std::string& path, bool listed, SearchSink& sink)
{
    if (!Ok())
        return impl_->NotCompiled();
    return impl_->SearchOne(path, listed, sink, impl_->buffer);
}

SearchResult Searcher::SearchFiles(const std::string& files, const WalkOptions& walk, SearchSink& sink)
{
    if (!Ok())
        return impl_->NotCompiled();
    std::vector<RegexEngine::ListProblem> problems;
    const std::vector<std::string> list = impl_->List(files, walk, problems);
    SearchResult total;
    std::size_t problem = 0;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        // Directories that could not be read, where the listing met them.
        for (; problem < problems.size() && problems[problem].Before <= i; ++problem) {
            const auto& p = problems[problem];
            if (sink.OnInputFailed(p.Name, p.SystemError, RegexPlatform::ErrorText(p.SystemError)) == SearchAnswer::Stop) {
                total.End = SearchResult::Stopped;
                return total;
            }
        }
        if (i == list.size())
            break;
        const SearchResult one = impl_->SearchOne(list[i], true, sink, impl_->buffer);
        total.Matches += one.Matches;
        total.Bytes += one.Bytes;
        if (one.End == SearchResult::Stopped) {
            total.End = SearchResult::Stopped;
            return total;
        }
    }
    return total;
}

SearchResult Searcher::SearchFiles(const std::string& files, const WalkOptions& walk, SearchSinkFactory& sinks)
{
    if (!Ok())
        return impl_->NotCompiled();
    std::vector<RegexEngine::ListProblem> problems;
    const std::vector<std::string> list = impl_->List(files, walk, problems);
    RegexEngine::SearchPool pool(walk.Threads, walk.FilesAhead);
    // A file's sink and result wait in its slot of the window until the
    // caller's thread takes them.
    struct Done {
        std::unique_ptr<SearchSink> sink;
        SearchResult result;
    };
    std::vector<Done> slots(std::max<std::size_t>(1, std::min(pool.Window(), list.size())));
    SearchResult total;
    std::size_t problem = 0;
    // Directories that could not be read, where the listing met them
    // (before file `before`).
    const auto problemsBefore = [&](std::size_t before) {
        for (; problem < problems.size() && problems[problem].Before <= before; ++problem) {
            const auto& p = problems[problem];
            if (sinks.OnWalkFailed(p.Name, p.SystemError, RegexPlatform::ErrorText(p.SystemError)) ==
                SearchAnswer::Stop) {
                total.End = SearchResult::Stopped;
                return false;
            }
        }
        return true;
    };
    const Impl& impl = *impl_;
    // Read buffers, one per thread searching at once: a file's work takes
    // one and gives it back, so each file reads into storage an earlier
    // file left.
    std::mutex buffersMutex;
    std::vector<std::unique_ptr<RegexEngine::ReadBuffer>> buffers;
    const auto work = [&](std::size_t i) {
        std::unique_ptr<RegexEngine::ReadBuffer> buffer;
        {
            std::lock_guard<std::mutex> lock(buffersMutex);
            if (!buffers.empty()) {
                buffer = std::move(buffers.back());
                buffers.pop_back();
            }
        }
        if (!buffer)
            buffer.reset(new RegexEngine::ReadBuffer());
        Done& slot = slots[i % slots.size()];
        slot.sink = sinks.MakeSink(list[i]);
        slot.result = impl.SearchOne(list[i], true, *slot.sink, *buffer, &pool, i);
        std::lock_guard<std::mutex> lock(buffersMutex);
        buffers.push_back(std::move(buffer));
        return slot.result.End != SearchResult::Stopped;
    };
    const auto deliver = [&](std::size_t i) {
        if (!problemsBefore(i))
            return false;
        Done& slot = slots[i % slots.size()];
        const SearchResult result = std::move(slot.result);
        total.Matches += result.Matches;
        total.Bytes += result.Bytes;
        if (result.End == SearchResult::Stopped)
            total.End = SearchResult::Stopped;
        if (sinks.OnFileDone(std::move(slot.sink), result) == SearchAnswer::Stop)
            total.End = SearchResult::Stopped;
        return total.End != SearchResult::Stopped;
    };
    pool.Run(list.size(), work, deliver);
    if (total.End != SearchResult::Stopped)
        problemsBefore(list.size());
    return total;
}

SearchResult Searcher::SearchDescriptor(int descriptor, const std::string& name, SearchSink& sink)
{
    if (!Ok())
        return impl_->NotCompiled();
    RegexEngine::SearchSource source;
    SearchResult result;
    if (!source.Adopt(descriptor)) {
        result.End = SearchResult::ReadFailed;
        result.SystemError = source.Error();
        result.Error = RegexPlatform::ErrorText(result.SystemError);
        return result;
    }
    result = impl_->Run(source, name, sink, impl_->buffer);
    if (result.End == SearchResult::ReadFailed && result.Error.empty())
        result.Error = RegexPlatform::ErrorText(result.SystemError);
    return result;
}

SearchResult Searcher::SearchText(std::string_view text, SearchSink& sink)
{
    if (!Ok())
        return impl_->NotCompiled();
    RegexEngine::SearchSource source;
    source.Assign(text.data(), text.size());
    return impl_->Run(source, std::string(), sink, impl_->buffer);
}

}  // namespace RegexClass

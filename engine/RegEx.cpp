// RegEx: the engine object behind the file operations. It ties together the
// walker (Filewalker: which files, in which order), the searcher
// (Filesearcher: the matches of one file, with the byte-search prefilter) and
// the look-ahead (Searchpipeline), and delivers every file or match to the
// caller's plain callback, the sink, on the caller's thread in file order.
#include "RegEx.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "Filebuffer.h"
#include "Filesearcher.h"
#include "Filewalker.h"
#include "Platform.h"
#include "Searchpipeline.h"
#include "Searchsource.h"
#include "Streamsearcher.h"

namespace RegexEngine {

namespace {

// The match a GrepFiles callback is asked about.
struct CurrentMatch {
    const char* data = nullptr;  // the file's bytes
    std::size_t size = 0;
    const RegexPlatform::FileState* state = nullptr;  // the file as read
    unsigned marks = 0;                      // sub-matches per match in this walk
    const std::uint64_t* offsets = nullptr;  // null outside a callback
    // Line feeds counted so far: `lines` of them in [0, countedTo).
    std::uint64_t countedTo = 0;
    std::uint64_t lines = 0;
    // The file callback's view of the file.
    RegEx::FileStage stage = RegEx::FileStage::Started;
    unsigned fileError = 0;
    // The running walk's expression and its match flags (without the line
    // mode bits), and whether each line is a subject of its own.
    const boost::regex* expression = nullptr;
    unsigned flags = 0;
    bool lineMode = false;
    // The current file's matching error (at Finished, when the walk goes on).
    const std::string* fileMatchError = nullptr;
    // The current match of a file searched in windows (no `data` then): its
    // bytes and line number come from the streaming searcher.
    const StreamMatch* streamed = nullptr;
};

}  // namespace

struct RegEx::Impl {
    std::shared_ptr<const CompiledPattern> pattern;  // null: nothing compiled
    unsigned searchThreads = 0;                      // 0: one per core
    bool lineMode = false;
    bool firstOfLine = false;
    bool continueAfterError = false;
    std::string matchError;
    std::string matchErrorFile;
    CurrentMatch current;
    const RegEx* self = nullptr;
    FileCallback fileCallback = nullptr;
    FilterCallback filter = nullptr;
    LinkRule links = LinkRule::FileLinks;
    LargeFileRule largeFiles;
    // The directories the current walk's listing could not read, and how many
    // of them were reported.
    std::vector<ListProblem> problems;
    std::size_t problemsReported = 0;

    std::vector<std::string> List(const std::string& files, bool recurse);
    static bool FilterEntry(const char* path, bool directory, void* impl)
    {
        return static_cast<Impl*>(impl)->filter(path, directory);
    }
    FileAnswer Notify(const std::string& file, FileStage stage, unsigned error = 0);
    // Reports the unreadable directories met before file `index`; false when
    // the callback ended the walk.
    bool ReportProblems(std::size_t index);
    // Reports file `index` as skipped; false when the callback ended the walk.
    bool ReportSkipped(const std::string& file, unsigned error, bool listedFile = true);
    // Notes a matching error in `file`; true when the walk goes on (after
    // reporting the file Finished with its error), false when it ends.
    bool MatchFailed(const std::string& file, const std::string& error, bool notify);

    unsigned Workers(std::size_t files) const;

    // Searches the files of `list` in order and calls `deliver(index,
    // offsets)` for each match (for FirstMatch, the first match of each file
    // only) with `current` describing the file; `deliver` answers false to end
    // the walk. A matching error ends the walk with matchError set.
    template <class Deliver>
    void Walk(const std::vector<std::string>& list, unsigned flags, SearchPipeline::Mode mode, Deliver deliver);

    // Searches the files from `first` on, on the caller's thread. With
    // `trial`, returns the file from which the look-ahead should take over
    // (see InlineCost); otherwise, or when the walk ended, list.size().
    template <class Deliver>
    std::size_t WalkInline(const CompiledPattern& compiled, const std::vector<std::string>& list,
                           std::size_t first, unsigned flags, SearchPipeline::Mode mode, Deliver& deliver,
                           bool trial);

    // Searches file `index`, too large to read or map, in windows (in line
    // mode in blocks of lines) on the caller's thread; `state` is the file's
    // as the walk found it. False when the walk ended.
    template <class Deliver>
    bool SearchStreamed(const CompiledPattern& compiled, const std::string& file, std::size_t index,
                        unsigned flags, SearchPipeline::Mode mode, Deliver& deliver,
                        const RegexPlatform::FileState* state);

    // Searches the files from `first` on through the look-ahead; false when
    // no thread could be started (nothing was searched).
    template <class Deliver>
    bool WalkAhead(const CompiledPattern& compiled, SearchPipeline& pipeline, const std::vector<std::string>& list,
                   std::size_t first, unsigned flags, SearchPipeline::Mode mode, Deliver& deliver);

    void BeginFile(const char* data, std::size_t size, const RegexPlatform::FileState* state)
    {
        CurrentMatch next{data, size, state, current.marks, nullptr, 0, 0};
        next.expression = current.expression;
        next.flags = current.flags;
        next.lineMode = current.lineMode;
        current = next;
    }
};

std::vector<std::string> RegEx::Impl::List(const std::string& files, bool recurse)
{
    problems.clear();
    problemsReported = 0;
    return ListFiles(files, recurse, links, filter == nullptr ? nullptr : FilterEntry, this,
                     fileCallback == nullptr ? nullptr : &problems);
}

RegEx::FileAnswer RegEx::Impl::Notify(const std::string& file, FileStage stage, unsigned error)
{
    if (fileCallback == nullptr)
        return FileAnswer::Go;
    current.stage = stage;
    current.fileError = error;
    return fileCallback(file.c_str(), *self);
}

bool RegEx::Impl::ReportProblems(std::size_t index)
{
    while (problemsReported < problems.size() && problems[problemsReported].Before <= index) {
        const ListProblem& problem = problems[problemsReported++];
        if (!ReportSkipped(problem.Name, problem.SystemError, false))
            return false;
    }
    return true;
}

bool RegEx::Impl::ReportSkipped(const std::string& file, unsigned error, bool listedFile)
{
    if (fileCallback == nullptr)
        return true;
    // A listed file found to be a directory when read says so.
    const std::uint32_t attributes = listedFile ? RegexPlatform::GetAttributes(file.c_str()) : 0;
    if (listedFile && attributes != RegexPlatform::InvalidAttributes &&
        (attributes & RegexPlatform::AttributeDirectory) != 0)
        error = RegexPlatform::IsDirectoryError();
    BeginFile(nullptr, 0, nullptr);
    return Notify(file, FileStage::Skipped, error) != FileAnswer::Stop;
}

bool RegEx::Impl::MatchFailed(const std::string& file, const std::string& error, bool notify)
{
    if (matchError.empty()) {
        matchError = error;
        matchErrorFile = file;
    }
    if (!continueAfterError)
        return false;
    if (!notify)
        return true;
    current.offsets = nullptr;
    current.fileMatchError = &error;
    const FileAnswer answer = Notify(file, FileStage::Finished);
    current.fileMatchError = nullptr;
    return answer != FileAnswer::Stop;
}

unsigned RegEx::Impl::Workers(std::size_t files) const
{
    if (files < 2)
        return 0;  // nothing to look ahead to
    unsigned threads = searchThreads;
    if (threads == 0)
        threads = std::min(4u, std::max(1u, std::thread::hardware_concurrency()));
    return threads >= 2 ? threads : 0;
}

template <class Deliver>
void RegEx::Impl::Walk(const std::vector<std::string>& list, unsigned flags, SearchPipeline::Mode mode,
                       Deliver deliver)
{
    // Restores the state of an enclosing walk (or none) however this one ends.
    struct Restore {
        CurrentMatch& target;
        CurrentMatch saved;
        ~Restore() { target = saved; }
    } restore{current, current};

    // The walk keeps its own reference: a callback that compiles another
    // expression into this object changes the next walk, not this one.
    const std::shared_ptr<const CompiledPattern> compiled = pattern;
    current.marks = compiled->marks;
    current.expression = &compiled->expression;
    current.flags = flags & ~(lineModeFlag | firstOfLineFlag);
    current.lineMode = (flags & lineModeFlag) != 0;

    const unsigned workers = Workers(list.size());
    std::size_t first = 0;
    if (workers != 0 && searchThreads == 0) {
        // Threads chosen automatically: start on this thread, and let the
        // look-ahead take over only once it is seen to pay.
        first = WalkInline(*compiled, list, 0, flags, mode, deliver, true);
        if (first == list.size())
            return;
    }
    if (workers != 0) {
        SearchPipeline pipeline(*compiled, flags, mode, list, workers, largeFiles);
        if (WalkAhead(*compiled, pipeline, list, first, flags, mode, deliver))
            return;
        // No thread could be started: search on this thread instead.
    }
    WalkInline(*compiled, list, first, flags, mode, deliver, false);
}

namespace {

// Calls the walk's deliverer straight from the searcher (no look-ahead).
template <class Deliver>
class InlineSink final : public MatchSink {
public:
    InlineSink(Deliver& deliver, std::size_t index, bool firstOnly)
        : deliver_(deliver), index_(index), firstOnly_(firstOnly)
    {
    }
    bool Take(const std::uint64_t* offsets) override
    {
        if (!deliver_(index_, offsets)) {
            walkStopped = true;
            return false;
        }
        return !firstOnly_;
    }
    bool walkStopped = false;

private:
    Deliver& deliver_;
    std::size_t index_;
    bool firstOnly_;
};

// What the walk on the caller's thread has cost so far. Handing files to
// look-ahead threads pays where searching them (with handing out the matches)
// costs clearly more than reading them: the threads then search several files
// at once while the caller delivers. Where the search is cheap (a rare text
// found by a byte search) the hand-over between threads would cost more than
// it saves, and the walk stays on one thread.
class InlineCost {
public:
    using Clock = std::chrono::steady_clock;

    void Loaded(std::size_t bytes, Clock::time_point from, Clock::time_point to)
    {
        bytes_ += bytes;
        load_ += to - from;
    }
    void Searched(Clock::time_point from, Clock::time_point to) { search_ += to - from; }
    bool LookAheadPays() const { return bytes_ >= trialBytes && search_ > searchToLoad * load_; }

private:
    // Read at least this much before judging: small files say little.
    static constexpr std::size_t trialBytes = std::size_t(1) << 20;
    static constexpr int searchToLoad = 2;

    std::size_t bytes_ = 0;
    Clock::duration load_{};
    Clock::duration search_{};
};

}  // namespace

template <class Deliver>
std::size_t RegEx::Impl::WalkInline(const CompiledPattern& compiled, const std::vector<std::string>& list,
                                    std::size_t first, unsigned flags, SearchPipeline::Mode mode,
                                    Deliver& deliver, bool trial)
{
    const std::size_t ended = list.size();
    FileBuffer buffer;
    InlineCost cost;
    for (std::size_t i = first; i < list.size(); ++i) {
        if (trial && cost.LookAheadPays())
            return i;
        if (!ReportProblems(i))
            return ended;
        FileBuffer::Outcome outcome = FileBuffer::Outcome::Failed;
        unsigned loadError = 0;
        const auto loadStart = InlineCost::Clock::now();
        try {
            outcome = buffer.Open(list[i], largeFiles);
            if (outcome == FileBuffer::Outcome::Failed)
                loadError = buffer.Error();
        } catch (const std::bad_alloc&) {
            loadError = RegexPlatform::OutOfMemoryError();  // even the bounded buffer could not be had
        }
        if (outcome == FileBuffer::Outcome::Stream) {
            if (!SearchStreamed(compiled, list[i], i, flags, mode, deliver, &buffer.State()))
                return ended;
            continue;
        }
        if (outcome != FileBuffer::Outcome::Ready) {
            if (!ReportSkipped(list[i], loadError))
                return ended;
            continue;
        }
        const auto searchStart = InlineCost::Clock::now();
        cost.Loaded(buffer.Size(), loadStart, searchStart);
        BeginFile(buffer.Data(), buffer.Size(), &buffer.State());
        const FileAnswer answer = Notify(list[i], FileStage::Started);
        if (answer == FileAnswer::Stop)
            return ended;
        if (answer == FileAnswer::SkipFile)
            continue;
        InlineSink<Deliver> sink(deliver, i, mode == SearchPipeline::Mode::FirstMatch);
        std::string error;
        const SearchEnd end = SearchBuffer(compiled, buffer.Data(), buffer.Size(), flags, sink, error);
        if (end == SearchEnd::Failed) {
            if (!MatchFailed(list[i], error, true))
                return ended;
            continue;
        }
        if (sink.walkStopped)
            return ended;
        current.offsets = nullptr;
        if (Notify(list[i], FileStage::Finished) == FileAnswer::Stop)
            return ended;
        cost.Searched(searchStart, InlineCost::Clock::now());
    }
    ReportProblems(list.size());
    return ended;
}

namespace {

// Calls the walk's deliverer from the streaming searcher, with the match made
// current for the callback's questions.
template <class Deliver>
class WindowSink final : public StreamSink {
public:
    WindowSink(CurrentMatch& current, Deliver& deliver, std::size_t index, bool firstOnly)
        : current_(current), deliver_(deliver), index_(index), firstOnly_(firstOnly)
    {
    }
    StreamAnswer Match(const StreamMatch& match) override
    {
        current_.streamed = &match;
        ++delivered;
        const bool more = deliver_(index_, match.offsets);
        current_.streamed = nullptr;
        if (!more) {
            walkStopped = true;
            return StreamAnswer::Stop;
        }
        return firstOnly_ ? StreamAnswer::SkipSource : StreamAnswer::Go;
    }
    bool walkStopped = false;
    std::uint64_t delivered = 0;

private:
    CurrentMatch& current_;
    Deliver& deliver_;
    std::size_t index_;
    bool firstOnly_;
};

}  // namespace

template <class Deliver>
bool RegEx::Impl::SearchStreamed(const CompiledPattern& compiled, const std::string& file, std::size_t index,
                                 unsigned flags, SearchPipeline::Mode mode, Deliver& deliver,
                                 const RegexPlatform::FileState* state)
{
    SearchSource source;
    if (!source.Open(file, true))
        return ReportSkipped(file, source.Error());
    BeginFile(nullptr, 0, state);
    const FileAnswer answer = Notify(file, FileStage::Started);
    if (answer != FileAnswer::Go)
        return answer != FileAnswer::Stop;
    StreamSettings settings;
    settings.flags = flags & ~(lineModeFlag | firstOfLineFlag);
    settings.lines = (flags & lineModeFlag) != 0;
    settings.firstOfLine = (flags & firstOfLineFlag) != 0;
    settings.countLines = true;  // counted onwards, block by block
    settings.window = largeFiles.window;
    StreamSearcher searcher(compiled, settings);
    WindowSink<Deliver> sink(current, deliver, index, mode == SearchPipeline::Mode::FirstMatch);
    std::string error;
    StreamEnd end = StreamEnd::Finished;
    try {
        // Whole-buffer mode never maps here: the file could not be mapped.
        end = settings.lines ? searcher.Search(source, sink, error) : searcher.SearchWindows(source, sink, error);
    } catch (const std::bad_alloc&) {
        // A line or window that must grow beyond the memory there is. Before
        // any match the file is skipped; after some, its search failed part
        // way, as when the engine gives up (a rewrite leaves it as it was).
        current.streamed = nullptr;
        current.offsets = nullptr;
        if (sink.delivered == 0)
            return ReportSkipped(file, RegexPlatform::OutOfMemoryError());
        return MatchFailed(file, "out of memory: a line or match longer than the memory there is", true);
    }
    if (sink.walkStopped)
        return false;
    if (end == StreamEnd::ReadFailed)
        return ReportSkipped(file, source.Error());
    if (end == StreamEnd::MatchFailed)
        return MatchFailed(file, error, true);
    current.offsets = nullptr;
    return Notify(file, FileStage::Finished) != FileAnswer::Stop;
}

template <class Deliver>
bool RegEx::Impl::WalkAhead(const CompiledPattern& compiled, SearchPipeline& pipeline,
                            const std::vector<std::string>& list, std::size_t first, unsigned flags,
                            SearchPipeline::Mode mode, Deliver& deliver)
{
    // The unreadable directories met before a file are reported before it,
    // and those after the last file at the end.
    bool ended = false;  // a callback ended the walk
    const auto deliverFile = [&](std::size_t i, const SearchPipeline::View& view) {
        // The file is done with: on to the next, unless a callback ends the walk.
        const auto next = [&] {
            if (ReportProblems(i + 1))
                return true;
            ended = true;
            return false;
        };
        const auto stop = [&] {
            ended = true;
            return false;
        };
        if (view.streamed)
            return SearchStreamed(compiled, list[i], i, flags, mode, deliver, view.state) ? next() : stop();
        FileAnswer answer = FileAnswer::Go;
        if (view.readable) {
            BeginFile(view.data, view.size, view.state);
            answer = Notify(list[i], FileStage::Started);
            if (answer == FileAnswer::Stop)
                return stop();
            if (answer == FileAnswer::SkipFile) {
                while (pipeline.Next() != nullptr) {
                    // drained unseen: the worker may wait for room in the queue
                }
            } else {
                while (const std::uint64_t* offsets = pipeline.Next()) {
                    if (!deliver(i, offsets))
                        return stop();
                }
            }
        }
        std::string error;
        const unsigned loadError = view.readable ? 0 : pipeline.LoadError();
        const SearchEnd end = pipeline.End(error);
        if (end == SearchEnd::Failed)
            return MatchFailed(list[i], error, answer == FileAnswer::Go) ? next() : stop();
        if (!view.readable) {
            if (!ReportSkipped(list[i], loadError))
                return stop();
        } else if (answer == FileAnswer::Go) {
            current.offsets = nullptr;
            if (Notify(list[i], FileStage::Finished) == FileAnswer::Stop)
                return stop();
        }
        return next();
    };
    if (!ReportProblems(first))
        return true;
    if (!pipeline.Run(first, deliverFile))
        return false;
    if (!ended)
        ReportProblems(list.size());
    return true;
}

RegEx::RegEx() : impl_(new Impl())
{
    impl_->self = this;
}

RegEx::~RegEx() = default;

unsigned RegEx::SetExpression(const char* text, bool icase)
{
    unsigned error = 0;
    impl_->pattern = CompilePattern(text == nullptr ? "" : text, icase, error);
    return error;
}

unsigned RegEx::SetExpression(const boost::regex& compiled, const std::string& text)
{
    unsigned error = 0;
    impl_->pattern = AdoptPattern(compiled, std::string(text.c_str()), error);
    return error;
}

unsigned RegEx::SetUnicodeExpression(std::shared_ptr<const UnicodeExpression> compiled)
{
    unsigned error = 0;
    impl_->pattern = UnicodePattern(std::move(compiled), error);
    return error;
}

void RegEx::SetSearchThreads(unsigned count)
{
    impl_->searchThreads = count;
}

void RegEx::SetLargeFileRule(std::size_t readLimit, bool map, std::size_t window)
{
    impl_->largeFiles.readLimit = readLimit;
    impl_->largeFiles.map = map && LargeFileRule().map;
    impl_->largeFiles.window = window;
}

void RegEx::SetLineMode(bool on)
{
    impl_->lineMode = on;
}

void RegEx::SetFirstMatchOfLine(bool on)
{
    impl_->firstOfLine = on;
}

unsigned RegEx::FindFiles(FindFilesCallback callback, const std::string& files, bool recurse, unsigned matchFlags)
{
    impl_->matchError.clear();
    impl_->matchErrorFile.clear();
    if (!impl_->pattern || callback == nullptr)
        return 0;
    const std::vector<std::string> list = impl_->List(files, recurse);
    unsigned count = 0;
    impl_->Walk(list, SearchFlags(matchFlags) | (impl_->lineMode ? lineModeFlag : 0u), SearchPipeline::Mode::FirstMatch,
                [&](std::size_t index, const std::uint64_t*) {
                    ++count;
                    return callback(list[index].c_str());
                });
    return count;
}

unsigned RegEx::GrepFiles(GrepFileCallback callback, const std::string& files, bool recurse, unsigned matchFlags)
{
    impl_->matchError.clear();
    impl_->matchErrorFile.clear();
    if (!impl_->pattern || callback == nullptr)
        return 0;
    const std::vector<std::string> list = impl_->List(files, recurse);
    unsigned count = 0;
    const unsigned lines = impl_->lineMode ? lineModeFlag | (impl_->firstOfLine ? firstOfLineFlag : 0u) : 0u;
    impl_->Walk(list, SearchFlags(matchFlags) | lines, SearchPipeline::Mode::AllMatches,
                [&](std::size_t index, const std::uint64_t* offsets) {
                    impl_->current.offsets = offsets;
                    ++count;
                    const bool more = callback(list[index].c_str(), *this);
                    impl_->current.offsets = nullptr;
                    return more;
                });
    return count;
}

void RegEx::SetContinueAfterMatchError(bool on)
{
    impl_->continueAfterError = on;
}

const std::string& RegEx::FileMatchError() const
{
    static const std::string none;
    return impl_->current.fileMatchError != nullptr ? *impl_->current.fileMatchError : none;
}

void RegEx::SetFileCallback(FileCallback callback)
{
    impl_->fileCallback = callback;
}

RegEx::FileStage RegEx::Stage() const
{
    return impl_->current.stage;
}

unsigned RegEx::FileError() const
{
    return impl_->current.fileError;
}

void RegEx::SetLinkRule(unsigned rule)
{
    impl_->links = rule == 1 ? LinkRule::NoLinks : rule == 2 ? LinkRule::AllLinks : LinkRule::FileLinks;
}

void RegEx::SetFilterCallback(FilterCallback callback)
{
    impl_->filter = callback;
}

unsigned RegEx::Marks() const
{
    if (impl_->current.offsets != nullptr)
        return impl_->current.marks;  // the running walk's expression
    return impl_->pattern ? impl_->pattern->marks : 0;
}

std::string RegEx::What(unsigned i) const
{
    const CurrentMatch& m = impl_->current;
    if (m.offsets == nullptr || i >= Marks() || m.offsets[2 * i] == noOffset)
        return std::string();
    if (m.streamed != nullptr) {
        // The sub-match lies in the searcher's window, as the match does.
        const char* first = m.streamed->match + static_cast<std::ptrdiff_t>(m.offsets[2 * i] - m.streamed->start);
        return std::string(first, first + (m.offsets[2 * i + 1] - m.offsets[2 * i]));
    }
    return std::string(m.data + m.offsets[2 * i], m.data + m.offsets[2 * i + 1]);
}

std::uint64_t RegEx::Position(unsigned i) const
{
    const CurrentMatch& m = impl_->current;
    if (m.offsets == nullptr || i >= Marks())
        return npos;
    return m.offsets[2 * i];
}

std::uint64_t RegEx::Line() const
{
    CurrentMatch& m = impl_->current;
    if (m.offsets == nullptr)
        return 0;
    if (m.streamed != nullptr)
        return m.streamed->lineNumber;
    // Counted on from the previous match: matches come in increasing order,
    // so each byte of a file is counted at most once.
    const std::uint64_t at = std::min<std::uint64_t>(m.offsets[0], m.size);
    if (at < m.countedTo) {
        m.countedTo = 0;
        m.lines = 0;
    }
    m.lines += CountLineFeeds(m.data + m.countedTo, static_cast<std::size_t>(at - m.countedTo));
    m.countedTo = at;
    return m.lines + 1;
}

bool RegEx::CurrentMatchResult(boost::cmatch& result) const
{
    namespace rc = boost::regex_constants;
    const CurrentMatch& m = impl_->current;
    if (m.offsets == nullptr || m.expression == nullptr || m.data == nullptr)
        return false;
    const std::uint64_t start = m.offsets[0];
    const std::uint64_t end = m.offsets[1];
    if (start == noOffset || start > end || end > m.size)
        return false;
    const char* first = m.data;
    const char* last = m.data + m.size;
    const char* at = m.data + start;
    if (m.lineMode) {
        // The line is the subject: from after the line feed before the match
        // to the line feed after it.
        const char* lineStart = at;
        while (lineStart != m.data && lineStart[-1] != '\n')
            --lineStart;
        first = lineStart;
        const void* feed = std::memchr(m.data + end, '\n', static_cast<std::size_t>(m.size - end));
        last = feed != nullptr ? static_cast<const char*>(feed) : m.data + m.size;
    }
    const auto flags = static_cast<rc::match_flag_type>(m.flags) | rc::match_continuous |
                       (at != first ? rc::match_prev_avail : rc::match_default);
    try {
        if (boost::regex_search(at, last, result, *m.expression, flags, first) &&
            result[0].second == m.data + end)
            return true;
        // Found longer or shorter than the walk found it: the span the walk
        // reported, with the text around it still visible.
        const auto cut = m.data + end == last ? rc::match_default : rc::match_not_eob | rc::match_not_eol;
        return boost::regex_search(at, m.data + end, result, *m.expression, flags | cut, first) &&
               result[0].second == m.data + end;
    } catch (const std::runtime_error&) {
        return false;  // the engine gave up this time
    }
}

const boost::regex* RegEx::WalkExpression() const
{
    return impl_->current.offsets != nullptr ? impl_->current.expression : nullptr;
}

const std::string& RegEx::MatchError() const
{
    return impl_->matchError;
}

const std::string& RegEx::MatchErrorFile() const
{
    return impl_->matchErrorFile;
}

const char* RegEx::FileData() const
{
    return impl_->current.data;
}

std::uint64_t RegEx::FileSize() const
{
    return impl_->current.size;
}

const RegexPlatform::FileState& RegEx::FileState() const
{
    static const RegexPlatform::FileState unknown;
    return impl_->current.state != nullptr ? *impl_->current.state : unknown;
}

}  // namespace RegexEngine

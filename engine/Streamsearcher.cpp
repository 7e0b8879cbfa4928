// The streaming searcher (see Streamsearcher.h).
#include "Streamsearcher.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace RegexEngine {

namespace {

namespace rc = boost::regex_constants;

// Whole-buffer mode over a stream: the default window, and how near its end a
// match may end before more of the stream is read to be sure of it (a longer
// alternative or repetition may go on past the window). The same number of
// bytes before the resume point stays visible for assertions looking back.
constexpr std::size_t defaultWindow = std::size_t(8) << 20;
constexpr std::size_t largestGuard = 64 * 1024;
constexpr std::size_t firstWindow = 64 * 1024;

// Whole-buffer mode: the bytes looked at for a NUL (binary data).
constexpr std::uint64_t binaryProbe = 32 * 1024;

// Line mode reads into the buffer at page boundaries.
constexpr std::size_t readAlignment = 4096;

// The start of the line holding `at`: just after the last terminator in
// [from, at), or `from`. Sixteen bytes at a time from the end: each match
// asks for its line's start, and lines are mostly longer than that.
const char* FindBack(const char* from, const char* at, char terminator)
{
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(terminator);
    for (; at - from >= 16; at -= 16) {
        const unsigned found = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at - 16)), wanted)));
        if (found != 0)
            return at - 16 + (32 - __builtin_clz(found));  // just after the last one
    }
#endif
    while (at != from && at[-1] != terminator)
        --at;
    return at;
}

std::uint64_t CountTerminators(const char* first, std::size_t size, char terminator)
{
    if (terminator == '\n')
        return CountLineFeeds(first, size);
    return static_cast<std::uint64_t>(std::count(first, first + size, terminator));
}

}  // namespace

// Turns the driver's offsets (relative to the bytes it searched) into a
// StreamMatch and keeps the sink's answer.
class StreamSearcher::Relay final : public MatchSink {
public:
    Relay(StreamSearcher& searcher, StreamSink& sink, const char* data, std::size_t begin, std::size_t end,
          std::uint64_t base)
        : searcher_(searcher), sink_(sink), data_(data), begin_(begin), end_(end), base_(base)
    {
    }

    // `at`: where the offsets count from, in data_.
    void From(std::size_t at) { at_ = at; }

    bool Take(const std::uint64_t* offsets) override
    {
        const unsigned marks = searcher_.pattern_.marks;
        std::vector<std::uint64_t>& out = searcher_.offsets_;
        for (unsigned i = 0; i < 2 * marks; ++i)
            out[i] = offsets[i] == noOffset ? noOffset : base_ + at_ + offsets[i];
        const std::size_t start = at_ + static_cast<std::size_t>(offsets[0]);
        const std::size_t stop = at_ + static_cast<std::size_t>(offsets[1]);
        const char terminator = searcher_.settings_.nullData ? '\0' : '\n';
        const char* line = FindBack(data_ + begin_, data_ + start, terminator);
        const void* feed = std::memchr(data_ + start, terminator, end_ - std::min(end_, start));
        const char* lineEnd = feed != nullptr ? static_cast<const char*>(feed) : data_ + end_;
        // Whole-buffer mode: the view goes on to the end of the line holding
        // the match's last byte (line numbers still count from its first).
        const char* viewEnd = lineEnd;
        if (!searcher_.settings_.lines && stop > start + 1 && feed != nullptr && lineEnd < data_ + stop - 1) {
            const void* lastFeed = std::memchr(data_ + stop - 1, terminator, end_ - std::min(end_, stop - 1));
            viewEnd = lastFeed != nullptr ? static_cast<const char*>(lastFeed) : data_ + end_;
        }
        StreamMatch match;
        match.start = base_ + start;
        match.end = base_ + stop;
        match.match = data_ + start;
        match.lineStart = base_ + static_cast<std::uint64_t>(line - data_);
        match.line = line;
        match.lineSize = static_cast<std::size_t>(viewEnd - line);
        match.lineNumber = 0;
        if (searcher_.settings_.countLines) {
            // Lines are counted up to the end of the last match's line (its
            // terminator was just found): a match on the same line has that
            // line's number, one on a later line counts only the lines between.
            if (match.lineStart == searcher_.lineAt_) {
                match.lineNumber = searcher_.lineNumber_;
            } else {
                const std::size_t counted = static_cast<std::size_t>(searcher_.countedAt_ - base_);
                if (counted < static_cast<std::size_t>(line - data_)) {
                    searcher_.countedLine_ +=
                        CountTerminators(data_ + counted, static_cast<std::size_t>(line - data_) - counted, terminator);
                    searcher_.countedAt_ = match.lineStart;
                }
                match.lineNumber = searcher_.countedLine_;
                searcher_.lineAt_ = match.lineStart;
                searcher_.lineNumber_ = match.lineNumber;
                if (feed != nullptr && searcher_.countedAt_ == match.lineStart) {
                    searcher_.countedAt_ = base_ + static_cast<std::uint64_t>(lineEnd - data_) + 1;
                    ++searcher_.countedLine_;
                }
            }
        }
        match.offsets = out.data();
        match.marks = marks;
        answer = sink_.Match(match);
        if (answer != StreamAnswer::Go)
            return false;
        return !recordOnce;
    }

    StreamAnswer answer = StreamAnswer::Go;
    bool recordOnce = false;  // null data with firstOfLine: one match per record

private:
    StreamSearcher& searcher_;
    StreamSink& sink_;
    const char* data_;
    std::size_t begin_, end_;  // the searched bytes in data_
    std::uint64_t base_;       // source offset of data_[0]
    std::size_t at_ = 0;
};

// Counts the lines holding a match (countOnly): the driver hands out only the
// first match of each line (of each record with null data), and the sink
// counts them without looking at the bytes.
class LineTally final : public MatchSink {
public:
    // `from`: where the offsets count from; `end`: the end of the searched
    // bytes, `closed`: whether they end with a terminator (or are none).
    LineTally(std::size_t from, std::size_t end, bool closed, bool recordOnce)
        : from_(from), end_(end), closed_(closed), recordOnce_(recordOnce)
    {
    }

    void From(std::size_t at) { from_ = at; }

    bool Take(const std::uint64_t* offsets) override
    {
        // A match after the last terminator lies on no line (the line
        // printer leaves it out the same way).
        if (!(closed_ && from_ + offsets[0] >= end_))
            ++lines;
        return !recordOnce_;
    }

    std::uint64_t lines = 0;

private:
    std::size_t from_, end_;
    bool closed_;
    bool recordOnce_;
};

void ReadBuffer::Grow(std::size_t size, std::size_t from, std::size_t count)
{
    if (size <= size_)
        return;
    // Default-initialised: the new bytes are not cleared (the kernel's
    // zeroed pages are touched only as reads fill them).
    std::unique_ptr<char[]> bigger(new char[size]);
    if (count > 0)
        std::memcpy(bigger.get() + from, data_.get() + from, count);
    data_ = std::move(bigger);
    size_ = size;
}

void ReadBuffer::Trim(std::size_t limit)
{
    if (size_ > limit) {
        data_.reset();
        size_ = 0;
    }
}

StreamSearcher::StreamSearcher(const CompiledPattern& pattern, const StreamSettings& settings, ReadBuffer* buffer)
    : pattern_(pattern), settings_(settings), buffer_(buffer != nullptr ? *buffer : own_), offsets_(2 * pattern.marks)
{
}

void StreamSearcher::Reset()
{
    searched_ = 0;
    binary_ = false;
    countedAt_ = 0;
    countedLine_ = 1;
    lineAt_ = noOffset;
    lineNumber_ = 0;
    probed_ = 0;
}

void StreamSearcher::Trim()
{
    buffer_.Trim(std::max(keptBuffer, 4 * (settings_.blockSize + readAlignment)));
}

StreamEnd StreamSearcher::SearchWindows(SearchSource& source, StreamSink& sink, std::string& error)
{
    Reset();
    error.clear();
    // A grown buffer is given back however the search ends.
    struct TrimAtEnd {
        StreamSearcher& searcher;
        ~TrimAtEnd() { searcher.Trim(); }
    } atEnd{*this};
    // In Unicode mode a UTF-16 input is searched as its UTF-8 transcoding.
    if (pattern_.unicode)
        source.TranscodeUtf16();
    return Windows(source, sink, error);
}

StreamEnd StreamSearcher::Search(SearchSource& source, StreamSink& sink, std::string& error)
{
    Reset();
    error.clear();
    // A grown buffer is given back however the search ends.
    struct TrimAtEnd {
        StreamSearcher& searcher;
        ~TrimAtEnd() { searcher.Trim(); }
    } atEnd{*this};
    if (pattern_.unicode)
        source.TranscodeUtf16();
    if (settings_.lines)
        return Lines(source, sink, error);
    std::uint64_t size = 0;
    const char* whole = source.Whole(size);
    if (whole != nullptr && size <= static_cast<std::uint64_t>(~std::size_t(0)))
        return Whole(whole, static_cast<std::size_t>(size), sink, error);
    return Windows(source, sink, error);
}

StreamEnd StreamSearcher::LinesOf(const char* data, std::size_t size, std::uint64_t base, std::size_t from,
                                  StreamSink& sink, std::string& error, bool last)
{
    // Lines are counted to the end of each block, so countedLine_ is the
    // number of this block's first new line.
    StreamBlock block{data, base, from, size, settings_.countLines ? countedLine_ : 0, binary_, last, 0};
    StreamAnswer answer = sink.Block(block);
    if (answer != StreamAnswer::Go)
        return answer == StreamAnswer::Stop ? StreamEnd::Stopped : StreamEnd::Skipped;
    Relay relay(*this, sink, data, from, size, base);
    SearchEnd end = SearchEnd::Finished;
    const char terminator = settings_.nullData ? '\0' : '\n';
    if (settings_.countOnly) {
        LineTally tally(from, size, size == from || data[size - 1] == terminator, settings_.nullData);
        if (settings_.nullData) {
            const unsigned flags = settings_.flags | static_cast<unsigned>(rc::match_single_line);
            for (std::size_t at = from; at < size;) {
                const void* nul = std::memchr(data + at, '\0', size - at);
                const std::size_t stop = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : size;
                tally.From(at);
                end = SearchBuffer(pattern_, data + at, stop - at, flags, tally, error);
                if (end == SearchEnd::Failed)
                    break;
                end = SearchEnd::Finished;
                at = stop + 1;
            }
        } else {
            end = SearchBuffer(pattern_, data + from, size - from,
                               settings_.flags | lineModeFlag | feedOnlyFlag | firstOfLineFlag, tally, error);
        }
        block.matched = tally.lines;
    } else if (settings_.nullData) {
        // Each record a subject of its own; line feeds are ordinary bytes.
        relay.recordOnce = settings_.firstOfLine;
        const unsigned flags = settings_.flags | static_cast<unsigned>(rc::match_single_line);
        for (std::size_t at = from; at < size && relay.answer == StreamAnswer::Go;) {
            const void* nul = std::memchr(data + at, '\0', size - at);
            const std::size_t stop = nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : size;
            relay.From(at);
            end = SearchBuffer(pattern_, data + at, stop - at, flags, relay, error);
            if (end == SearchEnd::Failed)
                break;
            end = SearchEnd::Finished;
            at = stop + 1;
        }
    } else {
        unsigned flags = settings_.flags | lineModeFlag | feedOnlyFlag;
        if (settings_.firstOfLine)
            flags |= firstOfLineFlag;
        relay.From(from);
        end = SearchBuffer(pattern_, data + from, size - from, flags, relay, error);
    }
    if (end == SearchEnd::Failed)
        return StreamEnd::MatchFailed;
    if (relay.answer != StreamAnswer::Go)
        return relay.answer == StreamAnswer::Stop ? StreamEnd::Stopped : StreamEnd::Skipped;
    if (settings_.countLines && countedAt_ < base + size) {
        const std::size_t counted = static_cast<std::size_t>(countedAt_ - base);
        countedLine_ += CountTerminators(data + counted, size - counted, terminator);
        countedAt_ = base + size;
    }
    searched_ += size - from;
    answer = sink.BlockDone(block);
    if (answer != StreamAnswer::Go)
        return answer == StreamAnswer::Stop ? StreamEnd::Stopped : StreamEnd::Skipped;
    return StreamEnd::Finished;
}

StreamEnd StreamSearcher::Lines(SearchSource& source, StreamSink& sink, std::string& error)
{
    const char terminator = settings_.nullData ? '\0' : '\n';
    const std::size_t blockSize = std::max<std::size_t>(settings_.blockSize, 1);
    std::uint64_t base = 0;   // source offset of buffer_[head]
    std::size_t head = 0;     // where the bytes kept begin in the buffer
    std::size_t start = 0;    // the first line not yet searched (from head)
    std::size_t fill = 0;     // bytes in the buffer (from head)
    bool placed = false;      // head is at a page boundary (storage left by an earlier search may not be)
    for (;;) {
        if (!placed || buffer_.Size() - head - fill < blockSize) {
            placed = true;
            // Keep the context lines before `start` and the partial line
            // after it; drop the rest.
            const char* data = buffer_.Data() + head;
            std::size_t keep = start;
            for (std::size_t n = 0; n < settings_.keepLines && keep > 0; ++n)
                keep = static_cast<std::size_t>(FindBack(data, data + keep - 1, terminator) - data);
            const std::size_t rest = fill - keep;
            if (buffer_.Size() < rest + blockSize + readAlignment)
                buffer_.Grow(std::max(buffer_.Size() * 2, rest + blockSize + readAlignment), head + keep, rest);
            // The bytes kept end where a page begins, so that the reads that
            // follow fill whole pages (the kernel copies into aligned pages
            // faster, as grep knows).
            const std::size_t to =
                (readAlignment - (reinterpret_cast<std::uintptr_t>(buffer_.Data()) + rest) % readAlignment) % readAlignment;
            if (to != head + keep)
                std::memmove(buffer_.Data() + to, buffer_.Data() + head + keep, rest);
            head = to;
            base += keep;
            start -= keep;
            fill = rest;
        }
        std::size_t got = 0;
        if (!source.Read(buffer_.Data() + head + fill, blockSize, got)) {
            error = RegexPlatform::ErrorText(source.Error());
            return StreamEnd::ReadFailed;
        }
        char* fresh = buffer_.Data() + head + fill;
        if (got > 0 && !settings_.nullData) {
            char* nul = static_cast<char*>(std::memchr(fresh, '\0', got));
            if (nul != nullptr) {
                binary_ = true;
                if (settings_.nulEndsLine)
                    std::replace(nul, fresh + got, '\0', '\n');
            }
        }
        fill += got;
        if (got == 0)
            return LinesOf(buffer_.Data() + head, fill, base, start, sink, error, true);
        // The new bytes end the lines before their last terminator (none
        // before them: the lines up to `start` were complete).
        const char* last = fresh + got;
        while (last != fresh && last[-1] != terminator)
            --last;
        if (last == fresh)
            continue;  // no line completed yet
        const std::size_t end = static_cast<std::size_t>(last - (buffer_.Data() + head));
        const StreamEnd result = LinesOf(buffer_.Data() + head, end, base, start, sink, error, false);
        if (result != StreamEnd::Finished)
            return result;
        start = end;
    }
}

StreamEnd StreamSearcher::Whole(const char* data, std::size_t size, StreamSink& sink, std::string& error)
{
    // With wholeLines the input is one block: the mapping (or the bytes in
    // memory) itself, nothing copied.
    Probe(data, 0, size);
    StreamBlock block{data, 0, 0, size, settings_.countLines ? std::uint64_t(1) : 0, binary_, true, 0};
    if (settings_.wholeLines) {
        const StreamAnswer answer = sink.Block(block);
        if (answer != StreamAnswer::Go)
            return answer == StreamAnswer::Stop ? StreamEnd::Stopped : StreamEnd::Skipped;
    }
    Relay relay(*this, sink, data, 0, size, 0);
    const SearchEnd end = SearchBuffer(pattern_, data, size, settings_.flags, relay, error);
    searched_ = size;
    if (end == SearchEnd::Failed)
        return StreamEnd::MatchFailed;
    if (relay.answer != StreamAnswer::Go)
        return relay.answer == StreamAnswer::Stop ? StreamEnd::Stopped : StreamEnd::Skipped;
    if (settings_.wholeLines) {
        const StreamAnswer answer = sink.BlockDone(block);
        if (answer != StreamAnswer::Go)
            return answer == StreamAnswer::Stop ? StreamEnd::Stopped : StreamEnd::Skipped;
    }
    return StreamEnd::Finished;
}

StreamEnd StreamSearcher::WholeStream(SearchSource& source, StreamSink& sink, std::string& error)
{
    // The Unicode engine has no partial matches to tell where a match may go
    // on past a window: the stream is read whole and searched at once.
    std::size_t fill = 0;
    for (;;) {
        if (fill == buffer_.Size())
            buffer_.Grow(std::max<std::size_t>(buffer_.Size() * 2, firstWindow), 0, fill);
        std::size_t got = 0;
        if (!source.Read(buffer_.Data() + fill, buffer_.Size() - fill, got)) {
            error = RegexPlatform::ErrorText(source.Error());
            return StreamEnd::ReadFailed;
        }
        if (got == 0)
            break;
        fill += got;
    }
    windowSize_ = fill;
    windowOffset_ = 0;
    return Whole(buffer_.Data(), fill, sink, error);
}

void StreamSearcher::Probe(const char* data, std::uint64_t offset, std::size_t size)
{
    // Whole-buffer mode looks for binary data in the input's first 32 KiB
    // only (looking through a mapping of any size would cost a pass).
    if (binary_ || probed_ >= binaryProbe || offset + size <= probed_)
        return;
    const std::size_t from = static_cast<std::size_t>(probed_ - offset);
    const std::size_t to = static_cast<std::size_t>(std::min<std::uint64_t>(offset + size, binaryProbe) - offset);
    binary_ = std::memchr(data + from, '\0', to - from) != nullptr;
    probed_ = offset + to;
}

StreamEnd StreamSearcher::Windows(SearchSource& source, StreamSink& sink, std::string& error)
{
    const std::size_t window = settings_.window != 0 ? settings_.window : defaultWindow;
    const std::size_t guard = std::min(largestGuard, std::max<std::size_t>(window / 4, 1));
    const bool blocks = settings_.wholeLines;
    const char terminator = settings_.nullData ? '\0' : '\n';
    const unsigned marks = pattern_.marks;
    // The window grows to its size as the source gives bytes: a short input
    // costs no window-sized allocation. (`room` is the window's size so far,
    // whatever storage an earlier search left.)
    std::size_t room = std::min(window, firstWindow);
    if (pattern_.unicode)
        return WholeStream(source, sink, error);
    std::uint64_t base = 0;  // source offset of buffer_[0]
    std::size_t fill = 0, pos = 0;
    std::size_t settled = 0;  // blocks: where the next block's new lines begin (a line start)
    bool eof = false, retry = false;
    boost::match_results<const char*> m;
    std::vector<std::uint64_t> offsets(2 * marks);
    // Blocks: the matches of a pass wait here (offsets from buffer_[0]),
    // each with the place and state of the search that found it, until the
    // pass knows which lines are settled.
    std::vector<std::uint64_t> waiting;
    std::vector<std::size_t> from;
    std::vector<unsigned char> retried;
    try {
        for (;;) {
            while (!eof && (fill < room || room < window)) {
                if (fill == room)
                    room = std::min(window, room * 2);
                buffer_.Grow(room, 0, fill);
                std::size_t got = 0;
                if (!source.Read(buffer_.Data() + fill, room - fill, got)) {
                    error = RegexPlatform::ErrorText(source.Error());
                    return StreamEnd::ReadFailed;
                }
                eof = got == 0;
                fill += got;
            }
            const char* data = buffer_.Data();
            windowSize_ = fill;
            windowOffset_ = base;
            Probe(data, base, fill);
            bool more = false;      // a match may go on past the window
            bool finished = false;  // a match reached the end of the source
            // The engine grep's order: after an empty match, one anchored try
            // for a non-empty match at the same place, else on from the next
            // byte; a match that reaches the end ends the search.
            while (pos <= fill) {
                unsigned flags = settings_.flags;
                if (!eof)
                    flags |= rc::match_partial;
                if (retry)
                    flags |= rc::match_not_null | rc::match_continuous;
                if (base > 0)
                    flags |= rc::match_not_bob;
                // The buffer's start as the base: the engine sees the bytes
                // kept before the resume point.
                const bool hit = boost::regex_search(data + pos, data + fill, m, pattern_.expression,
                                                     static_cast<rc::match_flag_type>(flags), data);
                if (hit && (!m[0].matched || (!eof && static_cast<std::size_t>(data + fill - m[0].second) < guard))) {
                    more = true;  // partial, or too near the end to be sure
                    break;
                }
                if (!hit) {
                    if (!retry) {
                        pos = fill;
                        break;
                    }
                    retry = false;
                    ++pos;
                    continue;
                }
                for (unsigned i = 0; i < marks; ++i) {
                    const bool took = i < m.size() && m[i].matched;
                    offsets[2 * i] = took ? static_cast<std::uint64_t>(m[i].first - data) : noOffset;
                    offsets[2 * i + 1] = took ? static_cast<std::uint64_t>(m[i].second - data) : noOffset;
                }
                if (blocks) {
                    waiting.insert(waiting.end(), offsets.begin(), offsets.end());
                    from.push_back(pos);
                    retried.push_back(retry ? 1 : 0);
                } else {
                    Relay relay(*this, sink, data, 0, fill, base);
                    relay.Take(offsets.data());
                    if (relay.answer != StreamAnswer::Go)
                        return relay.answer == StreamAnswer::Stop ? StreamEnd::Stopped : StreamEnd::Skipped;
                }
                pos = static_cast<std::size_t>(m[0].second - data);
                const bool wasRetry = retry;
                retry = !wasRetry && m[0].first == m[0].second;
                if (!wasRetry && pos == fill) {
                    // (Only at the source's end: near a window's end a match
                    // waits for more bytes above.)
                    finished = true;
                    break;
                }
            }
            searched_ = base + fill;
            const bool last = finished || (eof && !more);
            if (blocks) {
                const StreamEnd end = Settle(data, base, fill, last, settled, pos, retry, waiting, from, retried, sink);
                if (end != StreamEnd::Finished)
                    return end;
            }
            if (last)
                return StreamEnd::Finished;
            // Drop what lies before the resume point, less the bytes kept
            // visible behind it (and with blocks the lines kept before the
            // next one); grow the window when nothing can go.
            std::size_t drop = pos > guard ? pos - guard : 0;
            if (blocks) {
                std::size_t keep = settled;
                for (std::size_t n = 0; n < settings_.keepLines && keep > 0; ++n)
                    keep = static_cast<std::size_t>(FindBack(data, data + keep - 1, terminator) - data);
                drop = std::min(drop, keep);
            }
            if (settings_.countLines && countedAt_ < base + drop) {
                const std::size_t counted = static_cast<std::size_t>(countedAt_ - base);
                countedLine_ += CountTerminators(data + counted, drop - counted, terminator);
                countedAt_ = base + drop;
            }
            if (drop > 0) {
                std::memmove(buffer_.Data(), buffer_.Data() + drop, fill - drop);
                base += drop;
                pos -= drop;
                fill -= drop;
                settled -= std::min(settled, drop);
            }
            if (fill == room) {
                if (eof)
                    return StreamEnd::Finished;
                room *= 2;
                buffer_.Grow(room, 0, fill);
            }
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        error = e.what();
        return StreamEnd::MatchFailed;
    }
}

StreamEnd StreamSearcher::Settle(const char* data, std::uint64_t base, std::size_t fill, bool last,
                                 std::size_t& settled, std::size_t& pos, bool& retry,
                                 std::vector<std::uint64_t>& waiting, std::vector<std::size_t>& from,
                                 std::vector<unsigned char>& retried, StreamSink& sink)
{
    const char terminator = settings_.nullData ? '\0' : '\n';
    const unsigned marks = pattern_.marks;
    const auto lineStart = [&](std::size_t at) {
        return static_cast<std::size_t>(FindBack(data + settled, data + at, terminator) - data);
    };
    // The lines up to the resume point's line are settled: no match still
    // to come touches them. A waiting match that reaches that line waits for
    // the next pass, with the lines from its start (it is searched again
    // from where the search that found it began: no match starts between
    // there and it, as the engine's partial matches tell).
    std::size_t settle = last ? fill : lineStart(pos);
    std::size_t ready = from.size();
    while (!last && ready > 0) {
        const std::uint64_t* o = waiting.data() + 2 * marks * (ready - 1);
        const std::size_t end = static_cast<std::size_t>(o[1] > o[0] ? o[1] - 1 : o[0]);  // its last byte
        if (end < settle)
            break;
        --ready;
        settle = std::min(settle, lineStart(static_cast<std::size_t>(o[0])));
    }
    if (ready < from.size()) {
        pos = from[ready];
        retry = retried[ready] != 0;
    }
    StreamEnd result = StreamEnd::Finished;
    if (settle > settled || (last && base == 0 && settled == 0)) {
        std::size_t keep = settled;
        for (std::size_t n = 0; n < settings_.keepLines && keep > 0; ++n)
            keep = static_cast<std::size_t>(FindBack(data, data + keep - 1, terminator) - data);
        if (settings_.countLines && countedAt_ < base + settled) {
            const std::size_t counted = static_cast<std::size_t>(countedAt_ - base);
            countedLine_ += CountTerminators(data + counted, settled - counted, terminator);
            countedAt_ = base + settled;
        }
        StreamBlock block{data + keep, base + keep, settled - keep, settle - keep,
                          settings_.countLines ? countedLine_ : 0, binary_, last, 0};
        StreamAnswer answer = sink.Block(block);
        if (answer == StreamAnswer::Go) {
            Relay relay(*this, sink, data, settled, fill, base);
            for (std::size_t i = 0; i < ready && relay.answer == StreamAnswer::Go; ++i)
                relay.Take(waiting.data() + 2 * marks * i);
            answer = relay.answer;
        }
        if (answer == StreamAnswer::Go) {
            if (settings_.countLines && countedAt_ < base + settle) {
                const std::size_t counted = static_cast<std::size_t>(countedAt_ - base);
                countedLine_ += CountTerminators(data + counted, settle - counted, terminator);
                countedAt_ = base + settle;
            }
            answer = sink.BlockDone(block);
        }
        if (answer != StreamAnswer::Go)
            result = answer == StreamAnswer::Stop ? StreamEnd::Stopped : StreamEnd::Skipped;
        settled = settle;
    }
    waiting.clear();
    from.clear();
    retried.clear();
    return result;
}

}  // namespace RegexEngine

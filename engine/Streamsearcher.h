// The streaming searcher: reads a source in fixed-size blocks and runs a
// compiled expression over it, handing each match to a sink as 64-bit
// offsets, a 64-bit line number and views into its own buffer.
//
// Three roles: the source gives bytes (Searchsource.h), the search driver
// finds matches in a buffer (Searchdriver.h), the sink receives them and
// answers whether to go on. The searcher owns the reading, the line buffer,
// line counting (only when asked), binary detection and the choice between
// reading and mapping.
//
// - Line mode: a rolling buffer that always holds whole lines; memory stays
//   at the block size plus the longest line, whatever the input's size. A
//   line ends only at its terminator (a line feed, or NUL for null data), so
//   `^` and `$` answer only at the edges of a line (a line ending in a
//   carriage return and a line feed keeps `$` before the carriage return).
//   Once a source shows a NUL byte (binary data) and `nulEndsLine` is set,
//   each NUL ends a line too, so a long run of NULs never fills memory.
// - Whole-buffer mode: matches may span lines. Bytes in memory and regular
//   files of a size known when opened are searched at once (files mapped);
//   everything else in windows, with the engine's partial matches telling
//   where a match may go on past the window, so that it is found whole. (A
//   Unicode-mode pattern has no partial matches: a stream is read whole.)
#ifndef QUORVEX_ENGINE_STREAMSEARCHER_H
#define QUORVEX_ENGINE_STREAMSEARCHER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Filesearcher.h"
#include "Searchsource.h"

namespace RegexEngine {

struct StreamSettings {
    unsigned flags = 0;              // match flags, already through SearchFlags
    bool lines = true;               // line mode; false: whole-buffer mode
    bool firstOfLine = false;        // line mode: only the first match of each line
    bool countOnly = false;          // line mode: no matches handed out, only the number of
                                     // lines holding one (StreamBlock::matched, at BlockDone)
    bool countLines = false;         // line numbers wanted
    bool nullData = false;           // lines end at NUL instead of line feeds
    bool nulEndsLine = false;        // after the first NUL seen, NULs end lines too
    std::size_t blockSize = 64 * 1024;   // bytes asked of the source per read
    std::size_t keepLines = 0;       // line mode: lines kept before each block (context)
    std::size_t window = 0;          // whole-buffer mode over streams: 0 for the default
    // Whole-buffer mode: hand the bytes out in blocks of whole lines (Block,
    // BlockDone), as line mode does, for sinks that print the lines around a
    // match. Each match's line view then spans every line it touches, and
    // in windows a match is handed out only once the lines it touches are
    // all in; a window keeps the lines a match spans and keepLines lines
    // before the block, so it grows past `window` only for a run of lines
    // longer than it that no block edge may cut (a long line or match, or
    // matches each touching the line the one before ended on).
    bool wholeLines = false;
};

// A block of whole lines, in the searcher's buffer (or the mapping). Its bytes
// stay valid until the next block or the end of the search. Whole-buffer mode
// with wholeLines: the whole input at once, or in windows a run of lines
// settled (no match still to come touches them); `binary` there tells of a
// NUL among the input's first 32 KiB.
struct StreamBlock {
    const char* data;        // kept lines (at most keepLines), then the new lines
    std::uint64_t offset;    // offset of data[0] in the source
    std::size_t kept;        // bytes of kept lines before the new ones
    std::size_t size;        // all bytes (kept + new)
    std::uint64_t line;      // number of the first new line (0 when not counted)
    bool binary;             // a NUL byte was seen in the source so far
    bool last;               // the source ends with this block
    std::uint64_t matched;   // with countOnly, at BlockDone: new lines holding a match
};

// One match. Offsets are from the start of the source; the views point into
// the searcher's buffer (or the mapping) and stay valid during the call.
struct StreamMatch {
    std::uint64_t start, end;      // the whole match
    const char* match;             // its bytes
    std::uint64_t lineStart;       // the line holding its first byte
    const char* line;              // the line's bytes, terminator left out; in whole-buffer
                                   // mode up to the end of the line holding its last byte
    std::size_t lineSize;
    std::uint64_t lineNumber;      // 1-based; 0 when not counted
    const std::uint64_t* offsets;  // start, end per sub-match (noOffset: took no part)
    unsigned marks;                // sub-matches, whole match included
};

enum class StreamAnswer {
    Go,          // go on
    SkipSource,  // nothing more of this source
    Stop         // nothing more at all
};

// Receives a search. Only Match is required.
class StreamSink {
public:
    virtual StreamAnswer Match(const StreamMatch& match) = 0;
    // Before the matches of each block (line mode, and whole-buffer mode
    // with wholeLines).
    virtual StreamAnswer Block(const StreamBlock&) { return StreamAnswer::Go; }
    // After them.
    virtual StreamAnswer BlockDone(const StreamBlock&) { return StreamAnswer::Go; }

protected:
    ~StreamSink() = default;
};

enum class StreamEnd {
    Finished,     // the whole source was searched
    Skipped,      // the sink answered SkipSource
    Stopped,      // the sink answered Stop
    ReadFailed,   // the source failed; see SearchSource::Error()
    MatchFailed   // the engine gave up (complexity or stack limits); see the error text
};

// The searcher's read buffer: grows without clearing the bytes it adds and
// keeps its storage from one search to the next, so that a walk reads each
// file into the storage the file before left (one buffer per thread), with
// no allocation, zeroing or page faults per file. What it holds between
// searches means nothing.
class ReadBuffer {
public:
    ReadBuffer() = default;
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;

    char* Data() { return data_.get(); }
    std::size_t Size() const { return size_; }
    // At least `size` bytes; bytes [from, from + count) keep their place (the
    // rest is undefined).
    void Grow(std::size_t size, std::size_t from = 0, std::size_t count = 0);
    // Gives the storage back when it is larger than `limit` (one long line or
    // a large window grew it): the next search starts small again.
    void Trim(std::size_t limit);

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
};

class StreamSearcher {
public:
    // `pattern` must outlive the searcher; so must `buffer`, when given
    // (null: the searcher has one of its own).
    StreamSearcher(const CompiledPattern& pattern, const StreamSettings& settings, ReadBuffer* buffer = nullptr);
    StreamSearcher(const StreamSearcher&) = delete;
    StreamSearcher& operator=(const StreamSearcher&) = delete;

    // Searches one source from its current position to its end; the buffer is
    // kept for the next one (given back when a long line or a large window
    // grew it past `keptBuffer` bytes, or four blocks if more). Nothing is
    // thrown for the source's or the engine's failures; what the sink throws
    // passes through.
    StreamEnd Search(SearchSource& source, StreamSink& sink, std::string& error);

    // Whole-buffer mode in windows whatever the source (Search takes it for
    // streams and files it cannot map).
    StreamEnd SearchWindows(SearchSource& source, StreamSink& sink, std::string& error);

    // Bytes searched by the last Search.
    std::uint64_t BytesSearched() const { return searched_; }

    // Inside a Match call of a search in windows: the window's bytes (what
    // the engine sees around the match) and its offset in the source.
    const char* Window(std::size_t& size, std::uint64_t& offset) const
    {
        size = windowSize_;
        offset = windowOffset_;
        return buffer_.Data();
    }

    // The most a buffer keeps from one search to the next.
    static constexpr std::size_t keptBuffer = std::size_t(1) << 20;

private:
    void Reset();
    void Trim();
    StreamEnd Lines(SearchSource& source, StreamSink& sink, std::string& error);
    StreamEnd Whole(const char* data, std::size_t size, StreamSink& sink, std::string& error);
    StreamEnd Windows(SearchSource& source, StreamSink& sink, std::string& error);
    StreamEnd WholeStream(SearchSource& source, StreamSink& sink, std::string& error);
    StreamEnd LinesOf(const char* data, std::size_t size, std::uint64_t base, std::size_t from, StreamSink& sink,
                      std::string& error, bool last);
    void Probe(const char* data, std::uint64_t offset, std::size_t size);
    StreamEnd Settle(const char* data, std::uint64_t base, std::size_t fill, bool last, std::size_t& settled,
                     std::size_t& pos, bool& retry, std::vector<std::uint64_t>& waiting, std::vector<std::size_t>& from,
                     std::vector<unsigned char>& retried, StreamSink& sink);
    class Relay;

    const CompiledPattern& pattern_;
    const StreamSettings settings_;
    ReadBuffer own_;
    ReadBuffer& buffer_;
    std::vector<std::uint64_t> offsets_;
    std::uint64_t searched_ = 0;
    bool binary_ = false;
    std::uint64_t countedAt_ = 0;   // source offset up to which lines are counted
    std::uint64_t countedLine_ = 1; // the line number there
    std::size_t windowSize_ = 0;    // Window()
    std::uint64_t windowOffset_ = 0;
    std::uint64_t lineAt_ = 0;      // the start of the last match's line (noOffset: none yet)
    std::uint64_t lineNumber_ = 0;  // its number
    std::uint64_t probed_ = 0;      // whole-buffer mode: source bytes looked at for a NUL
};

}  // namespace RegexEngine

#endif

// The searcher's input: one file read whole into a reusable buffer (or, when
// large, mapped), and the sink interface through which the searcher hands out
// matches.
#ifndef QUORVEX_ENGINE_FILEBUFFER_H
#define QUORVEX_ENGINE_FILEBUFFER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Platform.h"

namespace RegexEngine {

// Offset of a sub-match that took no part.
constexpr std::uint64_t noOffset = ~std::uint64_t(0);

// Receives the matches of one buffer in order. `offsets` holds a start and an
// end offset per sub-match (whole match first), noOffset for both when the
// sub-match took no part. Answers false to end the search of this buffer.
class MatchSink {
public:
    virtual bool Take(const std::uint64_t* offsets) = 0;

protected:
    ~MatchSink() = default;
};

// Grow-only storage whose contents are not kept across Reserve: it keeps the
// memory of the largest request instead of allocating per file. Large blocks
// are mapped in 2 MiB steps and offered huge pages, which saves most of the
// page faults of filling a fresh block (costly under virtualisation).
class ByteBuffer {
public:
    ByteBuffer() = default;
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    char* Reserve(std::size_t size);
    char* Data() const { return bytes_; }

private:
    void Release();

    char* bytes_ = nullptr;
    std::size_t capacity_ = 0;
    void* mapping_ = nullptr;  // the whole mapping when bytes_ lies in one
    std::size_t mappingSize_ = 0;
};

// How the walk takes in files too large to read whole into its buffer.
struct LargeFileRule {
    // Files up to this size are read whole into the reused buffer (a private
    // snapshot); larger ones are mapped or searched in windows, so that no
    // memory the walk allocates grows with a file.
    std::size_t readLimit = std::size_t(16) << 20;
    // Larger files are mapped where the address space allows (64-bit builds);
    // off, or where mapping fails, they are searched in windows.
    bool map = sizeof(void*) >= 8;
    // The window of that search: 0 for the streaming searcher's default.
    std::size_t window = 0;
};

// The bytes of one file. Files up to the rule's read limit are read, not
// mapped: the search works on a private snapshot, so a file truncated or
// rewritten while it is searched (by another process, or by a handler of this
// walk) cannot crash the walk. Larger files are mapped read-only: their pages
// are the page cache, and a large file cut short by another process while it
// is searched may end the process, as with any mapping.
class FileBuffer {
public:
    enum class Outcome {
        Ready,   // Data() and Size() hold the file (read or mapped)
        Stream,  // too large to read or map: to be searched in windows
        Failed   // not a regular file, or it cannot be opened or read; see Error()
    };
    FileBuffer() = default;
    ~FileBuffer() { Unmap(); }
    FileBuffer(const FileBuffer&) = delete;
    FileBuffer& operator=(const FileBuffer&) = delete;

    // Takes in the regular file `path` under `rule`; FIFOs and devices are
    // never waited on. At most the size the file had when opened is read.
    // Memory exhaustion for the (bounded) buffer raises std::bad_alloc.
    Outcome Open(const std::string& path, const LargeFileRule& rule);
    // Open under the default rule: true when Ready.
    bool Load(const std::string& path) { return Open(path, LargeFileRule()) == Outcome::Ready; }
    const char* Data() const { return mapped_ != nullptr ? mapped_ : size_ == 0 ? "" : bytes_.Data(); }
    std::size_t Size() const { return size_; }
    // The file's state when it was opened for this read (not Known when it
    // could not be read).
    const RegexPlatform::FileState& State() const { return state_; }
    // After Failed: the platform's error code.
    unsigned Error() const { return error_; }
    // Gives a mapping back (the bytes are gone; a read file's stay).
    void Unmap();

private:
    ByteBuffer bytes_;
    std::size_t size_ = 0;
    const char* mapped_ = nullptr;
    unsigned error_ = 0;
    RegexPlatform::FileState state_;
};

// Number of line feeds in [first, first + size).
std::uint64_t CountLineFeeds(const char* first, std::size_t size);

}  // namespace RegexEngine

#endif

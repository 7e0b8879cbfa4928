// The searcher's input: one file read whole into a reusable buffer, and the
// sink interface through which the searcher hands out matches.
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

// The bytes of one file. Files are read, not mapped: the search works on a
// private snapshot, so a file truncated or rewritten while it is searched
// (by another process, or by a handler of this walk) cannot crash the walk.
class FileBuffer {
public:
    // Reads the regular file `path`; false when it is not a regular file or
    // cannot be opened or read (FIFOs and devices are never waited on). At most
    // the size the file had when opened is read.
    bool Load(const std::string& path);
    const char* Data() const { return size_ == 0 ? "" : bytes_.Data(); }
    std::size_t Size() const { return size_; }
    // The file's state when it was opened for this read (not Known when it
    // could not be read).
    const RegexPlatform::FileState& State() const { return state_; }

private:
    ByteBuffer bytes_;
    std::size_t size_ = 0;
    RegexPlatform::FileState state_;
};

// Number of line feeds in [first, first + size).
std::uint64_t CountLineFeeds(const char* first, std::size_t size);

}  // namespace RegexEngine

#endif

// The inputs of a streaming search: a named file or pipe, an inherited
// descriptor (standard input), or bytes already in memory. Each is read in
// blocks until its end, whatever size it reports; a regular file may instead
// be mapped whole where a search wants all of it at once.
#ifndef QUORVEX_ENGINE_SEARCHSOURCE_H
#define QUORVEX_ENGINE_SEARCHSOURCE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "Platform.h"
#include "Utf16source.h"

namespace RegexEngine {

class SearchSource {
public:
    SearchSource() = default;
    ~SearchSource();
    SearchSource(const SearchSource&) = delete;
    SearchSource& operator=(const SearchSource&) = delete;

    // Opens a named input of any kind (a regular file only with
    // `regularOnly`, never waiting on anything else); false with Error() set
    // when it cannot be opened (a directory included).
    bool Open(const std::string& path, bool regularOnly = false);
    // Reads the inherited descriptor (0: standard input), which stays open.
    bool Adopt(int descriptor);
    // Bytes in memory, which must outlive the search.
    void Assign(const char* data, std::size_t size);
    // A regular file of `size` bytes opened elsewhere, which stays open and
    // keeps its file position: it is read from its start at an offset of the
    // source's own (a rewrite searches the file it copies through the same
    // descriptor).
    void Borrow(RegexPlatform::FileHandle file, std::uint64_t size);

    // Reads up to `size` bytes as they arrive; `got` is 0 at the end. False on
    // failure, with Error() set.
    bool Read(char* buffer, std::size_t size, std::size_t& got);
    // All bytes at once when that costs no copy: memory bytes, or a regular
    // file of a size known when opened, mapped. Null otherwise (read instead).
    const char* Whole(std::uint64_t& size);
    // From here on, an input that begins with a UTF-16 byte-order mark is
    // read as its UTF-8 transcoding (see Utf16source.h), and Whole() gives
    // null for it. Call before the first Read() or Whole(). Returns whether
    // the input is transcoded.
    bool TranscodeUtf16();
    // Whether Whole() could answer without a mapping (bytes in memory).
    bool InMemory() const { return memory_ != nullptr; }

    // The platform's error code of the failure that ended the last call.
    unsigned Error() const { return error_; }

private:
    friend class Utf16Reader;
    void Close();

    RegexPlatform::FileHandle handle_ = nullptr;
    bool owned_ = false;
    RegexPlatform::InputKind kind_ = RegexPlatform::InputKind::Stream;
    std::uint64_t reported_ = 0;  // a regular file's size when opened
    const char* memory_ = nullptr;
    std::size_t memorySize_ = 0;
    std::size_t memoryAt_ = 0;
    const char* mapped_ = nullptr;
    std::uint64_t mappedSize_ = 0;
    unsigned error_ = 0;
    bool borrowed_ = false;
    std::uint64_t borrowedAt_ = 0;  // the next offset a borrowed file is read at
    std::unique_ptr<Utf16Reader> utf16_;  // set by TranscodeUtf16
    bool rawReading_ = false;             // Utf16Reader reads the bytes
};

}  // namespace RegexEngine

#endif

// The UTF-16 reading of a search source: an input that begins with a UTF-16
// byte-order mark (little- or big-endian, as some editors write text) is
// searched as its UTF-8 transcoding, block by block in bounded memory. The
// mark itself is left out; an unpaired surrogate, and an odd byte at the
// end, become U+FFFD. Any other input passes through unchanged.
#ifndef QUORVEX_ENGINE_UTF16SOURCE_H
#define QUORVEX_ENGINE_UTF16SOURCE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace RegexEngine {

class SearchSource;

// UTF-16 code units to UTF-8, fed in pieces of any size.
class Utf16Decoder {
public:
    explicit Utf16Decoder(bool bigEndian) : bigEndian_(bigEndian) {}
    // Appends the UTF-8 for [data, data + size) to `out`; an odd byte or a
    // high surrogate at the end waits for the next piece, or with `end`
    // becomes U+FFFD.
    void Feed(const char* data, std::size_t size, std::string& out, bool end);

private:
    void Unit(std::uint32_t unit, std::string& out);
    bool bigEndian_;
    int odd_ = -1;             // a byte waiting for its pair
    std::uint32_t high_ = 0;   // a high surrogate waiting for its low one
};

// The reader SearchSource::TranscodeUtf16 puts in front of a source's bytes.
class Utf16Reader {
public:
    // Looks at the first bytes of `source` (before anything else read it).
    explicit Utf16Reader(SearchSource& source);
    bool Transcoding() const { return transcoding_; }
    // As SearchSource::Read, for its source.
    bool Read(SearchSource& source, char* buffer, std::size_t size, std::size_t& got);

private:
    bool ReadRaw(SearchSource& source, char* buffer, std::size_t size, std::size_t& got);
    bool transcoding_ = false;
    bool failed_ = false;      // the look at the first bytes failed
    bool ended_ = false;       // the raw input has ended
    std::string pending_;      // bytes read but not yet handed out
    std::size_t pendingAt_ = 0;
    std::string raw_;          // the last piece of raw bytes
    Utf16Decoder decoder_{false};
};

}  // namespace RegexEngine

#endif

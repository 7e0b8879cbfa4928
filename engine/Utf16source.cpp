// The UTF-16 reading of a search source (see Utf16source.h).
#include "Utf16source.h"

#include <algorithm>
#include <cstring>

#include "Searchsource.h"
#include "Unicodeexpression.h"

namespace RegexEngine {

namespace {

// Raw bytes read at a time; the UTF-8 of one such piece is at most 1.5
// times as long.
constexpr std::size_t rawBlock = 64 * 1024;

constexpr std::uint32_t replacement = 0xFFFD;

}  // namespace

void Utf16Decoder::Unit(std::uint32_t unit, std::string& out)
{
    if (high_ != 0) {
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((high_ - 0xD800) << 10) + (unit - 0xDC00));
            high_ = 0;
            return;
        }
        AppendUtf8(out, replacement);  // a high surrogate without its low one
        high_ = 0;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF)
        high_ = unit;
    else if (unit >= 0xDC00 && unit <= 0xDFFF)
        AppendUtf8(out, replacement);  // a low surrogate alone
    else
        AppendUtf8(out, unit);
}

void Utf16Decoder::Feed(const char* data, std::size_t size, std::string& out, bool end)
{
    const auto byte = [](char c) { return static_cast<std::uint32_t>(static_cast<unsigned char>(c)); };
    std::size_t i = 0;
    if (odd_ >= 0 && size > 0) {
        const std::uint32_t first = static_cast<std::uint32_t>(odd_);
        Unit(bigEndian_ ? (first << 8) | byte(data[0]) : first | (byte(data[0]) << 8), out);
        odd_ = -1;
        i = 1;
    }
    for (; i + 1 < size; i += 2)
        Unit(bigEndian_ ? (byte(data[i]) << 8) | byte(data[i + 1]) : byte(data[i]) | (byte(data[i + 1]) << 8), out);
    if (i < size)
        odd_ = static_cast<int>(byte(data[i]));
    if (end) {
        if (high_ != 0 || odd_ >= 0)
            AppendUtf8(out, replacement);
        high_ = 0;
        odd_ = -1;
    }
}

Utf16Reader::Utf16Reader(SearchSource& source)
{
    // The first two bytes: a mark, or the first bytes of the input.
    char head[2];
    std::size_t have = 0;
    while (have < 2) {
        std::size_t got = 0;
        if (!ReadRaw(source, head + have, 2 - have, got)) {
            failed_ = true;
            break;
        }
        if (got == 0) {
            ended_ = true;
            break;
        }
        have += got;
    }
    const unsigned char a = have == 2 ? static_cast<unsigned char>(head[0]) : 0;
    const unsigned char b = have == 2 ? static_cast<unsigned char>(head[1]) : 0;
    if ((a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF)) {
        transcoding_ = true;
        decoder_ = Utf16Decoder(a == 0xFE);
    } else {
        pending_.assign(head, have);
    }
}

bool Utf16Reader::ReadRaw(SearchSource& source, char* buffer, std::size_t size, std::size_t& got)
{
    source.rawReading_ = true;
    const bool ok = source.Read(buffer, size, got);
    source.rawReading_ = false;
    return ok;
}

bool Utf16Reader::Read(SearchSource& source, char* buffer, std::size_t size, std::size_t& got)
{
    got = 0;
    if (failed_) {
        failed_ = false;
        return false;  // the source's error is that of the look at its start
    }
    if (!transcoding_ && pendingAt_ == pending_.size())
        return ReadRaw(source, buffer, size, got);
    while (pendingAt_ == pending_.size() && !ended_) {
        pending_.clear();
        pendingAt_ = 0;
        raw_.resize(rawBlock);
        std::size_t read = 0;
        if (!ReadRaw(source, &raw_[0], raw_.size(), read))
            return false;
        ended_ = read == 0;
        decoder_.Feed(raw_.data(), read, pending_, ended_);
    }
    got = std::min(size, pending_.size() - pendingAt_);
    std::memcpy(buffer, pending_.data() + pendingAt_, got);
    pendingAt_ += got;
    return true;
}

}  // namespace RegexEngine

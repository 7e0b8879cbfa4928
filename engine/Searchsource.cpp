// The inputs of a streaming search (see Searchsource.h).
#include "Searchsource.h"

#include <algorithm>
#include <cstring>

namespace RegexEngine {

SearchSource::~SearchSource()
{
    Close();
}

void SearchSource::Close()
{
    utf16_.reset();
    RegexPlatform::UnmapInput(mapped_, mappedSize_);
    mapped_ = nullptr;
    if (handle_ != nullptr && owned_)
        RegexPlatform::CloseFile(handle_);
    handle_ = nullptr;
    owned_ = false;
    memory_ = nullptr;
    memorySize_ = memoryAt_ = 0;
    reported_ = 0;
    error_ = 0;
    borrowed_ = false;
    borrowedAt_ = 0;
}

bool SearchSource::Open(const std::string& path, bool regularOnly)
{
    Close();
    handle_ = RegexPlatform::OpenInput(path.c_str(), kind_, reported_, regularOnly);
    if (handle_ == nullptr) {
        error_ = RegexPlatform::LastError();
        return false;
    }
    owned_ = true;
    return true;
}

bool SearchSource::Adopt(int descriptor)
{
    Close();
    handle_ = RegexPlatform::InputFromDescriptor(descriptor, kind_, reported_);
    if (handle_ == nullptr) {
        error_ = RegexPlatform::LastError();
        return false;
    }
    return true;
}

void SearchSource::Assign(const char* data, std::size_t size)
{
    Close();
    memory_ = size == 0 ? "" : data;
    memorySize_ = size;
}

void SearchSource::Borrow(RegexPlatform::FileHandle file, std::uint64_t size)
{
    Close();
    handle_ = file;
    kind_ = RegexPlatform::InputKind::RegularFile;
    reported_ = size;
    borrowed_ = true;
}

bool SearchSource::TranscodeUtf16()
{
    if (!utf16_)
        utf16_.reset(new Utf16Reader(*this));
    return utf16_->Transcoding();
}

bool SearchSource::Read(char* buffer, std::size_t size, std::size_t& got)
{
    if (utf16_ && !rawReading_)
        return utf16_->Read(*this, buffer, size, got);
    got = 0;
    if (memory_ != nullptr) {
        got = std::min(size, memorySize_ - memoryAt_);
        std::memcpy(buffer, memory_ + memoryAt_, got);
        memoryAt_ += got;
        return true;
    }
    if (handle_ == nullptr)
        return true;
    if (borrowed_) {
        // Read at the source's own offset; the owner's position is put back.
        std::uint64_t saved = 0, at = 0;
        const bool ok = RegexPlatform::TellFile(handle_, saved) &&
                        RegexPlatform::SeekFile(handle_, static_cast<std::int64_t>(borrowedAt_),
                                                RegexPlatform::SeekOrigin::Begin, at) &&
                        RegexPlatform::ReadFile(handle_, buffer, size, got);
        if (!ok)
            error_ = RegexPlatform::LastError();
        borrowedAt_ += got;
        if (!RegexPlatform::SeekFile(handle_, static_cast<std::int64_t>(saved), RegexPlatform::SeekOrigin::Begin, at) &&
            ok) {
            error_ = RegexPlatform::LastError();
            return false;
        }
        return ok;
    }
    if (!RegexPlatform::ReadInput(handle_, buffer, size, got)) {
        error_ = RegexPlatform::LastError();
        return false;
    }
    return true;
}

const char* SearchSource::Whole(std::uint64_t& size)
{
    if (utf16_ && utf16_->Transcoding()) {
        size = 0;
        return nullptr;
    }
    if (memory_ != nullptr) {
        size = memorySize_;
        return memory_;
    }
    if (mapped_ == nullptr && handle_ != nullptr && kind_ == RegexPlatform::InputKind::RegularFile && reported_ > 0) {
        mapped_ = RegexPlatform::MapInput(handle_, reported_);
        mappedSize_ = reported_;
    }
    size = mapped_ != nullptr ? mappedSize_ : 0;
    return mapped_;
}

}  // namespace RegexEngine

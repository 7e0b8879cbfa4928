// Reading one file whole into a reusable buffer or mapping it, and counting
// line feeds.
#include "Filebuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Cpufeatures.h"

#include "Platform.h"

namespace RegexEngine {

namespace {

// Requests from this size on get a block of their own from the system, with
// huge pages offered; smaller ones come from the heap.
constexpr std::size_t largeBlock = std::size_t(1) << 20;

// Thrown through the platform's whole-file read (which closes the file) when
// the file is larger than the read limit.
struct BeyondReadLimit {};

struct Reservation {
    ByteBuffer* bytes;
    std::size_t limit;
};

char* ReserveIn(std::size_t size, void* context)
{
    Reservation* reservation = static_cast<Reservation*>(context);
    if (size > reservation->limit)
        throw BeyondReadLimit();
    return reservation->bytes->Reserve(size);
}

#if defined(QUORVEX_ENGINE_AVX2)
// Counts the line feeds of [first + i, ...) thirty-two bytes at a time while
// i + 32 <= size, leaving `i` where the narrower loops go on.
__attribute__((target("avx2"))) std::uint64_t CountAvx2(const char* first, std::size_t& i, std::size_t size)
{
    std::uint64_t count = 0;
    const __m256i feed = _mm256_set1_epi8('\n');
    while (i + 32 <= size) {
        __m256i lanes = _mm256_setzero_si256();
        const std::size_t rounds = std::min<std::size_t>(255, (size - i) / 32);
        for (std::size_t r = 0; r < rounds; ++r, i += 32)
            lanes = _mm256_sub_epi8(
                lanes, _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + i)), feed));
        const __m256i sums = _mm256_sad_epu8(lanes, _mm256_setzero_si256());
        count += static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 0)) +
                 static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 1)) +
                 static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 2)) +
                 static_cast<std::uint64_t>(_mm256_extract_epi64(sums, 3));
    }
    return count;
}
#endif

}  // namespace

ByteBuffer::~ByteBuffer()
{
    Release();
}

void ByteBuffer::Release()
{
    if (mapping_ != nullptr)
        RegexPlatform::FreeLargeBlock(mapping_, mappingSize_);
    else
        delete[] bytes_;
    bytes_ = nullptr;
    mapping_ = nullptr;
    capacity_ = mappingSize_ = 0;
}

char* ByteBuffer::Reserve(std::size_t size)
{
    if (size <= capacity_)
        return bytes_;
    Release();  // never hold the old and the new block at once
    if (size < largeBlock) {
        bytes_ = new char[size];
        capacity_ = size;
        return bytes_;
    }
    std::size_t length = 0;
    void* block = RegexPlatform::AllocateLargeBlock(size, length);
    if (block == nullptr)
        throw std::bad_alloc();
    bytes_ = static_cast<char*>(block);
    capacity_ = length;
    mapping_ = block;
    mappingSize_ = length;
    return bytes_;
}

void FileBuffer::Unmap()
{
    if (mapped_ != nullptr) {
        RegexPlatform::UnmapInput(mapped_, size_);
        mapped_ = nullptr;
        size_ = 0;
    }
}

FileBuffer::Outcome FileBuffer::Open(const std::string& path, const LargeFileRule& rule)
{
    Unmap();
    size_ = 0;
    error_ = 0;
    std::size_t got = 0;
    Reservation reservation{&bytes_, rule.readLimit};
    try {
        switch (RegexPlatform::ReadWholeFile(path, ReserveIn, &reservation, got, &state_)) {
        case RegexPlatform::WholeFile::Read:
        case RegexPlatform::WholeFile::Shortened:  // a snapshot of what is still there
            size_ = got;
            return Outcome::Ready;
        case RegexPlatform::WholeFile::NotRegularFile:
            error_ = RegexPlatform::LastError();
            return Outcome::Failed;
        case RegexPlatform::WholeFile::Failed: {
            // A size no buffer of this build can hold is a large file too.
            error_ = RegexPlatform::LastError();
            RegexPlatform::FileState state;
            if (!RegexPlatform::QueryNameState(path.c_str(), state) || state.Size <= rule.readLimit)
                return Outcome::Failed;
            break;
        }
        }
    } catch (const BeyondReadLimit&) {
        // Too large to read whole: mapped, or searched in windows.
    }
    if (!state_.Known)
        RegexPlatform::QueryNameState(path.c_str(), state_);
    if (!rule.map)
        return Outcome::Stream;
    RegexPlatform::InputKind kind = RegexPlatform::InputKind::Stream;
    std::uint64_t size = 0;
    RegexPlatform::FileHandle input = RegexPlatform::OpenInput(path.c_str(), kind, size, true);
    if (input == nullptr) {
        error_ = RegexPlatform::LastError();
        return Outcome::Failed;
    }
    // The state of the file mapped (it may have been replaced since the
    // first open).
    RegexPlatform::QueryFileState(input, state_);
    const char* view = RegexPlatform::MapInput(input, size);
    RegexPlatform::CloseFile(input);  // the view keeps the file's pages reachable
    if (size == 0)
        return Outcome::Ready;  // emptied meanwhile
    if (view == nullptr)
        return Outcome::Stream;
    mapped_ = view;
    size_ = static_cast<std::size_t>(size);
    return Outcome::Ready;
}

std::uint64_t CountLineFeeds(const char* first, std::size_t size)
{
    std::uint64_t count = 0;
    std::size_t i = 0;
#if defined(QUORVEX_ENGINE_AVX2)
    if (HasAvx2())
        count += CountAvx2(first, i, size);
#endif
#if defined(__SSE2__)
    // Sixteen bytes at a time: each lane of `lanes` counts the line feeds seen
    // at its position (at most 255 rounds before the lanes are summed).
    const __m128i feed = _mm_set1_epi8('\n');
    while (i + 16 <= size) {
        __m128i lanes = _mm_setzero_si128();
        const std::size_t rounds = std::min<std::size_t>(255, (size - i) / 16);
        for (std::size_t r = 0; r < rounds; ++r, i += 16)
            lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first + i)), feed));
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        count += static_cast<std::uint64_t>(_mm_cvtsi128_si32(sums)) +
                 static_cast<std::uint64_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
#endif
    // Eight bytes at a time: a byte equal to 0x0A becomes zero after the XOR,
    // and the expression below sets the high bit of exactly the zero bytes.
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, first + i, 8);
        const std::uint64_t x = word ^ (ones * 0x0A);
        const std::uint64_t zero = ~(((x & low7) + low7) | x | low7);
        count += ((zero >> 7) * ones) >> 56;
    }
    for (; i < size; ++i)
        count += first[i] == '\n';
    return count;
}

}  // namespace RegexEngine

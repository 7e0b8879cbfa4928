// Reading one file whole into a reusable buffer, and counting line feeds.
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

char* ReserveIn(std::size_t size, void* buffer)
{
    return static_cast<ByteBuffer*>(buffer)->Reserve(size);
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

bool FileBuffer::Load(const std::string& path)
{
    size_ = 0;
    std::size_t got = 0;
    switch (RegexPlatform::ReadWholeFile(path, ReserveIn, &bytes_, got, &state_)) {
    case RegexPlatform::WholeFile::Read:
    case RegexPlatform::WholeFile::Shortened:  // a snapshot of what is still there
        size_ = got;
        return true;
    case RegexPlatform::WholeFile::NotRegularFile:
    case RegexPlatform::WholeFile::Failed:
        break;
    }
    return false;
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

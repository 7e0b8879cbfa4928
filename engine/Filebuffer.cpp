// Reading one file whole into a reusable buffer, and counting line feeds.
#include "Filebuffer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Filewalker.h"

namespace RegexEngine {

namespace {
constexpr std::size_t hugePage = std::size_t(2) << 20;
}  // namespace

ByteBuffer::~ByteBuffer()
{
    Release();
}

void ByteBuffer::Release()
{
    if (mapping_ != nullptr)
        ::munmap(mapping_, mappingSize_);
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
    if (size < hugePage / 2) {
        bytes_ = new char[size];
        capacity_ = size;
        return bytes_;
    }
    // One extra huge page of address space lets the block start on a huge
    // page boundary; the unused ends are returned at once.
    const std::size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
    const std::size_t length = rounded + hugePage;
    void* mapping = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        throw std::bad_alloc();
    char* start = static_cast<char*>(mapping);
    char* aligned = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(start) + hugePage - 1) & ~(hugePage - 1));
    if (aligned > start)
        ::munmap(start, static_cast<std::size_t>(aligned - start));
    const std::size_t tail = static_cast<std::size_t>(start + length - (aligned + rounded));
    if (tail > 0)
        ::munmap(aligned + rounded, tail);
#if defined(MADV_HUGEPAGE)
    ::madvise(aligned, rounded, MADV_HUGEPAGE);  // advice only: ignored where unsupported
#endif
    bytes_ = aligned;
    capacity_ = rounded;
    mapping_ = aligned;
    mappingSize_ = rounded;
    return bytes_;
}

bool FileBuffer::Load(const std::string& path)
{
    size_ = 0;
    // O_NONBLOCK: a FIFO put in place of a listed file must not stall the walk.
    const int fd = OpenPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    const std::size_t expected = static_cast<std::size_t>(st.st_size);
    char* target = bytes_.Reserve(expected);
    std::size_t got = 0;
    while (got < expected) {
        const ssize_t n = ::read(fd, target + got, expected - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;  // the file shrank since fstat
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    size_ = got;
    return true;
}

std::uint64_t CountLineFeeds(const char* first, std::size_t size)
{
    std::uint64_t count = 0;
    std::size_t i = 0;
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

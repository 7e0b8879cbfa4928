// Inputs of any kind read in blocks, and read-only mappings of regular files
// (POSIX; the Win32 side is Platformwin32read.cpp).
#if !defined(_WIN32)

#include "Platform.h"
#include "Systemcalls.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace RegexPlatform {

namespace {

// Handles carry the descriptor plus one, as everywhere in this layer.
FileHandle ToHandle(int fd) { return reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(fd) + 1); }
int ToDescriptor(FileHandle file) { return static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1); }

bool Describe(int fd, InputKind& kind, std::uint64_t& size)
{
    struct stat information;
    if (Calls().Fstat(fd, &information) != 0)
        return false;
    if (S_ISDIR(information.st_mode)) {
        errno = EISDIR;
        return false;
    }
    kind = S_ISREG(information.st_mode) ? InputKind::RegularFile : InputKind::Stream;
    size = kind == InputKind::RegularFile ? static_cast<std::uint64_t>(information.st_size) : 0;
    return true;
}

}  // namespace

FileHandle OpenInput(const char* name, InputKind& kind, std::uint64_t& size, bool regularOnly)
{
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer. It is
    // left on the regular file it admits: reads and mappings of a regular
    // file never wait for a writer, so the flag changes nothing there (and
    // ReadInput clears it should a read ever answer EAGAIN), and a walk
    // saves two system calls per file.
    const int nonBlocking = regularOnly ? O_NONBLOCK : 0;
    int fd;
    do
        fd = Calls().Open(name, O_RDONLY | O_NOCTTY | O_CLOEXEC | nonBlocking, 0);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A name too long for one system call: reach it through its directory.
        if (errno != ENAMETOOLONG)
            return nullptr;
        struct stat information;
        if (StatLongPath(name, &information) == 0 && S_ISDIR(information.st_mode))
            errno = EISDIR;
        return nullptr;
    }
    if (!Describe(fd, kind, size) || (regularOnly && kind != InputKind::RegularFile)) {
        const int saved = kind != InputKind::RegularFile && regularOnly ? EINVAL : errno;
        Calls().Close(fd);
        errno = saved;
        return nullptr;
    }
    return ToHandle(fd);
}

FileHandle InputFromDescriptor(int descriptor, InputKind& kind, std::uint64_t& size)
{
    if (!Describe(descriptor, kind, size))
        return nullptr;
    return ToHandle(descriptor);
}

bool ReadInput(FileHandle input, void* buffer, std::size_t size, std::size_t& done)
{
    done = 0;
    for (;;) {
        const ssize_t n = Calls().Read(ToDescriptor(input), buffer, size);
        if (n >= 0) {
            done = static_cast<std::size_t>(n);
            return true;
        }
        if (errno == EAGAIN) {
            // A descriptor left non-blocking by whoever handed it over: wait
            // for bytes instead of ending the input early.
            const int status = ::fcntl(ToDescriptor(input), F_GETFL);
            if (status != -1 && ::fcntl(ToDescriptor(input), F_SETFL, status & ~O_NONBLOCK) != -1)
                continue;
        }
        if (errno != EINTR)
            return false;
    }
}

const char* MapInput(FileHandle input, std::uint64_t size)
{
    if (size == 0 || size > static_cast<std::uint64_t>(SIZE_MAX))
        return nullptr;
    void* view = Calls().Map(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, ToDescriptor(input), 0);
    if (view == MAP_FAILED)
        return nullptr;
    Calls().Advise(view, static_cast<std::size_t>(size), MADV_SEQUENTIAL);
    return static_cast<const char*>(view);
}

void UnmapInput(const char* view, std::uint64_t size)
{
    if (view != nullptr)
        Calls().Unmap(const_cast<char*>(view), static_cast<std::size_t>(size));
}

}  // namespace RegexPlatform

#endif

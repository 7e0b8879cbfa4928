// Walking directories and reading files whole on POSIX systems, through the
// system-call table of Systemcalls.h.
#if !defined(_WIN32)

#include "Platform.h"
#include "Systemcalls.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace RegexPlatform {

namespace {

constexpr std::size_t hugePage = std::size_t(2) << 20;

int OpenRetrying(int directory, const char* path, int flags)
{
    int fd;
    do
        fd = directory == AT_FDCWD ? Calls().Open(path, flags, 0) : Calls().OpenAt(directory, path, flags, 0);
    while (fd < 0 && errno == EINTR);
    return fd;
}

void CloseKeepingError(int fd)
{
    const int saved = errno;
    Calls().Close(fd);
    errno = saved;
}

// open(2) for a path of any length: a path too long for one system call is
// opened one chunk of directories at a time. The descriptor, or -1 (errno set).
int OpenLongPath(const std::string& path, int flags)
{
    flags |= O_CLOEXEC;
    // One chunk stays well below PATH_MAX.
    constexpr std::size_t chunkLimit = PATH_MAX / 2;
    if (path.size() < chunkLimit)
        return OpenRetrying(AT_FDCWD, path.c_str(), flags);

    int directory = AT_FDCWD;
    std::size_t start = 0;
    if (path[0] == '/') {
        directory = OpenRetrying(AT_FDCWD, "/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (directory < 0)
            return -1;
        start = 1;
    }
    int result = -1;
    for (;;) {
        if (path.size() - start < chunkLimit) {
            result = OpenRetrying(directory, path.c_str() + start, flags);
            break;
        }
        // Cut at the last `/` inside the chunk; a single component longer than
        // the chunk cannot exist on any file system.
        const std::size_t cut = path.rfind('/', start + chunkLimit);
        if (cut == std::string::npos || cut < start) {
            errno = ENAMETOOLONG;
            break;
        }
        if (cut == start) {  // a doubled `/`
            start = cut + 1;
            continue;
        }
        const std::string piece = path.substr(start, cut - start);
        const int next = OpenRetrying(directory, piece.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (next < 0)
            break;
        if (directory != AT_FDCWD)
            Calls().Close(directory);
        directory = next;
        start = cut + 1;
    }
    if (directory != AT_FDCWD)
        CloseKeepingError(directory);
    return result;
}

// Closes a descriptor when it goes out of scope, also when an exception
// passes, keeping errno.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            CloseKeepingError(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return fd_; }

private:
    int fd_;
};

EntryKind KindOfMode(mode_t mode)
{
    return S_ISREG(mode) ? EntryKind::RegularFile : S_ISDIR(mode) ? EntryKind::Directory : EntryKind::Other;
}

}  // namespace

bool ListDirectory(const std::string& path, bool followLink, bool withDirectories, EntryWanted wanted,
                   void* context, std::vector<DirectoryEntry>& entries)
{
    const int fd = OpenLongPath(path, O_RDONLY | O_DIRECTORY | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return false;
    DIR* stream = Calls().OpenDirectory(fd);
    if (stream == nullptr) {
        CloseKeepingError(fd);
        return false;
    }
    bool ok = true;
    for (;;) {
        errno = 0;
        const dirent* entry = Calls().ReadDirectory(stream);
        if (entry == nullptr) {
            ok = errno == 0;
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            // Some file systems do not tell the type while listing.
            struct stat information;
            if (Calls().StatAt(fd, name, &information, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISREG(information.st_mode)   ? DT_REG
                   : S_ISDIR(information.st_mode) ? DT_DIR
                   : S_ISLNK(information.st_mode) ? DT_LNK
                                                  : DT_FIFO;  // any kind that is none of these
        }
        if (type == DT_DIR) {
            if (withDirectories)
                entries.push_back(DirectoryEntry{name, EntryKind::Directory});
            continue;
        }
        std::string entryName(name);
        if (!wanted(entryName, context))
            continue;
        EntryKind kind = type == DT_REG ? EntryKind::RegularFile : EntryKind::Other;
        if (type == DT_LNK) {
            struct stat target;
            kind = Calls().StatAt(fd, name, &target, 0) == 0 && S_ISREG(target.st_mode) ? EntryKind::LinkToRegularFile
                                                                                          : EntryKind::Other;
        }
        entries.push_back(DirectoryEntry{std::move(entryName), kind});
    }
    const int saved = errno;
    Calls().CloseDirectory(stream);
    errno = saved;
    return ok;
}

bool IsRegularFile(const std::string& path)
{
    // O_PATH opens nothing for reading: a FIFO or device cannot block here.
    const Descriptor file(OpenLongPath(path, O_PATH));
    if (file.Get() < 0)
        return false;
    struct stat information;
    return Calls().Fstat(file.Get(), &information) == 0 && KindOfMode(information.st_mode) == EntryKind::RegularFile;
}

int StatLongPath(const char* path, struct stat* information)
{
    if (Calls().Stat(path, information) == 0)
        return 0;
    if (errno != ENAMETOOLONG)
        return -1;
    const Descriptor file(OpenLongPath(path, O_PATH));
    if (file.Get() < 0)
        return -1;
    return Calls().Fstat(file.Get(), information);
}

WholeFile ReadWholeFile(const std::string& path, ReserveBytes reserve, void* context, std::size_t& size,
                        FileState* state)
{
    size = 0;
    if (state != nullptr)
        *state = FileState();
    // O_NONBLOCK: a FIFO put in place of a listed file must not stall the walk.
    // A file under a write lease (being rewritten by another run) refuses a
    // non-blocking open with EWOULDBLOCK until the lease is released: the
    // open is tried again for a while, so that the file is read whole once
    // the rewrite is done, never skipped for it.
    int fd = OpenLongPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    for (int round = 0; fd < 0 && errno == EWOULDBLOCK && round < 6000; ++round) {
        const struct timespec pause = {0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
        fd = OpenLongPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    }
    const Descriptor file(fd);
    if (file.Get() < 0)
        return WholeFile::Failed;
    struct stat information;
    if (Calls().Fstat(file.Get(), &information) != 0)
        return WholeFile::Failed;
    if (!S_ISREG(information.st_mode)) {
        errno = EINVAL;
        return WholeFile::NotRegularFile;
    }
    if (information.st_size < 0 ||
        static_cast<std::uint64_t>(information.st_size) > std::numeric_limits<std::size_t>::max()) {
        errno = EFBIG;
        return WholeFile::Failed;
    }
    if (state != nullptr)
        StateFromStat(information, *state);
    const std::size_t expected = static_cast<std::size_t>(information.st_size);
    char* target = reserve(expected, context);
    std::size_t got = 0;
    while (got < expected) {
        const ssize_t n = Calls().Read(file.Get(), target + got, expected - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return WholeFile::Failed;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    size = got;
    return got == expected ? WholeFile::Read : WholeFile::Shortened;
}

void* AllocateLargeBlock(std::size_t size, std::size_t& length)
{
    length = 0;
    if (size > std::numeric_limits<std::size_t>::max() - 2 * hugePage) {
        errno = ENOMEM;
        return nullptr;
    }
    // One extra huge page of address space lets the block start on a huge
    // page boundary; the unused ends are returned at once.
    const std::size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
    const std::size_t total = rounded + hugePage;
    void* mapping = Calls().Map(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return nullptr;
    char* start = static_cast<char*>(mapping);
    char* aligned =
        reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(start) + hugePage - 1) & ~(hugePage - 1));
    if (aligned > start)
        Calls().Unmap(start, static_cast<std::size_t>(aligned - start));
    const std::size_t tail = static_cast<std::size_t>(start + total - (aligned + rounded));
    if (tail > 0)
        Calls().Unmap(aligned + rounded, tail);
#if defined(MADV_HUGEPAGE)
    Calls().Advise(aligned, rounded, MADV_HUGEPAGE);  // advice only: ignored where unsupported
#endif
    length = rounded;
    return aligned;
}

void FreeLargeBlock(void* block, std::size_t length)
{
    if (block != nullptr)
        Calls().Unmap(block, length);
}

}  // namespace RegexPlatform

#endif

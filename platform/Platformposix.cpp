// The platform layer on POSIX systems. Every system call goes through the
// table of Systemcalls.h so that tests can make any of them fail.
#if !defined(_WIN32)

#include "Platform.h"
#include "Systemcalls.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif

namespace RegexPlatform {

namespace {

int RealOpen(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int RealOpenAt(int directory, const char* path, int flags, mode_t mode) { return ::openat(directory, path, flags, mode); }

int RealReserve(int fd, off_t size)
{
#if defined(__linux__)
    return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size);
#else
    (void)fd;
    (void)size;
    errno = ENOTSUP;
    return -1;
#endif
}

const char* RealTemporaryDirectory() { return P_tmpdir; }

int RealFcntl(int fd, int command, long argument) { return ::fcntl(fd, command, argument); }

int RealExchange(const char* from, const char* to)
{
#if defined(__linux__) && defined(RENAME_EXCHANGE)
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE);
#else
    (void)from;
    (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

#if defined(__linux__)
ssize_t RealListAttributes(int fd, char* names, size_t size) { return ::flistxattr(fd, names, size); }
ssize_t RealGetAttribute(int fd, const char* name, void* value, size_t size)
{
    return ::fgetxattr(fd, name, value, size);
}
int RealSetAttribute(int fd, const char* name, const void* value, size_t size, int flags)
{
    return ::fsetxattr(fd, name, value, size, flags);
}
int RealRemoveAttribute(int fd, const char* name) { return ::fremovexattr(fd, name); }
#else
// Systems without this interface have no named attributes to lose here.
int RealRemoveAttribute(int, const char*)
{
    errno = ENOTSUP;
    return -1;
}
ssize_t RealListAttributes(int, char*, size_t) { return 0; }
ssize_t RealGetAttribute(int, const char*, void*, size_t)
{
    errno = ENOTSUP;
    return -1;
}
int RealSetAttribute(int, const char*, const void*, size_t, int)
{
    errno = ENOTSUP;
    return -1;
}
#endif

const SystemCalls RealCalls = {
    RealOpen,         ::close,   ::read,     ::write,    ::lseek,          ::fstat,
    ::stat,           ::chmod,   ::fchmod,   ::fchown,   ::fsync,          ::ftruncate,
    RealReserve,      ::rename,  ::unlink,   ::mkostemp, ::realpath,       RealTemporaryDirectory,
    ::pthread_key_create, ::pthread_key_delete, ::pthread_getspecific, ::pthread_setspecific,
    RealOpenAt,       ::fstatat, ::fdopendir, ::readdir, ::closedir,       ::mmap,
    ::munmap,         ::madvise,  ::flock,   ::lstat,    RealListAttributes, RealGetAttribute,
    RealSetAttribute, ::pathconf, RealFcntl, RealExchange, RealRemoveAttribute,
};

SystemCalls CurrentCalls = RealCalls;

// Handles carry the descriptor plus one, so that descriptor 0 is not null.
FileHandle ToHandle(int fd) { return reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(fd) + 1); }
int ToDescriptor(FileHandle file) { return static_cast<int>(reinterpret_cast<std::intptr_t>(file) - 1); }

// Keeps errno across clean-up calls made after a failure.
class KeepError {
public:
    KeepError() : saved_(errno) {}
    ~KeepError() { errno = saved_; }
    KeepError(const KeepError&) = delete;
    KeepError& operator=(const KeepError&) = delete;

private:
    int saved_;
};

FileHandle OpenWith(const char* name, int flags, mode_t mode)
{
    int fd;
    do
        fd = Calls().Open(name, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd < 0 ? nullptr : ToHandle(fd);
}

// Writes all of `size` bytes unless the system refuses; `done` counts the
// bytes that reached the file.
bool WriteAll(int fd, const char* data, std::size_t size, std::size_t& done)
{
    done = 0;
    while (done < size) {
        const ssize_t n = Calls().Write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Copies everything from `in` (from its current position) to `out`.
bool CopyContent(int in, int out)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = Calls().Read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        std::size_t written = 0;
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n), written))
            return false;
    }
}

}  // namespace

SystemCalls& Calls() { return CurrentCalls; }
const SystemCalls& DefaultCalls() { return RealCalls; }

// ---- Thread-local slots ---------------------------------------------------

SlotIndex AllocateSlot(SlotRelease release)
{
    pthread_key_t key;
    const int rc = Calls().KeyCreate(&key, release);
    if (rc != 0) {
        errno = rc;
        return NoSlot;
    }
    if (static_cast<std::uint64_t>(key) >= NoSlot) {
        Calls().KeyDelete(key);
        errno = EAGAIN;
        return NoSlot;
    }
    return static_cast<SlotIndex>(key);
}

void FreeSlot(SlotIndex index)
{
    if (index != NoSlot)
        Calls().KeyDelete(static_cast<pthread_key_t>(index));
}

void* GetSlotValue(SlotIndex index)
{
    return index == NoSlot ? nullptr : Calls().GetSpecific(static_cast<pthread_key_t>(index));
}

bool SetSlotValue(SlotIndex index, void* value)
{
    if (index == NoSlot) {
        errno = EINVAL;
        return false;
    }
    const int rc = Calls().SetSpecific(static_cast<pthread_key_t>(index), value);
    if (rc != 0) {
        errno = rc;
        return false;
    }
    return true;
}

// ---- Errors ---------------------------------------------------------------

unsigned LastError() { return static_cast<unsigned>(errno); }
unsigned ValueTooLargeError() { return EOVERFLOW; }
unsigned AlreadyExistsError() { return EEXIST; }
unsigned InvalidArgumentError() { return EINVAL; }

// ---- Files ------------------------------------------------------------------

// Opens a regular file only. Something else put in place of a file (a FIFO,
// a device, a directory) is refused: EISDIR for a directory, EINVAL for the
// rest. O_NONBLOCK keeps the open of a FIFO from waiting for its other end;
// it is cleared again on the regular file.
namespace {
FileHandle OpenRegular(const char* name, int flags)
{
    const FileHandle handle = OpenWith(name, flags | O_NONBLOCK | O_NOCTTY, 0);
    if (handle == nullptr)
        return nullptr;
    const int fd = ToDescriptor(handle);
    struct stat information;
    if (Calls().Fstat(fd, &information) != 0) {
        KeepError keep;
        CloseFile(handle);
        return nullptr;
    }
    if (!S_ISREG(information.st_mode)) {
        CloseFile(handle);
        errno = S_ISDIR(information.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status != -1)
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return handle;
}
}  // namespace

FileHandle OpenForReading(const char* name) { return OpenRegular(name, O_RDONLY); }
FileHandle OpenForUpdate(const char* name) { return OpenRegular(name, O_WRONLY); }
FileHandle CreateExclusive(const char* name) { return OpenWith(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600); }

FileHandle OpenForRewrite(const char* name, bool& writable)
{
    writable = true;
    FileHandle handle = OpenRegular(name, O_RDWR);
    if (handle != nullptr || (errno != EACCES && errno != EPERM && errno != EROFS && errno != ETXTBSY))
        return handle;
    writable = false;
    return OpenRegular(name, O_RDONLY);
}

bool IsInUseError(unsigned code)
{
    const int error = static_cast<int>(code);
    return error == EWOULDBLOCK || error == EAGAIN || error == EBUSY || error == ETXTBSY;
}

unsigned InUseError() { return EBUSY; }

Lease TakeWriteLease(FileHandle file)
{
#if defined(__linux__) && defined(F_SETLEASE)
    const int fd = ToDescriptor(file);
    KeepError keep;
    if (Calls().Fcntl(fd, F_SETLEASE, F_WRLCK) != 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EBUSY ? Lease::InUse : Lease::Unavailable;
    // The kernel would tell a break with SIGIO, whose default action ends the
    // process: with no owner for the descriptor no signal is sent, and the
    // break is read with F_GETLEASE instead.
    if (Calls().Fcntl(fd, F_SETOWN, 0) != 0) {
        Calls().Fcntl(fd, F_SETLEASE, F_UNLCK);
        return Lease::Unavailable;
    }
    return Lease::Held;
#else
    (void)file;
    return Lease::Unavailable;
#endif
}

bool LeaseIntact(FileHandle file)
{
#if defined(__linux__) && defined(F_GETLEASE)
    KeepError keep;
    const int type = Calls().Fcntl(ToDescriptor(file), F_GETLEASE, 0);
    // A lease being broken reads as what it is to be lowered to: F_RDLCK for
    // an opener that only reads (it waits until the lease goes and then reads
    // whichever file it looked up, whole: nothing is lost), F_UNLCK for one
    // that writes or truncates, and also when the system took the lease away
    // after its break time or there is none.
    return type == F_WRLCK || type == F_RDLCK;
#else
    (void)file;
    return true;
#endif
}

void ReleaseLease(FileHandle file)
{
#if defined(__linux__) && defined(F_SETLEASE)
    KeepError keep;
    Calls().Fcntl(ToDescriptor(file), F_SETLEASE, F_UNLCK);
#else
    (void)file;
#endif
}

bool ExchangeNames(const char* from, const char* to, bool& supported)
{
    supported = true;
    if (Calls().Exchange(from, to) == 0)
        return true;
    if (errno == ENOSYS || errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP)
        supported = false;
    return false;
}

FileSizeSignalGuard::FileSizeSignalGuard()
{
    sigset_t only, old;
    sigemptyset(&only);
    sigaddset(&only, SIGXFSZ);
    if (::pthread_sigmask(SIG_BLOCK, &only, &old) == 0)
        blocked_ = sigismember(&old, SIGXFSZ) == 0;
}

FileSizeSignalGuard::~FileSizeSignalGuard()
{
    if (!blocked_)
        return;
    KeepError keep;
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, SIGXFSZ);
    // A write beyond the limit left the signal pending on this thread: it is
    // taken away, its failure already reported as EFBIG.
    const struct timespec now = {0, 0};
    while (::sigtimedwait(&only, nullptr, &now) == SIGXFSZ) {
    }
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
}

bool ReadFile(FileHandle file, void* buffer, std::size_t size, std::size_t& done)
{
    done = 0;
    for (;;) {
        const ssize_t n = Calls().Read(ToDescriptor(file), buffer, size);
        if (n >= 0) {
            done = static_cast<std::size_t>(n);
            return true;
        }
        if (errno != EINTR)
            return false;
    }
}

bool WriteFile(FileHandle file, const void* buffer, std::size_t size, std::size_t& done)
{
    return WriteAll(ToDescriptor(file), static_cast<const char*>(buffer), size, done);
}

bool SeekFile(FileHandle file, std::int64_t offset, SeekOrigin origin, std::uint64_t& position)
{
    const int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    const off_t at = Calls().Seek(ToDescriptor(file), static_cast<off_t>(offset), whence);
    if (at < 0)
        return false;
    position = static_cast<std::uint64_t>(at);
    return true;
}

bool TellFile(FileHandle file, std::uint64_t& position) { return SeekFile(file, 0, SeekOrigin::Current, position); }

bool CloseFile(FileHandle file)
{
    // The descriptor is gone even when close reports an error; never retry.
    return file == nullptr || Calls().Close(ToDescriptor(file)) == 0;
}

bool RemoveFile(const char* name) { return Calls().Unlink(name) == 0; }

bool CopyFileReplacing(const char* from, const char* to)
{
    const FileHandle source = OpenForReading(from);
    if (source == nullptr)
        return false;
    const bool ok = CopyOpenFileReplacing(source, to, nullptr);
    KeepError keep;
    CloseFile(source);
    return ok;
}

bool CopyOpenFileReplacing(FileHandle source, const char* to, unsigned* attributesLost)
{
    if (attributesLost != nullptr)
        *attributesLost = 0;
    const int in = ToDescriptor(source);
    struct stat sourceInfo;
    if (Calls().Fstat(in, &sourceInfo) != 0 || Calls().Seek(in, 0, SEEK_SET) != 0)
        return false;

    // Preferably a new file beside the target, renamed over it when complete,
    // so that the target is either the old file or the whole copy. Where no
    // file can be created there, the target is written in place.
    std::string temporary;
    const std::string directory = DirectoryOf(to);
    FileHandle target =
        CreateTemporaryIn(directory, WorkNameStem(LastComponentOf(to), MaximumNameLength(directory)), temporary);
    const bool inPlace = target == nullptr;
    if (inPlace) {
        target = OpenWith(to, O_WRONLY | O_CREAT | O_NOFOLLOW, 0600);
        if (target == nullptr)
            return false;
    }
    const int out = ToDescriptor(target);
    bool ok = true;
    if (inPlace) {
        struct stat targetInfo;
        ok = Calls().Fstat(out, &targetInfo) == 0;
        if (ok && targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) {
            errno = EINVAL;  // copying a file onto itself would empty it
            ok = false;
        }
        ok = ok && Calls().Ftruncate(out, 0) == 0;
    }
    ok = ok && CopyContent(in, out);
    ok = ok && Calls().Fsync(out) == 0;
    if (ok) {
        // The copy gets exactly the original's access: its inherited access
        // list goes, then owner, mode and named attributes (access lists
        // included) follow the original's. Where any of them cannot be given,
        // the copy is made readable by its owner only, and the caller told.
        Calls().RemoveAttribute(out, "system.posix_acl_access");
        if (Calls().Fchown(out, sourceInfo.st_uid, sourceInfo.st_gid) != 0)
            Calls().Fchown(out, static_cast<uid_t>(-1), sourceInfo.st_gid);
        ok = Calls().Fchmod(out, sourceInfo.st_mode & 07777) == 0;
        struct stat made;
        const bool same = ok && Calls().Fstat(out, &made) == 0 && made.st_uid == sourceInfo.st_uid &&
                          made.st_gid == sourceInfo.st_gid && CopyNamedAttributes(source, ToHandle(out));
        if (ok && !same) {
            const unsigned lost = errno != 0 ? static_cast<unsigned>(errno) : EPERM;
            ok = Calls().Fchmod(out, 0600) == 0;
            if (attributesLost != nullptr)
                *attributesLost = lost;
        }
    }
    const bool closed = CloseFile(target);
    ok = ok && closed;
    if (!inPlace) {
        ok = ok && Calls().Rename(temporary.c_str(), to) == 0;
        if (!ok) {
            KeepError keep;
            Calls().Unlink(temporary.c_str());
        }
    }
    return ok;
}

std::uint32_t GetAttributes(const char* name)
{
    struct stat information;
    if (StatLongPath(name, &information) != 0)
        return InvalidAttributes;
    std::uint32_t attributes = 0;
    if (S_ISDIR(information.st_mode))
        attributes |= AttributeDirectory;
    if ((information.st_mode & S_IWUSR) == 0)
        attributes |= AttributeReadOnly;
    const std::string last = LastComponentOf(name);
    if (last.size() > 1 && last[0] == '.' && last != "..")
        attributes |= AttributeHidden;
    return attributes == 0 ? AttributeNormal : attributes;
}

bool SetAttributes(const char* name, std::uint32_t attributes)
{
    if (attributes == InvalidAttributes) {
        errno = EINVAL;
        return false;
    }
    struct stat information;
    if (Calls().Stat(name, &information) != 0)
        return false;
    const mode_t old = information.st_mode & 07777;
    const mode_t wanted = (attributes & AttributeReadOnly) != 0 ? old & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)
                                                                : old | S_IWUSR;
    return wanted == old || Calls().Chmod(name, wanted) == 0;
}

// ---- Safe rewrite -------------------------------------------------------------

bool QueryFile(FileHandle file, FileInformation& information)
{
    struct stat st;
    if (Calls().Fstat(ToDescriptor(file), &st) != 0)
        return false;
    information.Device = static_cast<std::uint64_t>(st.st_dev);
    information.Identity = static_cast<std::uint64_t>(st.st_ino);
    information.Links = static_cast<std::uint64_t>(st.st_nlink);
    information.Size = static_cast<std::uint64_t>(st.st_size);
    information.Permissions = static_cast<std::uint32_t>(st.st_mode & 07777);
    information.Owner = static_cast<std::uint32_t>(st.st_uid);
    information.Group = static_cast<std::uint32_t>(st.st_gid);
    return true;
}

bool ResolvePath(const char* name, std::string& resolved)
{
    char* path = Calls().Realpath(name, nullptr);
    if (path == nullptr)
        return false;
    resolved = path;
    std::free(path);
    return true;
}

std::string DirectoryOf(const std::string& name)
{
    const std::size_t slash = name.find_last_of(PathSeparators);
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return name.substr(0, slash);
}

std::string LastComponentOf(const std::string& name)
{
    const std::size_t slash = name.find_last_of(PathSeparators);
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string TemporaryDirectory() { return Calls().TemporaryDirectory(); }

FileHandle CreateTemporaryIn(const std::string& directory, const std::string& stem, std::string& name)
{
    std::string pattern = directory;
    if (pattern.empty() || pattern.back() != '/')
        pattern += '/';
    pattern += stem;
    pattern += "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd;
    do
        fd = Calls().MakeTemporary(buffer.data(), O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    name.assign(buffer.data());
    return fd < 0 ? nullptr : ToHandle(fd);
}

bool FlushFile(FileHandle file) { return Calls().Fsync(ToDescriptor(file)) == 0; }

void FlushDirectory(const std::string& directory)
{
    KeepError keep;
    const FileHandle handle = OpenWith(directory.c_str(), O_RDONLY | O_DIRECTORY, 0);
    if (handle == nullptr)
        return;
    Calls().Fsync(ToDescriptor(handle));
    CloseFile(handle);
}

bool OwnershipKeepable(const FileInformation& information)
{
    const uid_t user = ::geteuid();
    if (user == 0)
        return true;
    if (information.Owner != static_cast<std::uint32_t>(user))
        return false;
    if (information.Group == static_cast<std::uint32_t>(::getegid()))
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (static_cast<std::uint32_t>(groups[static_cast<std::size_t>(i)]) == information.Group)
            return true;
    return false;
}

bool CopyPermissions(FileHandle file, const FileInformation& from)
{
    const int fd = ToDescriptor(file);
    {
        // A new file takes its directory's default access list: it is taken
        // away, so that the file gets exactly the old one's (given with the
        // other named attributes), never more.
        KeepError keep;
        Calls().RemoveAttribute(fd, "system.posix_acl_access");
    }
    {
        // Owner and group where the process may; a change of owner can drop
        // the set-id bits, which the mode below puts back.
        KeepError keep;
        if (Calls().Fchown(fd, static_cast<uid_t>(from.Owner), static_cast<gid_t>(from.Group)) != 0)
            Calls().Fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(from.Group));
    }
    return Calls().Fchmod(fd, static_cast<mode_t>(from.Permissions & 07777)) == 0;
}

bool RenameReplacing(const char* from, const char* to) { return Calls().Rename(from, to) == 0; }

bool TruncateFile(FileHandle file, std::uint64_t size)
{
    if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        errno = EFBIG;
        return false;
    }
    return Calls().Ftruncate(ToDescriptor(file), static_cast<off_t>(size)) == 0;
}

bool ReserveSpace(FileHandle file, std::uint64_t size)
{
    if (size == 0)
        return true;
    if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        errno = EFBIG;
        return false;
    }
    if (Calls().Reserve(ToDescriptor(file), static_cast<off_t>(size)) == 0)
        return true;
    return errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS;
}

// ---- The state of a file, locks, names --------------------------------------

void StateFromStat(const struct stat& st, FileState& state)
{
    state.Device = static_cast<std::uint64_t>(st.st_dev);
    state.Identity = static_cast<std::uint64_t>(st.st_ino);
    state.Size = static_cast<std::uint64_t>(st.st_size);
    state.ModifiedSeconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    state.ModifiedNanoseconds = static_cast<std::uint32_t>(st.st_mtim.tv_nsec);
    state.Known = true;
}


bool QueryFileState(FileHandle file, FileState& state)
{
    state = FileState();
    struct stat st;
    if (file == nullptr || Calls().Fstat(ToDescriptor(file), &st) != 0)
        return false;
    StateFromStat(st, state);
    return true;
}

bool QueryNameState(const char* name, FileState& state)
{
    state = FileState();
    struct stat st;
    if (Calls().Stat(name, &st) != 0)
        return false;
    StateFromStat(st, state);
    return true;
}

bool QueryEntryState(const char* name, FileState& state)
{
    state = FileState();
    struct stat st;
    if (Calls().Lstat(name, &st) != 0)
        return false;
    StateFromStat(st, state);
    return true;
}

bool LockFile(FileHandle file)
{
    for (;;) {
        if (Calls().Flock(ToDescriptor(file), LOCK_EX) == 0)
            return true;
        if (errno == EOPNOTSUPP || errno == ENOSYS || errno == ENOLCK)
            return true;  // a file system without these locks: nothing to wait for
        if (errno != EINTR)
            return false;
    }
}

bool NameExists(const char* name)
{
    struct stat st;
    return Calls().Lstat(name, &st) == 0;
}

std::size_t MaximumNameLength(const std::string& directory)
{
    KeepError keep;
    const long limit = Calls().PathLimit(directory.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : 255;
}

namespace {
constexpr const char* MarkName = "user.quorvex-undo";
}

bool SetMark(FileHandle file, const std::string& text)
{
    const int fd = ToDescriptor(file);
    return Calls().SetAttribute(fd, MarkName, text.data(), text.size(), 0) == 0 && Calls().Fsync(fd) == 0;
}

bool ReadMark(FileHandle file, std::string& text)
{
    KeepError keep;
    char value[4096];
    const ssize_t size = Calls().GetAttribute(ToDescriptor(file), MarkName, value, sizeof value);
    if (size < 0)
        return false;
    text.assign(value, static_cast<std::size_t>(size));
    return true;
}

void ClearMark(FileHandle file)
{
    KeepError keep;
    Calls().RemoveAttribute(ToDescriptor(file), MarkName);
}

bool ReadPrivileges(FileHandle file, Privileges& privileges)
{
    privileges = Privileges();
    const int fd = ToDescriptor(file);
    struct stat st;
    if (Calls().Fstat(fd, &st) != 0)
        return false;
    privileges.Permissions = static_cast<std::uint32_t>(st.st_mode & 07777);
    char value[256];
    const ssize_t size = Calls().GetAttribute(fd, "security.capability", value, sizeof value);
    if (size >= 0) {
        privileges.Capability.assign(value, static_cast<std::size_t>(size));
        privileges.HasCapability = true;
        return true;
    }
    // None, or a file system without named attributes: nothing to keep.
    return errno == ENODATA || errno == ENOTSUP || errno == ENOSYS || errno == EOPNOTSUPP;
}

bool ApplyPrivileges(FileHandle file, const Privileges& privileges)
{
    const int fd = ToDescriptor(file);
    if (Calls().Fchmod(fd, static_cast<mode_t>(privileges.Permissions & 07777)) != 0)
        return false;
    if (privileges.HasCapability &&
        Calls().SetAttribute(fd, "security.capability", privileges.Capability.data(), privileges.Capability.size(),
                             0) != 0)
        return false;
    // The kernel may refuse set-id bits silently (a set-group-ID bit for a
    // group the process is not in): what the file has now is checked.
    struct stat st;
    if (Calls().Fstat(fd, &st) != 0)
        return false;
    if ((st.st_mode & 07777) != (privileges.Permissions & 07777)) {
        errno = EPERM;
        return false;
    }
    return true;
}

bool CopyNamedAttributes(FileHandle from, FileHandle to)
{
    const int in = ToDescriptor(from);
    const int out = ToDescriptor(to);
    std::vector<char> names;
    for (;;) {
        const ssize_t size = Calls().ListAttributes(in, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP || errno == ENOSYS;  // a file system without them: none to lose
        if (size == 0)
            return true;
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = Calls().ListAttributes(in, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE)  // ERANGE: the list grew meanwhile
            return false;
    }
    std::vector<char> value;
    for (std::size_t at = 0; at < names.size();) {
        const char* name = names.data() + at;
        const std::size_t length = ::strnlen(name, names.size() - at);
        at += length + 1;
        if (length == 0)
            continue;
        ssize_t size;
        for (;;) {
            size = Calls().GetAttribute(in, name, nullptr, 0);
            if (size < 0)
                break;
            value.resize(static_cast<std::size_t>(size));
            size = Calls().GetAttribute(in, name, value.data(), value.size());
            if (size >= 0 || errno != ERANGE)
                break;
        }
        if (size < 0) {
            if (errno == ENODATA)
                continue;  // removed since it was listed
            return false;
        }
        if (Calls().SetAttribute(out, name, value.data(), static_cast<std::size_t>(size), 0) != 0)
            return false;
    }
    return true;
}

}  // namespace RegexPlatform

#endif

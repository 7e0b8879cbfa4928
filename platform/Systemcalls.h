// The POSIX system calls used by the platform layer, as a table of function
// pointers. The implementation calls through Calls() only, so a test can
// replace any entry (and restore it) to make that call fail for real and see
// what the caller does with the failure.
#ifndef QUORVEX_PLATFORM_SYSTEMCALLS_H
#define QUORVEX_PLATFORM_SYSTEMCALLS_H

#if !defined(_WIN32)

#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace RegexPlatform {

struct SystemCalls {
    int (*Open)(const char* path, int flags, mode_t mode);
    int (*Close)(int fd);
    ssize_t (*Read)(int fd, void* buffer, size_t size);
    ssize_t (*Write)(int fd, const void* buffer, size_t size);
    off_t (*Seek)(int fd, off_t offset, int whence);
    int (*Fstat)(int fd, struct stat* information);
    int (*Stat)(const char* path, struct stat* information);
    int (*Chmod)(const char* path, mode_t mode);
    int (*Fchmod)(int fd, mode_t mode);
    int (*Fchown)(int fd, uid_t owner, gid_t group);
    int (*Fsync)(int fd);
    int (*Ftruncate)(int fd, off_t size);
    int (*Reserve)(int fd, off_t size);  // reserve without growing; ENOTSUP where impossible
    int (*Rename)(const char* from, const char* to);
    int (*Unlink)(const char* path);
    int (*MakeTemporary)(char* pattern, int flags);  // mkostemp
    char* (*Realpath)(const char* path, char* resolved);
    const char* (*TemporaryDirectory)();
    int (*KeyCreate)(pthread_key_t* key, void (*release)(void*));
    int (*KeyDelete)(pthread_key_t key);
    void* (*GetSpecific)(pthread_key_t key);
    int (*SetSpecific)(pthread_key_t key, const void* value);
    int (*OpenAt)(int directory, const char* path, int flags, mode_t mode);
    int (*StatAt)(int directory, const char* path, struct stat* information, int flags);
    DIR* (*OpenDirectory)(int fd);  // fdopendir: on success the stream owns fd
    struct dirent* (*ReadDirectory)(DIR* stream);
    int (*CloseDirectory)(DIR* stream);
    void* (*Map)(void* address, size_t length, int protection, int flags, int fd, off_t offset);
    int (*Unmap)(void* address, size_t length);
    int (*Advise)(void* address, size_t length, int advice);
    int (*Flock)(int fd, int operation);
    int (*Lstat)(const char* path, struct stat* information);
    ssize_t (*ListAttributes)(int fd, char* names, size_t size);                        // flistxattr
    ssize_t (*GetAttribute)(int fd, const char* name, void* value, size_t size);        // fgetxattr
    int (*SetAttribute)(int fd, const char* name, const void* value, size_t size, int flags);  // fsetxattr
    long (*PathLimit)(const char* path, int name);                                      // pathconf
    int (*Fcntl)(int fd, int command, long argument);  // the lease commands of fcntl(2)
    int (*Exchange)(const char* from, const char* to);  // renameat2 with RENAME_EXCHANGE
    int (*RemoveAttribute)(int fd, const char* name);   // fremovexattr
};

struct FileState;
// A file state (Platform.h) from what stat(2) answered.
void StateFromStat(const struct stat& information, FileState& state);

// stat(2) of a path of any length (opened a chunk of directories at a time
// where it is longer than one system call takes); 0 or -1 with errno.
int StatLongPath(const char* path, struct stat* information);

// The table in use. Tests may change entries; they must restore them.
SystemCalls& Calls();
// The real system calls.
const SystemCalls& DefaultCalls();

}  // namespace RegexPlatform

#endif
#endif

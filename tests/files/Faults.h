// Scoped failures of the platform layer's system calls. A test fills in a
// FaultPlan; while a ScopedFaults lives, the matching calls fail with the
// given error code, every other call goes to the system. Paths are compared
// by prefix against the name a descriptor was opened with, so a plan can
// target "the temporary file in this directory" or "the file being changed".
#ifndef QUORVEX_TESTS_FAULTS_H
#define QUORVEX_TESTS_FAULTS_H

#include <cerrno>
#include <string>

#include "Filetesting.h"
#include "Systemcalls.h"

namespace FileTesting {

struct FaultPlan {
    std::string OpenPath;      // open() of names with this prefix fails
    int OpenError = 0;
    std::string ReadPath;      // read() from such files fails
    int ReadError = 0;
    std::string WritePath;     // write() to such files fails once WriteAllowance bytes went through
    int WriteError = 0;
    long WriteAllowance = 0;
    int WriteFailures = -1;    // how many writes fail after that (-1: all)
    std::string FsyncPath;     // fsync() of such files fails
    int FsyncError = 0;
    std::string TemporaryPath; // mkostemp() of patterns with this prefix fails
    int TemporaryError = 0;
    int FchmodError = 0;       // every fchmod() fails
    int RenameError = 0;       // every rename() and name swap fails
    int RealpathError = 0;     // every realpath() fails
    int ReserveError = 0;      // every space reservation fails
    int KeyCreateError = 0;    // pthread_key_create() fails
    std::string TemporaryDirectory;  // replaces the system's temporary directory

    // Counters, for the tests to read.
    long WrittenToTarget = 0;
    int Renames = 0;
};

inline FaultPlan& Plan()
{
    static FaultPlan plan;
    return plan;
}

inline bool StartsWith(const std::string& text, const std::string& prefix)
{
    return !prefix.empty() && text.compare(0, prefix.size(), prefix) == 0;
}

class ScopedFaults {
public:
    explicit ScopedFaults(const FaultPlan& plan) : saved_(RegexPlatform::Calls())
    {
        Plan() = plan;
        auto& calls = RegexPlatform::Calls();
        calls.Open = [](const char* path, int flags, mode_t mode) {
            if (StartsWith(RealPathOf(path), Plan().OpenPath) || StartsWith(path, Plan().OpenPath)) {
                errno = Plan().OpenError;
                return -1;
            }
            return RegexPlatform::DefaultCalls().Open(path, flags, mode);
        };
        calls.Read = [](int fd, void* buffer, size_t size) -> ssize_t {
            if (StartsWith(PathOfDescriptor(fd), Plan().ReadPath)) {
                errno = Plan().ReadError;
                return -1;
            }
            return RegexPlatform::DefaultCalls().Read(fd, buffer, size);
        };
        calls.Write = [](int fd, const void* buffer, size_t size) -> ssize_t {
            if (StartsWith(PathOfDescriptor(fd), Plan().WritePath)) {
                const long left = Plan().WriteAllowance - Plan().WrittenToTarget;
                if (left <= 0 && Plan().WriteFailures != 0) {
                    if (Plan().WriteFailures > 0)
                        --Plan().WriteFailures;
                    errno = Plan().WriteError;
                    return -1;
                }
                if (left > 0 && static_cast<long>(size) > left)
                    size = static_cast<size_t>(left);
                const ssize_t n = RegexPlatform::DefaultCalls().Write(fd, buffer, size);
                if (n > 0)
                    Plan().WrittenToTarget += n;
                return n;
            }
            return RegexPlatform::DefaultCalls().Write(fd, buffer, size);
        };
        calls.Fsync = [](int fd) {
            if (StartsWith(PathOfDescriptor(fd), Plan().FsyncPath)) {
                errno = Plan().FsyncError;
                return -1;
            }
            return RegexPlatform::DefaultCalls().Fsync(fd);
        };
        calls.MakeTemporary = [](char* pattern, int flags) {
            if (StartsWith(pattern, Plan().TemporaryPath)) {
                errno = Plan().TemporaryError;
                return -1;
            }
            return RegexPlatform::DefaultCalls().MakeTemporary(pattern, flags);
        };
        calls.Fchmod = [](int fd, mode_t mode) {
            if (Plan().FchmodError != 0) {
                errno = Plan().FchmodError;
                return -1;
            }
            return RegexPlatform::DefaultCalls().Fchmod(fd, mode);
        };
        calls.Rename = [](const char* from, const char* to) {
            ++Plan().Renames;
            if (Plan().RenameError != 0) {
                errno = Plan().RenameError;
                return -1;
            }
            return RegexPlatform::DefaultCalls().Rename(from, to);
        };
        // Swapping two names is a rename too, with the same failures.
        calls.Exchange = [](const char* from, const char* to) {
            ++Plan().Renames;
            if (Plan().RenameError != 0) {
                errno = Plan().RenameError;
                return -1;
            }
            return RegexPlatform::DefaultCalls().Exchange(from, to);
        };
        calls.Realpath = [](const char* path, char* resolved) -> char* {
            if (Plan().RealpathError != 0) {
                errno = Plan().RealpathError;
                return nullptr;
            }
            return RegexPlatform::DefaultCalls().Realpath(path, resolved);
        };
        calls.Reserve = [](int fd, off_t size) {
            if (Plan().ReserveError != 0) {
                errno = Plan().ReserveError;
                return -1;
            }
            return RegexPlatform::DefaultCalls().Reserve(fd, size);
        };
        calls.KeyCreate = [](pthread_key_t* key, void (*release)(void*)) {
            if (Plan().KeyCreateError != 0)
                return Plan().KeyCreateError;
            return RegexPlatform::DefaultCalls().KeyCreate(key, release);
        };
        calls.TemporaryDirectory = []() -> const char* {
            return Plan().TemporaryDirectory.empty() ? RegexPlatform::DefaultCalls().TemporaryDirectory()
                                                     : Plan().TemporaryDirectory.c_str();
        };
    }
    ~ScopedFaults()
    {
        RegexPlatform::Calls() = saved_;
        Plan() = FaultPlan();
    }
    ScopedFaults(const ScopedFaults&) = delete;
    ScopedFaults& operator=(const ScopedFaults&) = delete;

private:
    RegexPlatform::SystemCalls saved_;
};

}  // namespace FileTesting

#endif

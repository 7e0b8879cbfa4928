// The state of a file, the advisory lock, named attributes and name limits
// on Windows.
#if defined(_WIN32)

#include "Platform.h"

#include <cstdint>

#include <aclapi.h>
#include <windows.h>

namespace RegexPlatform {

namespace {

// Seconds and nanoseconds since 1970 of a FILETIME (100 ns ticks since 1601).
void StateFromInformation(const BY_HANDLE_FILE_INFORMATION& native, FileState& state)
{
    state.Device = native.dwVolumeSerialNumber;
    state.Identity = (static_cast<std::uint64_t>(native.nFileIndexHigh) << 32) | native.nFileIndexLow;
    state.Size = (static_cast<std::uint64_t>(native.nFileSizeHigh) << 32) | native.nFileSizeLow;
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(native.ftLastWriteTime.dwHighDateTime) << 32) | native.ftLastWriteTime.dwLowDateTime);
    const std::int64_t sinceUnix = ticks - 116444736000000000LL;
    std::int64_t seconds = sinceUnix / 10000000;
    std::int64_t rest = sinceUnix % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    state.ModifiedSeconds = seconds;
    state.ModifiedNanoseconds = static_cast<std::uint32_t>(rest * 100);
    state.Known = true;
}

bool StateOfHandle(HANDLE handle, FileState& state)
{
    state = FileState();
    BY_HANDLE_FILE_INFORMATION native;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(handle, &native))
        return false;
    StateFromInformation(native, state);
    return true;
}

}  // namespace

bool QueryFileState(FileHandle file, FileState& state) { return StateOfHandle(static_cast<HANDLE>(file), state); }

namespace {

// The state of the entry `name` opened with `flags` beside the backup
// semantics a directory needs; the system's error survives the close.
bool StateOfName(const char* name, DWORD flags, FileState& state)
{
    state = FileState();
    const HANDLE handle = ::CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = StateOfHandle(handle, state);
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    ::SetLastError(error);
    return ok;
}

}  // namespace

bool QueryNameState(const char* name, FileState& state) { return StateOfName(name, 0, state); }

// The entry itself: a reparse point (a symbolic link) is not followed.
bool QueryEntryState(const char* name, FileState& state)
{
    return StateOfName(name, FILE_FLAG_OPEN_REPARSE_POINT, state);
}

// Byte-range locks are mandatory on Windows: a lock on the file's bytes would
// stop every other reader. The advisory lock is therefore one byte far past
// any content, which only other takers of the same lock ever ask for.
bool LockFile(FileHandle file)
{
    OVERLAPPED where{};
    where.Offset = 0xFFFFFFFEu;
    where.OffsetHigh = 0x7FFFFFFFu;
    if (::LockFileEx(static_cast<HANDLE>(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where))
        return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;  // no locks here: nothing to wait for
}

// GetFileAttributesA does not follow a symbolic link: the link itself counts.
bool NameExists(const char* name) { return ::GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

// Asked of the directory's volume through a handle on the directory (the
// volume's label and serial number are not needed, and not read).
std::size_t MaximumNameLength(const std::string& directory)
{
    const DWORD error = ::GetLastError();
    DWORD longest = 0;
    const HANDLE handle = ::CreateFileA(directory.empty() ? "." : directory.c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        if (!::GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, &longest, nullptr, nullptr, 0))
            longest = 0;
        ::CloseHandle(handle);
    }
    ::SetLastError(error);
    return longest > 0 ? longest : 255;
}

// The file's own access control list, when it has one that is not inherited
// from its directory (a new file beside it inherits the same one already).
// Alternate data streams are not copied.
bool CopyNamedAttributes(FileHandle from, FileHandle to)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD status = ::GetSecurityInfo(static_cast<HANDLE>(from), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, &dacl, nullptr, &descriptor);
    if (status != ERROR_SUCCESS) {
        if (status == ERROR_NOT_SUPPORTED || status == ERROR_INVALID_FUNCTION || status == ERROR_CALL_NOT_IMPLEMENTED)
            return true;
        ::SetLastError(status);
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    bool ok = true;
    if (::GetSecurityDescriptorControl(descriptor, &control, &revision) && (control & SE_DACL_PROTECTED) != 0) {
        status = ::SetSecurityInfo(static_cast<HANDLE>(to), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   dacl, nullptr);
        if (status != ERROR_SUCCESS) {
            ::SetLastError(status);
            ok = false;
        }
    }
    ::LocalFree(descriptor);
    return ok;
}

unsigned AlreadyExistsError() { return ERROR_FILE_EXISTS; }
unsigned InvalidArgumentError() { return ERROR_INVALID_PARAMETER; }

}  // namespace RegexPlatform

#endif

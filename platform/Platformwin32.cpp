// The platform layer on Windows: thread-local slots, files, attributes and the
// safe rewrite over the Win32 calls. File names are narrow strings in the
// ANSI code page, as the ...A calls take them. Every failure leaves its code
// for GetLastError(), which LastError() reports.
#if defined(_WIN32)

#include "Platform.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

#include <windows.h>
// After windows.h: RtlGenRandom, the system's random number generator.
#include <ntsecapi.h>

namespace RegexPlatform {

namespace {

HANDLE ToNative(FileHandle file) { return static_cast<HANDLE>(file); }
FileHandle FromNative(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : static_cast<FileHandle>(handle); }

// Keeps the last error across clean-up calls made after a failure.
class KeepError {
public:
    KeepError() : saved_(::GetLastError()) {}
    ~KeepError() { ::SetLastError(saved_); }
    KeepError(const KeepError&) = delete;
    KeepError& operator=(const KeepError&) = delete;

private:
    DWORD saved_;
};

// ---- Thread exit ------------------------------------------------------------
//
// TlsAlloc has no release call of its own. The slots that want one are kept
// in a small table, and a TLS callback of the module (called by the loader
// with DLL_THREAD_DETACH in every thread that ends, in a DLL and in a
// program alike) hands each such slot's value to its release function, as
// POSIX thread keys do. The table is written when a library allocates its
// slot at load and read at thread exit; its entries are atomic, no lock.

struct ReleasingSlot {
    std::atomic<DWORD> Index{TLS_OUT_OF_INDEXES};
    std::atomic<SlotRelease> Release{nullptr};
};

constexpr int ReleasingSlots = 64;
ReleasingSlot Releasing[ReleasingSlots];

bool RememberRelease(DWORD index, SlotRelease release)
{
    for (ReleasingSlot& slot : Releasing) {
        DWORD free = TLS_OUT_OF_INDEXES;
        if (slot.Index.compare_exchange_strong(free, index)) {
            slot.Release.store(release);
            return true;
        }
    }
    return false;
}

void ForgetRelease(DWORD index)
{
    for (ReleasingSlot& slot : Releasing)
        if (slot.Index.load() == index) {
            slot.Release.store(nullptr);
            slot.Index.store(TLS_OUT_OF_INDEXES);
        }
}

void NTAPI ReleaseThreadSlots(PVOID, DWORD reason, PVOID)
{
    if (reason != DLL_THREAD_DETACH)
        return;
    // A release function may store a value again; a few rounds, as POSIX.
    for (int round = 0; round < 4; ++round) {
        bool any = false;
        for (ReleasingSlot& slot : Releasing) {
            const SlotRelease release = slot.Release.load();
            const DWORD index = slot.Index.load();
            if (release == nullptr || index == TLS_OUT_OF_INDEXES)
                continue;
            void* value = ::TlsGetValue(index);
            if (value == nullptr)
                continue;
            ::TlsSetValue(index, nullptr);
            release(value);
            any = true;
        }
        if (!any)
            return;
    }
}

}  // namespace

}  // namespace RegexPlatform

// The loader calls every pointer in the .CRT$XL? sections at thread start and
// exit; the runtime's TLS directory covers them.
#if defined(_MSC_VER)
#pragma section(".CRT$XLQ", read)
__declspec(allocate(".CRT$XLQ"))
#else
__attribute__((section(".CRT$XLQ"), used))
#endif
const PIMAGE_TLS_CALLBACK QuorvexReleaseThreadSlots = RegexPlatform::ReleaseThreadSlots;

namespace RegexPlatform {

// ---- Thread-local slots ---------------------------------------------------

SlotIndex AllocateSlot(SlotRelease release)
{
    const DWORD index = ::TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES)
        return NoSlot;
    if (release != nullptr && !RememberRelease(index, release)) {
        ::TlsFree(index);
        ::SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return NoSlot;
    }
    return static_cast<SlotIndex>(index);
}

void FreeSlot(SlotIndex index)
{
    if (index == NoSlot)
        return;
    ForgetRelease(index);
    ::TlsFree(index);
}

void* GetSlotValue(SlotIndex index)
{
    if (index == NoSlot)
        return nullptr;
    // TlsGetValue clears the last error on success; callers do not expect a
    // read of the slot to change it.
    KeepError keep;
    return ::TlsGetValue(index);
}

bool SetSlotValue(SlotIndex index, void* value)
{
    if (index == NoSlot) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return ::TlsSetValue(index, value) != 0;
}

// ---- Errors ---------------------------------------------------------------

unsigned LastError() { return static_cast<unsigned>(::GetLastError()); }
unsigned ValueTooLargeError() { return ERROR_ARITHMETIC_OVERFLOW; }

// ---- Files ------------------------------------------------------------------

namespace {

// Opens an existing file and makes sure it is a file on a disk: a directory,
// a console, a pipe or a device is refused at once.
FileHandle OpenRegular(const char* name, DWORD access, DWORD sharing)
{
    const HANDLE handle = ::CreateFileA(name, access, sharing, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return handle;
}

// Writes all of `size` bytes unless the system refuses; `done` counts the
// bytes that reached the file.
bool WriteAll(HANDLE file, const char* data, std::size_t size, std::size_t& done)
{
    done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data + done, chunk, &written, nullptr))
            return false;
        if (written == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        done += written;
    }
    return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

// The attribute bits SetFileAttributesA accepts.
constexpr DWORD SettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                                     FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

// The file to change is read through a handle that lets this process (and
// others) write, rename and replace it meanwhile: the rewrite keeps it open
// while it puts the new content in place, by rename or by writing over the
// file, and tells a change made by anyone else from the file's state. A
// file another process holds open without sharing is refused at once with
// ERROR_SHARING_VIOLATION, never waited for.
FileHandle OpenForReading(const char* name)
{
    return OpenRegular(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}
FileHandle OpenForUpdate(const char* name) { return OpenRegular(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ); }

// Opened as for reading: another process that holds the file without sharing
// it is refused at once with ERROR_SHARING_VIOLATION, and one that opens it
// later without sharing deletion makes the replacement fail with that error.
// The new content is written over the file through a second handle (whose
// identity the rewrite compares with this one's) where it must be.
FileHandle OpenForRewrite(const char* name, bool& writable)
{
    writable = false;
    return OpenForReading(name);
}

bool IsInUseError(unsigned code) { return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION; }
unsigned InUseError() { return ERROR_SHARING_VIOLATION; }

// The sharing rules stand in for leases here.
Lease TakeWriteLease(FileHandle) { return Lease::Unavailable; }
bool LeaseIntact(FileHandle) { return true; }
void ReleaseLease(FileHandle) {}

bool ExchangeNames(const char*, const char*, bool& supported)
{
    supported = false;
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

// No set-id bits or file capabilities here: the attribute bits stay with the
// file, and CopyPermissions gives them to a new one.
bool ReadPrivileges(FileHandle, Privileges& privileges)
{
    privileges = Privileges();
    return true;
}
bool ApplyPrivileges(FileHandle, const Privileges&) { return true; }

// No such attribute here: undo copies are found by the names beside the file.
bool SetMark(FileHandle, const std::string&) { return false; }
bool ReadMark(FileHandle, std::string&) { return false; }
void ClearMark(FileHandle) {}

FileSizeSignalGuard::FileSizeSignalGuard() {}
FileSizeSignalGuard::~FileSizeSignalGuard() {}

// Not shared: nobody else opens it until it is closed.
FileHandle CreateExclusive(const char* name)
{
    return FromNative(
        ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool ReadFile(FileHandle file, void* buffer, std::size_t size, std::size_t& done)
{
    done = 0;
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(ToNative(file), buffer, chunk, &got, nullptr))
        return false;
    done = got;
    return true;
}

bool WriteFile(FileHandle file, const void* buffer, std::size_t size, std::size_t& done)
{
    return WriteAll(ToNative(file), static_cast<const char*>(buffer), size, done);
}

bool SeekFile(FileHandle file, std::int64_t offset, SeekOrigin origin, std::uint64_t& position)
{
    const DWORD method = origin == SeekOrigin::Begin ? FILE_BEGIN : origin == SeekOrigin::Current ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER at;
    if (!::SetFilePointerEx(ToNative(file), distance, &at, method))
        return false;
    position = static_cast<std::uint64_t>(at.QuadPart);
    return true;
}

bool TellFile(FileHandle file, std::uint64_t& position) { return SeekFile(file, 0, SeekOrigin::Current, position); }

bool CloseFile(FileHandle file) { return file == nullptr || ::CloseHandle(ToNative(file)) != 0; }

bool RemoveFile(const char* name) { return ::DeleteFileA(name) != 0; }

// A copy made beside the target under a fresh name and moved over it when
// complete, so that the target is either the old file or the whole copy;
// CopyFileA carries the attributes along. Where no file can be made beside
// the target, CopyFileA writes the target directly.
bool CopyFileReplacing(const char* from, const char* to)
{
    std::string temporary;
    const std::string directory = DirectoryOf(to);
    const FileHandle made =
        CreateTemporaryIn(directory, WorkNameStem(LastComponentOf(to), MaximumNameLength(directory)), temporary);
    if (made == nullptr)
        return ::CopyFileA(from, to, FALSE) != 0;
    CloseFile(made);
    if (!::CopyFileA(from, temporary.c_str(), FALSE) ||
        !::MoveFileExA(temporary.c_str(), to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        KeepError keep;
        ::SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

// The copy is made from the file the handle is open on, named by the system
// from the handle itself.
bool CopyOpenFileReplacing(FileHandle from, const char* to, unsigned* attributesLost)
{
    if (attributesLost != nullptr)
        *attributesLost = 0;
    char path[32768];
    const DWORD length = ::GetFinalPathNameByHandleA(ToNative(from), path, sizeof path, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= sizeof path)
        return false;
    return CopyFileReplacing(path, to);
}

// The real attribute bits: their values are those of Platform.h.
std::uint32_t GetAttributes(const char* name)
{
    const DWORD attributes = ::GetFileAttributesA(name);
    return attributes == INVALID_FILE_ATTRIBUTES ? InvalidAttributes : static_cast<std::uint32_t>(attributes);
}

bool SetAttributes(const char* name, std::uint32_t attributes)
{
    if (attributes == InvalidAttributes) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD wanted = static_cast<DWORD>(attributes) & SettableAttributes;
    if (wanted == 0)
        wanted = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileAttributesA(name, wanted) != 0;
}

// ---- Safe rewrite -------------------------------------------------------------

// Device: the volume's serial number; Identity: the file index; Permissions:
// the attribute bits, which the rewrite gives the new file.
bool QueryFile(FileHandle file, FileInformation& information)
{
    BY_HANDLE_FILE_INFORMATION native;
    if (!::GetFileInformationByHandle(ToNative(file), &native))
        return false;
    information.Device = native.dwVolumeSerialNumber;
    information.Identity = (static_cast<std::uint64_t>(native.nFileIndexHigh) << 32) | native.nFileIndexLow;
    information.Links = native.nNumberOfLinks;
    information.Size = (static_cast<std::uint64_t>(native.nFileSizeHigh) << 32) | native.nFileSizeLow;
    information.Permissions = native.dwFileAttributes;
    information.Owner = 0;
    information.Group = 0;
    return true;
}

bool ResolvePath(const char* name, std::string& resolved)
{
    // Opening follows symbolic links; the final name is the file's own.
    const HANDLE handle = ::CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    std::vector<char> buffer(MAX_PATH + 1);
    DWORD length = ::GetFinalPathNameByHandleA(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = ::GetFinalPathNameByHandleA(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    }
    {
        KeepError keep;
        ::CloseHandle(handle);
    }
    if (length == 0 || length >= buffer.size())
        return false;
    resolved.assign(buffer.data(), length);
    // The final name comes as \\?\C:\dir\file or \\?\UNC\server\share\file;
    // the narrow calls take the plain forms.
    if (resolved.compare(0, 8, "\\\\?\\UNC\\") == 0)
        resolved = "\\\\" + resolved.substr(8);
    else if (resolved.compare(0, 4, "\\\\?\\") == 0)
        resolved.erase(0, 4);
    return true;
}

std::string DirectoryOf(const std::string& name)
{
    const std::size_t slash = name.find_last_of(PathSeparators);
    if (slash == std::string::npos)
        return ".";
    if (name[slash] == ':')  // C:file
        return name.substr(0, slash + 1);
    if (slash == 0 || name[slash - 1] == ':')  // \file, C:\file: the root keeps its separator
        return name.substr(0, slash + 1);
    return name.substr(0, slash);
}

std::string LastComponentOf(const std::string& name)
{
    const std::size_t slash = name.find_last_of(PathSeparators);
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string TemporaryDirectory()
{
    char buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathA(sizeof buffer, buffer);
    if (length == 0 || length > MAX_PATH)
        return ".";
    std::string directory(buffer, length);
    if (directory.size() > 1 && IsSeparator(directory.back()) && directory[directory.size() - 2] != ':')
        directory.pop_back();
    return directory;
}

// The name ends in six letters or digits from the system's random number
// generator, as mkstemp's do (walks know such names for work files);
// CREATE_NEW refuses a name already taken, and other names are tried. The
// handle may also set the file's access control list.
FileHandle CreateTemporaryIn(const std::string& directory, const std::string& stem, std::string& name)
{
    static const char symbols[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string base = directory;
    if (base.empty())
        base = ".";
    if (!IsSeparator(base.back()))
        base += '\\';
    base += stem;
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (!::RtlGenRandom(random, sizeof random)) {
            name = base + "XXXXXX";
            return nullptr;
        }
        name = base;
        for (const unsigned char r : random)
            name += symbols[r % (sizeof symbols - 1)];
        const HANDLE handle = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC, 0, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return handle;
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return nullptr;
    }
    return nullptr;
}

bool FlushFile(FileHandle file) { return ::FlushFileBuffers(ToNative(file)) != 0; }

// Directory entries reach the disk with the MOVEFILE_WRITE_THROUGH move.
void FlushDirectory(const std::string&) {}

// A new file gets its security from its directory, as the file it replaces
// normally did.
bool OwnershipKeepable(const FileInformation&) { return true; }

// Gives the new file the attribute bits of the old one (hidden, system,
// archive, not indexed...). Read-only is left off: a read-only file is
// never rewritten, and the temporary file must stay removable.
bool CopyPermissions(FileHandle file, const FileInformation& from)
{
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(ToNative(file), FileBasicInfo, &basic, sizeof basic))
        return false;
    DWORD attributes = from.Permissions & SettableAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return ::SetFileInformationByHandle(ToNative(file), FileBasicInfo, &basic, sizeof basic) != 0;
}

// One rename, written through to the disk before it returns. The new file
// already carries the old one's attributes (CopyPermissions); its security
// comes from the directory, as that of any file made there.
//
// A file with open handles cannot be renamed over, even when they all share
// deletion, as the rewrite's own reading handle does; ReplaceFileA can
// (moving the old file aside and the new one in) and keeps the old file's
// attributes and security. It is asked only once the file is known to allow
// deletion: a file another process holds open without delete sharing fails
// at once with ERROR_SHARING_VIOLATION, leaving nothing behind.
bool RenameReplacing(const char* from, const char* to)
{
    if (::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (::GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    const HANDLE probe = ::CreateFileA(to, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(probe);
    if (!::ReplaceFileA(to, from, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return false;
    // ReplaceFileA has no write-through: flush the new file's data and name.
    const HANDLE replaced = ::CreateFileA(to, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (replaced != INVALID_HANDLE_VALUE) {
        ::FlushFileBuffers(replaced);
        ::CloseHandle(replaced);
    }
    return true;
}

bool TruncateFile(FileHandle file, std::uint64_t size)
{
    if (size > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) {
        ::SetLastError(ERROR_ARITHMETIC_OVERFLOW);
        return false;
    }
    // The position stays where it was, as with ftruncate.
    std::uint64_t position = 0;
    if (!TellFile(file, position))
        return false;
    std::uint64_t ignored = 0;
    if (!SeekFile(file, static_cast<std::int64_t>(size), SeekOrigin::Begin, ignored))
        return false;
    const bool ok = ::SetEndOfFile(ToNative(file)) != 0;
    KeepError keep;
    SeekFile(file, static_cast<std::int64_t>(position), SeekOrigin::Begin, ignored);
    return ok;
}

bool ReserveSpace(FileHandle file, std::uint64_t size)
{
    if (size == 0)
        return true;
    if (size > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) {
        ::SetLastError(ERROR_ARITHMETIC_OVERFLOW);
        return false;
    }
    FILE_ALLOCATION_INFO allocation;
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    if (::SetFileInformationByHandle(ToNative(file), FileAllocationInfo, &allocation, sizeof allocation))
        return true;
    const DWORD error = ::GetLastError();
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_CALL_NOT_IMPLEMENTED;
}

}  // namespace RegexPlatform

#endif

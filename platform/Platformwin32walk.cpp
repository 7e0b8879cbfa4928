// Walking directories and reading files whole on Windows: FindFirstFileA and
// FindNextFileA list a directory; reparse points (symbolic links, junctions)
// to directories are never entered, a link to a file counts under its own
// name when its target is a file. Paths of any length: those too long for
// the ...A calls go to the ...W calls in their \\?\ form.
#if defined(_WIN32)

#include "Platform.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include <windows.h>

namespace RegexPlatform {

namespace {

constexpr std::size_t hugePage = std::size_t(2) << 20;

bool IsSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

// Closes a handle when it goes out of scope, also when an exception passes,
// keeping the last error.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle()
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            const DWORD saved = ::GetLastError();
            ::CloseHandle(handle_);
            ::SetLastError(saved);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// The ...A calls take paths shorter than MAX_PATH (directories 12 less, for
// the names in them). A longer path is made absolute and given to the ...W
// calls with the \\?\ prefix, which lifts the limit; names stay narrow
// (the ANSI code page) on both sides.
bool IsLong(const std::string& path) { return path.size() >= MAX_PATH - 12; }

std::wstring Widen(const std::string& text)
{
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const wchar_t* text)
{
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string narrow(static_cast<std::size_t>(length - 1), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], length, nullptr, nullptr);
    return narrow;
}

// The \\?\ form of a long path (already prefixed paths pass unchanged).
std::wstring LongForm(const std::string& path)
{
    std::wstring wide = Widen(path);
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    if (wide.compare(0, 4, L"\\\\?\\") == 0)
        return wide;
    const DWORD length = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return wide;
    std::wstring full(length, L'\0');
    const DWORD got = ::GetFullPathNameW(wide.c_str(), length, &full[0], nullptr);
    full.resize(got < length ? got : 0);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

HANDLE OpenAny(const std::string& path, DWORD access, DWORD sharing, DWORD flags)
{
    if (!IsLong(path))
        return ::CreateFileA(path.c_str(), access, sharing, nullptr, OPEN_EXISTING, flags, nullptr);
    return ::CreateFileW(LongForm(path).c_str(), access, sharing, nullptr, OPEN_EXISTING, flags, nullptr);
}

DWORD AttributesOf(const std::string& path)
{
    return IsLong(path) ? ::GetFileAttributesW(LongForm(path).c_str()) : ::GetFileAttributesA(path.c_str());
}

// One directory's entries, through FindFirstFileExA/FindNextFileA (or their
// W forms for a long path).
class Listing {
public:
    explicit Listing(const std::string& pattern) : wide_(IsLong(pattern))
    {
        search_ = wide_ ? ::FindFirstFileExW(LongForm(pattern).c_str(), FindExInfoBasic, &foundW_, FindExSearchNameMatch,
                                             nullptr, 0)
                        : ::FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &foundA_, FindExSearchNameMatch, nullptr, 0);
    }
    ~Listing()
    {
        if (search_ != INVALID_HANDLE_VALUE)
            ::FindClose(search_);
    }
    Listing(const Listing&) = delete;
    Listing& operator=(const Listing&) = delete;

    bool Opened() const { return search_ != INVALID_HANDLE_VALUE; }
    std::string Name() const { return wide_ ? Narrow(foundW_.cFileName) : std::string(foundA_.cFileName); }
    DWORD Attributes() const { return wide_ ? foundW_.dwFileAttributes : foundA_.dwFileAttributes; }
    bool Next() { return wide_ ? ::FindNextFileW(search_, &foundW_) != 0 : ::FindNextFileA(search_, &foundA_) != 0; }

private:
    bool wide_;
    HANDLE search_ = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA foundA_;
    WIN32_FIND_DATAW foundW_;
};

// Opens whatever the name leads to (links followed) without reading or
// writing it; directories too.
HANDLE OpenToLook(const std::string& path)
{
    return OpenAny(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_FLAG_BACKUP_SEMANTICS);
}

// True when the open handle is a file on a disk, not a directory.
bool IsRegularHandle(HANDLE handle)
{
    if (::GetFileType(handle) != FILE_TYPE_DISK)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    return ::GetFileInformationByHandle(handle, &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

bool ListDirectory(const std::string& path, bool followLink, bool withDirectories, EntryWanted wanted,
                   void* context, std::vector<DirectoryEntry>& entries)
{
    if (!followLink) {
        const DWORD attributes = AttributesOf(path);
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return false;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            ::SetLastError(ERROR_CANT_ACCESS_FILE);
            return false;
        }
    }
    std::string pattern = path.empty() ? std::string(".") : path;
    if (!IsSeparator(pattern.back()))
        pattern += '\\';
    pattern += '*';
    Listing listing(pattern);
    if (!listing.Opened())
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty root has not even . and ..
    do {
        std::string name = listing.Name();
        if (name.empty() || name == "." || name == "..")
            continue;
        const DWORD attributes = listing.Attributes();
        const bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !reparse) {
            if (withDirectories)
                entries.push_back(DirectoryEntry{std::move(name), EntryKind::Directory});
            continue;
        }
        if (!wanted(name, context))
            continue;
        EntryKind kind = EntryKind::RegularFile;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            kind = EntryKind::Other;  // a link or junction to a directory
        } else if (reparse) {
            std::string full = path;
            if (!IsSeparator(full.back()))
                full += '\\';
            full += name;
            const Handle target(OpenToLook(full));
            kind = target.Get() != INVALID_HANDLE_VALUE && IsRegularHandle(target.Get()) ? EntryKind::LinkToRegularFile
                                                                                          : EntryKind::Other;
        }
        entries.push_back(DirectoryEntry{std::move(name), kind});
    } while (listing.Next());
    const DWORD error = ::GetLastError();
    ::SetLastError(error);
    return error == ERROR_NO_MORE_FILES;
}

bool IsRegularFile(const std::string& path)
{
    const Handle file(OpenToLook(path));
    return file.Get() != INVALID_HANDLE_VALUE && IsRegularHandle(file.Get());
}

// Others may go on reading and writing the file (an editor holding it open
// does not stop a search); a file opened by another process without sharing
// fails at once with ERROR_SHARING_VIOLATION.
WholeFile ReadWholeFile(const std::string& path, ReserveBytes reserve, void* context, std::size_t& size,
                        FileState* state)
{
    size = 0;
    if (state != nullptr)
        *state = FileState();
    const Handle file(
        OpenAny(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_FLAG_SEQUENTIAL_SCAN));
    if (file.Get() == INVALID_HANDLE_VALUE) {
        // A directory opens only with FILE_FLAG_BACKUP_SEMANTICS.
        const DWORD error = ::GetLastError();
        const DWORD attributes = AttributesOf(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return WholeFile::NotRegularFile;
        }
        ::SetLastError(error);
        return WholeFile::Failed;
    }
    if (!IsRegularHandle(file.Get())) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return WholeFile::NotRegularFile;
    }
    LARGE_INTEGER length;
    if (!::GetFileSizeEx(file.Get(), &length))
        return WholeFile::Failed;
    if (length.QuadPart < 0 || static_cast<std::uint64_t>(length.QuadPart) > std::numeric_limits<std::size_t>::max()) {
        ::SetLastError(ERROR_FILE_TOO_LARGE);
        return WholeFile::Failed;
    }
    // The state before any byte is read: a later change shows as another state.
    if (state != nullptr && !QueryFileState(file.Get(), *state))
        return WholeFile::Failed;
    const std::size_t expected = static_cast<std::size_t>(length.QuadPart);
    char* target = reserve(expected, context);
    std::size_t got = 0;
    while (got < expected) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(expected - got, 1u << 30));
        DWORD n = 0;
        if (!::ReadFile(file.Get(), target + got, chunk, &n, nullptr))
            return WholeFile::Failed;
        if (n == 0)
            break;
        got += n;
    }
    size = got;
    return got == expected ? WholeFile::Read : WholeFile::Shortened;
}

// Committed, zeroed memory starting on a 2 MiB boundary: a range one huge
// page longer is reserved to find a boundary in it, given back, and the
// aligned part taken (tried again should another thread take it meanwhile;
// an unaligned block if that keeps failing). Large pages proper need a
// privilege that programs do not have, so they are not asked for.
void* AllocateLargeBlock(std::size_t size, std::size_t& length)
{
    length = 0;
    if (size > std::numeric_limits<std::size_t>::max() - 2 * hugePage) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const std::size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
    void* block = nullptr;
    for (int attempt = 0; attempt < 8 && block == nullptr; ++attempt) {
        void* range = ::VirtualAlloc(nullptr, rounded + hugePage, MEM_RESERVE, PAGE_NOACCESS);
        if (range == nullptr)
            return nullptr;
        const std::uintptr_t aligned = (reinterpret_cast<std::uintptr_t>(range) + hugePage - 1) & ~(hugePage - 1);
        ::VirtualFree(range, 0, MEM_RELEASE);
        block = ::VirtualAlloc(reinterpret_cast<void*>(aligned), rounded, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    }
    if (block == nullptr)
        block = ::VirtualAlloc(nullptr, rounded, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (block == nullptr)
        return nullptr;
    length = rounded;
    return block;
}

void FreeLargeBlock(void* block, std::size_t)
{
    if (block != nullptr)
        ::VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace RegexPlatform

#endif

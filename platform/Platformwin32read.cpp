// Inputs of any kind read in blocks, and read-only mappings of regular files
// (Win32; the POSIX side is Platformread.cpp).
#if defined(_WIN32)

#include "Platform.h"

#include <algorithm>
#include <cstdint>
#include <io.h>

#include <windows.h>

namespace RegexPlatform {

namespace {

bool Describe(HANDLE handle, InputKind& kind, std::uint64_t& size)
{
    size = 0;
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        kind = InputKind::Stream;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (!::GetFileInformationByHandle(handle, &information))
        return false;
    if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        ::SetLastError(ERROR_DIRECTORY);
        return false;
    }
    kind = InputKind::RegularFile;
    size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    return true;
}

}  // namespace

FileHandle OpenInput(const char* name, InputKind& kind, std::uint64_t& size, bool regularOnly)
{
    const HANDLE handle = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    if (!Describe(handle, kind, size) || (regularOnly && kind != InputKind::RegularFile)) {
        const DWORD saved = kind != InputKind::RegularFile && regularOnly ? ERROR_INVALID_PARAMETER : ::GetLastError();
        ::CloseHandle(handle);
        ::SetLastError(saved == ERROR_DIRECTORY ? IsDirectoryError() : saved);
        return nullptr;
    }
    return static_cast<FileHandle>(handle);
}

FileHandle InputFromDescriptor(int descriptor, InputKind& kind, std::uint64_t& size)
{
    const intptr_t native = ::_get_osfhandle(descriptor);
    if (native == -1 || native == -2) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(native);
    if (!Describe(handle, kind, size))
        return nullptr;
    return static_cast<FileHandle>(handle);
}

bool ReadInput(FileHandle input, void* buffer, std::size_t size, std::size_t& done)
{
    done = 0;
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!::ReadFile(static_cast<HANDLE>(input), buffer, chunk, &got, nullptr)) {
        // The writer of a pipe closed its end: the input ended.
        return ::GetLastError() == ERROR_BROKEN_PIPE;
    }
    done = got;
    return true;
}

const char* MapInput(FileHandle input, std::uint64_t size)
{
    if (size == 0 || size > static_cast<std::uint64_t>(SIZE_MAX))
        return nullptr;
    const HANDLE mapping = ::CreateFileMappingA(static_cast<HANDLE>(input), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr)
        return nullptr;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size));
    ::CloseHandle(mapping);  // the view keeps the mapping alive
    return static_cast<const char*>(view);
}

void UnmapInput(const char* view, std::uint64_t)
{
    if (view != nullptr)
        ::UnmapViewOfFile(view);
}

}  // namespace RegexPlatform

#endif

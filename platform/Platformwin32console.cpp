// Error texts and the standard streams on Windows: what the command-line
// tool needs from the system besides the file walk.
#if defined(_WIN32)

#include "Platform.h"

#include <algorithm>
#include <string>

#include <windows.h>

namespace RegexPlatform {

unsigned OutOfMemoryError() { return ERROR_NOT_ENOUGH_MEMORY; }

// ERROR_DIRECTORY_NOT_SUPPORTED, "An operation is not supported on a
// directory" (not named by every SDK's headers).
unsigned IsDirectoryError() { return 336; }

std::string ErrorText(unsigned code)
{
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length != 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
    if (text != nullptr)
        ::LocalFree(text);
    // The system's texts end in a full stop and a line break.
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    return result;
}

namespace {

HANDLE StandardHandle(int stream) { return ::GetStdHandle(stream == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE); }

}  // namespace

bool SystemTextIsUtf8() { return ::GetConsoleOutputCP() == CP_UTF8 || ::GetACP() == CP_UTF8; }

std::string CommandLineTextToUtf8(const std::string& text)
{
    if (text.empty() || ::GetACP() == CP_UTF8 || text.size() > 0x7FFFFFFF)
        return text;
    const int size = static_cast<int>(text.size());
    const int wideSize = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (wideSize <= 0)
        return text;
    std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], wideSize);
    const int utf8Size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
    if (utf8Size <= 0)
        return text;
    std::string out(static_cast<std::size_t>(utf8Size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, &out[0], utf8Size, nullptr, nullptr);
    return out;
}

// A console, not a file or a pipe.
bool IsTerminal(int stream)
{
    const HANDLE handle = StandardHandle(stream);
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) == FILE_TYPE_CHAR &&
           ::GetConsoleMode(handle, &mode) != 0;
}

bool StandardFileState(int stream, FileState& state)
{
    state = FileState();
    const HANDLE handle = StandardHandle(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) != FILE_TYPE_DISK)
        return false;
    return QueryFileState(handle, state);
}

// The bytes as they are: line ends are not translated.
bool WriteStandard(int stream, const char* data, std::size_t size)
{
    const HANDLE handle = StandardHandle(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(handle, data, chunk, &written, nullptr))
            return false;
        if (written == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace RegexPlatform

#endif

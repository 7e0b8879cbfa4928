// Error texts and the standard streams on POSIX systems: what the
// command-line tool needs from the system besides the file walk.
#if !defined(_WIN32)

#include "Platform.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace RegexPlatform {

unsigned OutOfMemoryError() { return ENOMEM; }

unsigned IsDirectoryError() { return EISDIR; }

// With no locale variable set, the C locale.
bool SystemTextIsUtf8() { return false; }

std::string CommandLineTextToUtf8(const std::string& text) { return text; }

std::string ErrorText(unsigned code)
{
    return std::strerror(static_cast<int>(code));
}

bool IsTerminal(int stream)
{
    return ::isatty(stream) == 1;
}

bool StandardFileState(int stream, FileState& state)
{
    state = FileState();
    struct stat st;
    if (::fstat(stream, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    state.Device = static_cast<std::uint64_t>(st.st_dev);
    state.Identity = static_cast<std::uint64_t>(st.st_ino);
    state.Size = static_cast<std::uint64_t>(st.st_size);
    state.Known = true;
    return true;
}

bool WriteStandard(int stream, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(stream, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace RegexPlatform

#endif

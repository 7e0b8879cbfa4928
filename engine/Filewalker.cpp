// The walker: wildcard path to sorted file list (see Filewalker.h).
#include "Filewalker.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace RegexEngine {

bool MaskMatches(const std::string& mask, const std::string& name)
{
    // Greedy match with one backtrack point: the last `*` seen takes one more
    // character each time the rest fails. Linear in practice, never exponential.
    std::size_t m = 0, n = 0;
    std::size_t starMask = std::string::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++m;
            ++n;
        } else if (starMask != std::string::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

int OpenPath(const std::string& path, int flags)
{
    // One chunk of a long path stays well below PATH_MAX.
    constexpr std::size_t chunkLimit = PATH_MAX / 2;
    if (path.size() < chunkLimit)
        return ::open(path.c_str(), flags | O_CLOEXEC);

    int dirfd = AT_FDCWD;
    std::size_t start = 0;
    if (path[0] == '/') {
        dirfd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirfd < 0)
            return -1;
        start = 1;
    }
    int result = -1;
    for (;;) {
        if (path.size() - start < chunkLimit) {
            result = ::openat(dirfd, path.c_str() + start, flags | O_CLOEXEC);
            break;
        }
        // Cut at the last `/` inside the chunk; a single component longer than
        // the chunk cannot exist on any file system we open.
        std::size_t cut = path.rfind('/', start + chunkLimit);
        if (cut == std::string::npos || cut < start) {
            errno = ENAMETOOLONG;
            break;
        }
        const std::string piece = path.substr(start, cut - start);
        if (piece.empty()) {  // a doubled `/`
            start = cut + 1;
            continue;
        }
        const int next = ::openat(dirfd, piece.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (next < 0)
            break;
        if (dirfd != AT_FDCWD)
            ::close(dirfd);
        dirfd = next;
        start = cut + 1;
    }
    const int saved = errno;
    if (dirfd != AT_FDCWD)
        ::close(dirfd);
    errno = saved;
    return result;
}

namespace {

// One directory still to be listed: the path to open it by and the prefix its
// entries' names get.
struct PendingDirectory {
    std::string path;
    std::string prefix;
    bool followLink;  // only the starting directory may be reached through a link
};

bool IsRegularTarget(int dirfd, const char* name)
{
    struct stat st;
    return ::fstatat(dirfd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

// Lists one directory: its matching files (full names, appended to `files`
// unsorted) and, when wanted, its real sub-directories (entry names).
void ListDirectory(const PendingDirectory& dir, const std::string& mask, bool recurse,
                   std::vector<std::string>& files, std::vector<std::string>& subdirs)
{
    const int fd = OpenPath(dir.path, O_RDONLY | O_DIRECTORY | (dir.followLink ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return;
    DIR* stream = ::fdopendir(fd);
    if (stream == nullptr) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(stream)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            if (recurse)
                subdirs.emplace_back(name);
        } else if (type == DT_REG || type == DT_LNK) {
            const std::string entryName(name);
            if (!MaskMatches(mask, entryName))
                continue;
            if (type == DT_LNK && !IsRegularTarget(fd, name))
                continue;  // broken, or pointing at a directory or a device
            files.push_back(dir.prefix + entryName);
        }
    }
    ::closedir(stream);
}

}  // namespace

std::vector<std::string> ListFiles(const std::string& files, bool recurse)
{
    std::vector<std::string> result;
    const std::size_t slash = files.rfind('/');
    PendingDirectory start;
    std::string mask;
    if (slash == std::string::npos) {
        start = PendingDirectory{".", "", true};
        mask = files;
    } else {
        const std::string dir = files.substr(0, slash);
        start = PendingDirectory{dir.empty() ? "/" : dir, dir + "/", true};
        mask = files.substr(slash + 1);
    }
    if (mask.empty())
        return result;

    // A mask without wildcards names one file: no need to read the directory.
    if (!recurse && mask.find_first_of("*?") == std::string::npos) {
        struct stat st;
        const std::string name = start.prefix + mask;
        const int fd = OpenPath(slash == std::string::npos ? mask : name, O_PATH);
        if (fd >= 0) {
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
                result.push_back(name);
            ::close(fd);
        }
        return result;
    }

    // Depth first with an explicit stack, so no depth can exhaust the C++
    // stack: a directory's files, then each sub-directory in name order.
    std::vector<PendingDirectory> stack{std::move(start)};
    std::vector<std::string> found, subdirs;
    while (!stack.empty()) {
        PendingDirectory dir = std::move(stack.back());
        stack.pop_back();
        found.clear();
        subdirs.clear();
        ListDirectory(dir, mask, recurse, found, subdirs);
        std::sort(found.begin(), found.end());
        for (auto& name : found)
            result.push_back(std::move(name));
        std::sort(subdirs.begin(), subdirs.end());
        for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it) {
            std::string path = dir.prefix + *it;
            std::string prefix = path + "/";
            stack.push_back(PendingDirectory{std::move(path), std::move(prefix), false});
        }
    }
    return result;
}

}  // namespace RegexEngine

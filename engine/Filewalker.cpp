// The walker: wildcard path to sorted file list (see Filewalker.h).
#include "Filewalker.h"

#include <algorithm>
#include <utility>

#include "Platform.h"

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

namespace {

// One directory still to be listed: the path to open it by and the prefix its
// entries' names get.
struct PendingDirectory {
    std::string path;
    std::string prefix;
    bool followLink;  // only the starting directory may be reached through a link
};

bool MatchesMask(const std::string& name, void* mask)
{
    return MaskMatches(*static_cast<const std::string*>(mask), name);
}

}  // namespace

std::vector<std::string> ListFiles(const std::string& files, bool recurse)
{
    std::vector<std::string> result;
    // Split at the last separator. Names are joined with the separator the
    // caller used last (`/` where none was used and on POSIX systems; on
    // Windows a backslash after a bare drive such as `C:` or no separator at all).
    const std::size_t slash = files.find_last_of(RegexPlatform::PathSeparators);
    const char joint = slash != std::string::npos && files[slash] != ':' ? files[slash] : RegexPlatform::PathSeparators[0];
    PendingDirectory start;
    std::string mask;
    if (slash == std::string::npos) {
        start = PendingDirectory{".", "", true};
        mask = files;
    } else if (files[slash] == ':') {
        // A drive with no separator after it (`C:*.txt`): its current directory.
        const std::string drive = files.substr(0, slash + 1);
        start = PendingDirectory{drive, drive, true};
        mask = files.substr(slash + 1);
    } else {
        const std::string dir = files.substr(0, slash);
        const bool root = dir.empty() || dir.back() == ':';  // `/x`, `\x`, `C:\x`
        start = PendingDirectory{root ? dir + files[slash] : dir, dir + files[slash], true};
        mask = files.substr(slash + 1);
    }
    if (mask.empty())
        return result;

    // A mask without wildcards names one file: no need to read the directory.
    if (!recurse && mask.find_first_of("*?") == std::string::npos) {
        std::string name = start.prefix + mask;
        if (RegexPlatform::IsRegularFile(slash == std::string::npos ? mask : name))
            result.push_back(std::move(name));
        return result;
    }

    // Depth first with an explicit stack, so no depth can exhaust the C++
    // stack: a directory's files, then each sub-directory in name order.
    std::vector<PendingDirectory> stack{std::move(start)};
    std::vector<std::string> found, subdirs;
    std::vector<RegexPlatform::DirectoryEntry> entries;
    while (!stack.empty()) {
        PendingDirectory dir = std::move(stack.back());
        stack.pop_back();
        found.clear();
        subdirs.clear();
        entries.clear();
        // A directory that cannot be read (or stops being readable) gives what
        // was listed of it, nothing when it cannot be opened.
        RegexPlatform::ListDirectory(dir.path, dir.followLink, recurse, MatchesMask, &mask, entries);
        for (auto& entry : entries) {
            switch (entry.Kind) {
            case RegexPlatform::EntryKind::Directory:
                subdirs.push_back(std::move(entry.Name));
                break;
            case RegexPlatform::EntryKind::RegularFile:
            case RegexPlatform::EntryKind::LinkToRegularFile:
                found.push_back(dir.prefix + entry.Name);
                break;
            case RegexPlatform::EntryKind::Other:
                break;  // broken links, links to directories, FIFOs, devices, sockets
            }
        }
        std::sort(found.begin(), found.end());
        for (auto& name : found)
            result.push_back(std::move(name));
        std::sort(subdirs.begin(), subdirs.end());
        for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it) {
            std::string path = dir.prefix + *it;
            std::string prefix = path + joint;
            stack.push_back(PendingDirectory{std::move(path), std::move(prefix), false});
        }
    }
    return result;
}

}  // namespace RegexEngine

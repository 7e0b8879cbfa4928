// The walker: wildcard path to sorted file list (see Filewalker.h).
#include "Filewalker.h"

#include <algorithm>
#include <cstdint>
#include <memory>

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

// The real names of a directory and of the directories above it in a walk
// that follows links: a directory met again among its own ancestors closes a
// loop and is not entered.
struct Ancestry {
    std::string real;
    std::shared_ptr<const Ancestry> parent;
};

// One directory still to be listed: the path to open it by and the prefix its
// entries' names get.
struct PendingDirectory {
    std::string path;
    std::string prefix;
    bool followLink;  // only the starting directory may be reached through a link
    std::shared_ptr<const Ancestry> parent = nullptr;
};

// The temporary files and undo copies of a rewrite (its own or another
// run's) are never files to search or change.
bool MatchesMask(const std::string& name, void* mask)
{
    return MaskMatches(*static_cast<const std::string*>(mask), name) && !RegexPlatform::IsWorkName(name);
}

bool WantsAll(const std::string&, void*)
{
    return true;
}

}  // namespace

std::vector<std::string> ListFiles(const std::string& files, bool recurse)
{
    return ListFiles(files, recurse, LinkRule::FileLinks, nullptr, nullptr, nullptr);
}

std::vector<std::string> ListFiles(const std::string& files, bool recurse, LinkRule links, ListFilter filter,
                                   void* filterContext, std::vector<ListProblem>* problems)
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
        if (RegexPlatform::IsWorkName(mask))
            return result;
        std::string name = start.prefix + mask;
        if (RegexPlatform::IsRegularFile(slash == std::string::npos ? mask : name) &&
            (filter == nullptr || filter(name.c_str(), false, filterContext)))
            result.push_back(std::move(name));
        return result;
    }
    const bool followAll = links == LinkRule::AllLinks && recurse;

    // Depth first with an explicit stack, so no depth can exhaust the C++
    // stack: a directory's files, then each sub-directory in name order.
    std::vector<PendingDirectory> stack{std::move(start)};
    std::vector<std::string> found, subdirs, linkedDirs;
    std::vector<RegexPlatform::DirectoryEntry> entries;
    while (!stack.empty()) {
        PendingDirectory dir = std::move(stack.back());
        stack.pop_back();
        found.clear();
        subdirs.clear();
        entries.clear();
        std::shared_ptr<const Ancestry> self;
        if (followAll) {
            std::string real;
            RegexPlatform::ResolvePath(dir.path.c_str(), real);
            bool loop = false;
            for (const Ancestry* up = dir.parent.get(); up != nullptr && !loop; up = up->parent.get())
                loop = !real.empty() && up->real == real;
            if (loop)
                continue;  // a link back to a directory above: entered once only
            self = std::make_shared<const Ancestry>(Ancestry{std::move(real), dir.parent});
        }
        // A directory that cannot be read (or stops being readable) gives what
        // was listed of it, nothing when it cannot be opened.
        if (!RegexPlatform::ListDirectory(dir.path, dir.followLink, recurse, followAll ? WantsAll : MatchesMask,
                                          &mask, entries) &&
            problems != nullptr) {
            const unsigned error = RegexPlatform::LastError();
            std::string name = dir.prefix.empty() ? dir.path : dir.prefix.substr(0, dir.prefix.size() - 1);
            problems->push_back(ListProblem{result.size(), name.empty() ? dir.path : std::move(name), error});
        }
        for (auto& entry : entries) {
            switch (entry.Kind) {
            case RegexPlatform::EntryKind::Directory:
                if (filter == nullptr || filter((dir.prefix + entry.Name).c_str(), true, filterContext))
                    subdirs.push_back(std::move(entry.Name));
                break;
            case RegexPlatform::EntryKind::LinkToRegularFile:
                if (links == LinkRule::NoLinks || (followAll && !MaskMatches(mask, entry.Name)))
                    break;
                found.push_back(dir.prefix + entry.Name);
                break;
            case RegexPlatform::EntryKind::RegularFile:
                if (!followAll || MaskMatches(mask, entry.Name))
                    found.push_back(dir.prefix + entry.Name);
                break;
            case RegexPlatform::EntryKind::Other:
                // Broken links, FIFOs, devices, sockets; links to directories
                // are entered when all links are followed.
                if (followAll) {
                    const std::string path = dir.prefix + entry.Name;
                    const std::uint32_t attributes = RegexPlatform::GetAttributes(path.c_str());
                    if (attributes != RegexPlatform::InvalidAttributes &&
                        (attributes & RegexPlatform::AttributeDirectory) != 0 &&
                        (filter == nullptr || filter(path.c_str(), true, filterContext)))
                        linkedDirs.push_back(std::move(entry.Name));
                }
                break;
            }
        }
        std::sort(linkedDirs.begin(), linkedDirs.end());
        if (filter != nullptr)
            found.erase(std::remove_if(found.begin(), found.end(),
                                       [&](const std::string& name) { return !filter(name.c_str(), false, filterContext); }),
                        found.end());
        std::sort(found.begin(), found.end());
        for (auto& name : found)
            result.push_back(std::move(name));
        // Followed links to directories take their place among the
        // sub-directories, in one name order.
        subdirs.insert(subdirs.end(), linkedDirs.begin(), linkedDirs.end());
        std::sort(subdirs.begin(), subdirs.end());
        for (auto it = subdirs.rbegin(); it != subdirs.rend(); ++it) {
            std::string path = dir.prefix + *it;
            std::string prefix = path + joint;
            stack.push_back(PendingDirectory{std::move(path), std::move(prefix), false});
        }
        if (followAll) {
            // The top of the stack holds subdirs[0], the one below subdirs[1]...
            for (std::size_t j = 0; j < subdirs.size(); ++j) {
                PendingDirectory& pending = stack[stack.size() - 1 - j];
                pending.parent = self;
                pending.followLink = std::binary_search(linkedDirs.begin(), linkedDirs.end(), subdirs[j]);
            }
        }
        linkedDirs.clear();
    }
    return result;
}

}  // namespace RegexEngine

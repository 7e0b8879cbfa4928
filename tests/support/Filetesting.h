// Helpers for tests that work on real files: a temporary directory tree that
// removes itself, whole-file reads and writes, and file status.
#ifndef QUORVEX_TESTS_FILETESTING_H
#define QUORVEX_TESTS_FILETESTING_H

#if !defined(_WIN32)
#include <dirent.h>
#include <ftw.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <filesystem>
#include <random>
#endif

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace FileTesting {

inline std::string ReadAll(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + name);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteAll(const std::string& name, const std::string& content)
{
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + name);
}

#if defined(_WIN32)

// On Windows: the same helpers over std::filesystem (names stay narrow).
inline bool Exists(const std::string& name)
{
    std::error_code error;
    return std::filesystem::symlink_status(name, error).type() != std::filesystem::file_type::not_found && !error;
}

inline std::vector<std::string> Entries(const std::string& directory)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Tree {
public:
    Tree()
    {
        std::random_device random;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
            const std::string candidate =
                (base / ("quorvex-test-" + std::to_string(random()) + std::to_string(random()))).string();
            if (std::filesystem::create_directory(candidate))
                root_ = candidate;
        }
        if (root_.empty())
            throw std::runtime_error("cannot make a temporary directory");
    }
    ~Tree()
    {
        std::error_code error;
        // Read-only files cannot be removed on Windows.
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_, error))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, error);
        std::filesystem::remove_all(root_, error);
    }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "\\" + relative; }
    std::string Write(const std::string& relative, const std::string& content) const
    {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        WriteAll(Path(relative), content);
        return Path(relative);
    }
    std::string Read(const std::string& relative) const { return ReadAll(Path(relative)); }
    std::string Directory(const std::string& relative) const
    {
        std::filesystem::create_directories(Path(relative));
        return Path(relative);
    }
    std::vector<std::string> List(const std::string& relative = std::string()) const
    {
        return Entries(relative.empty() ? root_ : Path(relative));
    }

private:
    std::string root_;
};

#else

inline bool Exists(const std::string& name)
{
    struct stat st;
    return ::lstat(name.c_str(), &st) == 0;
}

inline struct stat StatOf(const std::string& name)
{
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0)
        throw std::runtime_error("cannot stat " + name);
    return st;
}

inline struct stat LstatOf(const std::string& name)
{
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0)
        throw std::runtime_error("cannot lstat " + name);
    return st;
}

// Names in a directory, sorted, without . and ..
inline std::vector<std::string> Entries(const std::string& directory)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The name a descriptor was opened with (as the system resolved it).
inline std::string PathOfDescriptor(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(link, buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

inline std::string RealPathOf(const std::string& name)
{
    char buffer[PATH_MAX];
    return ::realpath(name.c_str(), buffer) == nullptr ? name : std::string(buffer);
}

// A fresh directory under the system's temporary directory, removed with all
// it holds when the object goes. Relative names may hold slashes: the
// directories on the way are made as needed.
class Tree {
public:
    Tree()
    {
        char pattern[] = "/tmp/quorvex-test-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
    }
    ~Tree()
    {
        ::nftw(root_.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); },
               64, FTW_DEPTH | FTW_PHYS);
    }
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    std::string Write(const std::string& relative, const std::string& content) const
    {
        MakeParents(relative);
        WriteAll(Path(relative), content);
        return Path(relative);
    }
    std::string Read(const std::string& relative) const { return ReadAll(Path(relative)); }
    std::string Directory(const std::string& relative) const
    {
        MakeParents(relative + "/");
        return Path(relative);
    }
    // A symbolic link at `relative` holding `target`.
    std::string Link(const std::string& relative, const std::string& target) const
    {
        MakeParents(relative);
        if (::symlink(target.c_str(), Path(relative).c_str()) != 0)
            throw std::runtime_error("cannot link " + relative);
        return Path(relative);
    }
    std::string Fifo(const std::string& relative) const
    {
        MakeParents(relative);
        if (::mkfifo(Path(relative).c_str(), 0600) != 0)
            throw std::runtime_error("cannot make the FIFO " + relative);
        return Path(relative);
    }
    std::vector<std::string> List(const std::string& relative = std::string()) const
    {
        return Entries(relative.empty() ? root_ : Path(relative));
    }

private:
    // Makes each directory named before a slash of `relative` (existing ones
    // are left as they are).
    void MakeParents(const std::string& relative) const
    {
        for (std::size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
            ::mkdir(Path(relative.substr(0, slash)).c_str(), 0755);
    }

    std::string root_;
};

#endif

}  // namespace FileTesting

#endif

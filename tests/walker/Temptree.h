// A temporary directory tree for one test, removed with everything in it.
#ifndef QUORVEX_TESTS_WALKER_TEMPTREE_H
#define QUORVEX_TESTS_WALKER_TEMPTREE_H

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

class TempTree {
public:
    TempTree()
    {
        char pattern[] = "/tmp/quorvex-walker-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
    }
    ~TempTree()
    {
        ::nftw(root_.c_str(), [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 64,
               FTW_DEPTH | FTW_PHYS);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

    // Writes `content` to `relative`, creating the directories on the way.
    void Write(const std::string& relative, const std::string& content) const
    {
        MakeParents(relative);
        FILE* f = std::fopen(Path(relative).c_str(), "wb");
        if (f == nullptr)
            throw std::runtime_error("cannot write " + relative);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    void Directory(const std::string& relative) const
    {
        MakeParents(relative + "/x");
    }
    void Link(const std::string& relative, const std::string& target) const
    {
        MakeParents(relative);
        if (::symlink(target.c_str(), Path(relative).c_str()) != 0)
            throw std::runtime_error("symlink failed");
    }
    void Fifo(const std::string& relative) const
    {
        MakeParents(relative);
        if (::mkfifo(Path(relative).c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo failed");
    }

private:
    void MakeParents(const std::string& relative) const
    {
        for (std::size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1))
            ::mkdir(Path(relative.substr(0, slash)).c_str(), 0755);
    }

    std::string root_;
};

#endif

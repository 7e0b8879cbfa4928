// Listing directories, reading files whole and large blocks, with the system
// calls changed where a real file system cannot produce the case.
#include "Platform.h"
#include "Systemcalls.h"

#include <sys/mman.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "Filetesting.h"

namespace P = RegexPlatform;
using FileTesting::Tree;

namespace {

// Restores the system-call table when the test is done with it.
class ChangedCalls {
public:
    ChangedCalls() : saved_(P::Calls()) {}
    ~ChangedCalls() { P::Calls() = saved_; }
    ChangedCalls(const ChangedCalls&) = delete;
    ChangedCalls& operator=(const ChangedCalls&) = delete;

private:
    P::SystemCalls saved_;
};

int linkTargetLookups = 0;

bool NotSkipped(const std::string& name, void*)
{
    return name.compare(0, 4, "skip") != 0;
}

std::vector<std::string> Described(std::vector<P::DirectoryEntry> entries)
{
    std::vector<std::string> out;
    for (const auto& entry : entries) {
        const char* kind = entry.Kind == P::EntryKind::RegularFile         ? "file"
                           : entry.Kind == P::EntryKind::LinkToRegularFile ? "link"
                           : entry.Kind == P::EntryKind::Directory         ? "dir"
                                                                           : "other";
        out.push_back(entry.Name + ":" + kind);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::size_t OpenDescriptors()
{
    return FileTesting::Entries("/proc/self/fd").size();
}

TEST(PlatformWalk, EntryKindsWithAndWithoutTypesFromTheListing)
{
    Tree tree;
    tree.Write("file", "x");
    tree.Directory("dir");
    ASSERT_EQ(::symlink("file", tree.Path("tofile").c_str()), 0);
    ASSERT_EQ(::symlink("dir", tree.Path("todir").c_str()), 0);
    ASSERT_EQ(::symlink("missing", tree.Path("broken").c_str()), 0);
    ASSERT_EQ(::mkfifo(tree.Path("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("file", tree.Path("skiplink").c_str()), 0);
    tree.Write("skipfile", "x");
    const std::vector<std::string> expected = {"broken:other", "dir:dir",    "fifo:other",
                                               "file:file",    "todir:other", "tofile:link"};

    // Some file systems leave the type out of the listing; the kinds must not change.
    for (const bool withhold : {false, true}) {
        ChangedCalls changed;
        linkTargetLookups = 0;
        P::Calls().StatAt = [](int directory, const char* path, struct stat* information, int flags) {
            if (flags == 0)
                ++linkTargetLookups;
            return P::DefaultCalls().StatAt(directory, path, information, flags);
        };
        if (withhold)
            P::Calls().ReadDirectory = [](DIR* stream) {
                dirent* entry = P::DefaultCalls().ReadDirectory(stream);
                if (entry != nullptr)
                    entry->d_type = DT_UNKNOWN;
                return entry;
            };
        std::vector<P::DirectoryEntry> entries;
        ASSERT_TRUE(P::ListDirectory(tree.Root(), true, true, NotSkipped, nullptr, entries)) << withhold;
        EXPECT_EQ(Described(entries), expected) << "types withheld: " << withhold;
        EXPECT_EQ(linkTargetLookups, 3) << "only the links asked for are followed; withheld: " << withhold;

        entries.clear();
        ASSERT_TRUE(P::ListDirectory(tree.Root(), true, false, NotSkipped, nullptr, entries));
        EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                                [](const P::DirectoryEntry& e) { return e.Kind == P::EntryKind::Directory; }),
                  0);
    }
    std::vector<P::DirectoryEntry> entries;
    EXPECT_FALSE(P::ListDirectory(tree.Path("todir"), false, true, NotSkipped, nullptr, entries));
    EXPECT_TRUE(P::ListDirectory(tree.Path("todir"), true, true, NotSkipped, nullptr, entries));
}

char* ReserveIn(std::size_t size, void* storage)
{
    auto& bytes = *static_cast<std::vector<char>*>(storage);
    bytes.resize(std::max<std::size_t>(size, 1));
    return bytes.data();
}

char* ReserveNothing(std::size_t, void*)
{
    throw std::bad_alloc();
}

TEST(PlatformWalk, ReadWholeFileReportsEachOutcomeAndClosesTheFile)
{
    Tree tree;
    const std::string content = "0123456789";
    tree.Write("data", content);
    tree.Directory("dir");
    ASSERT_EQ(::mkfifo(tree.Path("fifo").c_str(), 0600), 0);

    struct Row {
        const char* what;
        const char* name;
        void (*change)(P::SystemCalls& calls);
        bool throwing;
        P::WholeFile result;
        std::string bytes;
        int error;
    };
    const Row rows[] = {
        {"whole file", "data", nullptr, false, P::WholeFile::Read, content, 0},
        {"shrank after its size was taken", "data",
         [](P::SystemCalls& calls) {
             calls.Fstat = [](int fd, struct stat* information) {
                 const int rc = P::DefaultCalls().Fstat(fd, information);
                 information->st_size += 5;
                 return rc;
             };
         },
         false, P::WholeFile::Shortened, content, 0},
        {"read fails", "data",
         [](P::SystemCalls& calls) {
             calls.Read = [](int, void*, size_t) -> ssize_t {
                 errno = EIO;
                 return -1;
             };
         },
         false, P::WholeFile::Failed, "", EIO},
        {"size cannot be taken", "data",
         [](P::SystemCalls& calls) {
             calls.Fstat = [](int, struct stat*) {
                 errno = EACCES;
                 return -1;
             };
         },
         false, P::WholeFile::Failed, "", EACCES},
        {"storage cannot be had", "data", nullptr, true, P::WholeFile::Failed, "", 0},
        {"directory", "dir", nullptr, false, P::WholeFile::NotRegularFile, "", 0},
        {"fifo, never waited on", "fifo", nullptr, false, P::WholeFile::NotRegularFile, "", 0},
        {"missing", "missing", nullptr, false, P::WholeFile::Failed, "", ENOENT},
    };
    for (const Row& row : rows) {
        const std::size_t before = OpenDescriptors();
        ChangedCalls changed;
        if (row.change != nullptr)
            row.change(P::Calls());
        std::vector<char> bytes;
        std::size_t size = 99;
        if (row.throwing) {
            EXPECT_THROW(P::ReadWholeFile(tree.Path(row.name), ReserveNothing, nullptr, size), std::bad_alloc);
        } else {
            EXPECT_EQ(P::ReadWholeFile(tree.Path(row.name), ReserveIn, &bytes, size), row.result) << row.what;
            EXPECT_EQ(std::string(bytes.data(), size), row.bytes) << row.what;
            if (row.error != 0) {
                EXPECT_EQ(P::LastError(), unsigned(row.error)) << row.what;
            }
        }
        EXPECT_EQ(OpenDescriptors(), before) << row.what << ": the file is closed";
    }
}

TEST(PlatformWalk, LargeBlocksAreAlignedWholeAndFailCleanly)
{
    constexpr std::size_t hugePage = std::size_t(2) << 20;
    for (const std::size_t size : {std::size_t(1), hugePage, hugePage + 1, 3 * hugePage - 7}) {
        std::size_t length = 0;
        char* block = static_cast<char*>(P::AllocateLargeBlock(size, length));
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % hugePage, 0u) << size;
        EXPECT_GE(length, size);
        EXPECT_EQ(length % hugePage, 0u) << size;
        EXPECT_LT(length - size, hugePage) << size;
        block[0] = 'a';
        block[length - 1] = 'z';  // the whole length is usable
        EXPECT_EQ(block[length - 1] + block[0], 'a' + 'z');
        P::FreeLargeBlock(block, length);
    }

    std::size_t length = 7;
    EXPECT_EQ(P::AllocateLargeBlock(std::numeric_limits<std::size_t>::max() - 5, length), nullptr)
        << "a size that overflows when rounded";
    EXPECT_EQ(length, 0u);
    ChangedCalls changed;
    P::Calls().Map = [](void*, size_t, int, int, int, off_t) -> void* {
        errno = ENOMEM;
        return MAP_FAILED;
    };
    EXPECT_EQ(P::AllocateLargeBlock(hugePage, length), nullptr);
    EXPECT_EQ(P::LastError(), unsigned(ENOMEM));
}

}  // namespace

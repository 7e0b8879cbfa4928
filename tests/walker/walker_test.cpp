// The walker: masks, which files a wildcard path names, their order and names.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Filebuffer.h"
#include "Filewalker.h"
#include "Filetesting.h"

using RegexEngine::ListFiles;
using RegexEngine::MaskMatches;
using Names = std::vector<std::string>;

struct MaskRow {
    const char* mask;
    const char* name;
    bool matches;
};

TEST(MaskMatches, Table)
{
    const MaskRow rows[] = {
        {"*", "a.txt", true},
        {"*", ".hidden", true},            // a leading dot is an ordinary character
        {"*.txt", "a.txt", true},
        {"*.txt", "a.txt.bak", false},
        {"*.txt", ".txt", true},
        {"a*", "a", true},                 // a trailing star may match nothing
        {"a*", "ba", false},
        {"?.txt", "a.txt", true},
        {"?.txt", "ab.txt", false},
        {"?.txt", ".txt", false},
        {"??", "a", false},
        {"[ab].txt", "a.txt", false},      // brackets are literal
        {"[ab].txt", "[ab].txt", true},
        {"A.TXT", "a.txt", false},         // case-sensitive
        {"*a*b*c", "xaybzc", true},
        {"*a*b*c", "xaybzcd", false},
        {"*a*b*c", "abcabc", true},
        {"a**b", "ab", true},
        {"*?", "", false},
        {"notes.txt", "notes.txt", true},
        {"notes.txt", "notes.txtx", false},
        {"a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(MaskMatches(row.mask, row.name), row.matches) << row.mask << " vs " << row.name;
}

class ListFilesTest : public ::testing::Test {
protected:
    FileTesting::Tree tree;
    std::string R(const std::string& relative) const { return tree.Path(relative); }
};

TEST_F(ListFilesTest, FilesSortedThenSubdirectoriesDepthFirst)
{
    tree.Write("b.txt", "");
    tree.Write("a.txt", "");
    tree.Write("c.dat", "");
    tree.Write("sub2/x.txt", "");
    tree.Write("sub1/y.txt", "");
    tree.Write("sub1/deep/z.txt", "");
    tree.Write("sub1/deep/w.dat", "");
    EXPECT_EQ(ListFiles(R("*.txt"), true),
              (Names{R("a.txt"), R("b.txt"), R("sub1/y.txt"), R("sub1/deep/z.txt"), R("sub2/x.txt")}));
    EXPECT_EQ(ListFiles(R("*.txt"), false), (Names{R("a.txt"), R("b.txt")}));
    EXPECT_EQ(ListFiles(R("*"), false), (Names{R("a.txt"), R("b.txt"), R("c.dat")}));
}

TEST_F(ListFilesTest, ByteOrderOfNames)
{
    for (const char* name : {"a.txt", "B.txt", "_x.txt", "\xC3\xA9.txt", "a.txt0", "A.txt"})
        tree.Write(name, "");
    EXPECT_EQ(ListFiles(R("*"), false),
              (Names{R("A.txt"), R("B.txt"), R("_x.txt"), R("a.txt"), R("a.txt0"), R("\xC3\xA9.txt")}));
}

TEST_F(ListFilesTest, HiddenAndMatchingDirectoriesAreEnteredNeverListed)
{
    tree.Write(".hid/a.txt", "");
    tree.Write(".dot.txt", "");
    tree.Write("dir.txt/in.txt", "");
    EXPECT_EQ(ListFiles(R("*.txt"), true), (Names{R(".dot.txt"), R(".hid/a.txt"), R("dir.txt/in.txt")}));
    EXPECT_EQ(ListFiles(R("*.txt"), false), (Names{R(".dot.txt")}));
}

TEST_F(ListFilesTest, LinksAndSpecialFiles)
{
    tree.Write("target.dat", "x");
    tree.Write("other/inside.txt", "x");
    tree.Link("link.txt", "target.dat");        // a link to a file: listed under its own name
    tree.Link("broken.txt", "missing.dat");     // broken: skipped
    tree.Link("dirlink.txt", "other");          // a link to a directory: neither file nor entered
    tree.Link("loop", ".");                      // a cycle, never entered
    tree.Link("null.txt", "/dev/null");         // a device
    tree.Fifo("fifo.txt");
    tree.Fifo("sub/pipe.txt");
    EXPECT_EQ(ListFiles(R("*.txt"), true), (Names{R("link.txt"), R("other/inside.txt")}));
}

TEST_F(ListFilesTest, NamesKeepTheDirectoryAsSpelled)
{
    tree.Write("a.txt", "");
    tree.Write("sub/b.txt", "");
    EXPECT_EQ(ListFiles(tree.Root() + "//*.txt", true),
              (Names{tree.Root() + "//a.txt", tree.Root() + "//sub/b.txt"}));
    EXPECT_EQ(ListFiles(tree.Root() + "/sub/../*.txt", false), (Names{tree.Root() + "/sub/../a.txt"}));
}

TEST_F(ListFilesTest, BareNamesWithoutSlash)
{
    tree.Write("a.txt", "");
    tree.Write("sub/b.txt", "");
    char old[4096];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(tree.Root().c_str()), 0);
    const Names recursive = ListFiles("*.txt", true);
    const Names single = ListFiles("a.txt", false);
    ASSERT_EQ(::chdir(old), 0);
    EXPECT_EQ(recursive, (Names{"a.txt", "sub/b.txt"}));
    EXPECT_EQ(single, (Names{"a.txt"}));
}

TEST_F(ListFilesTest, MaskWithoutWildcards)
{
    tree.Write("a.txt", "");
    tree.Write("sub/a.txt", "");
    tree.Link("l.txt", "a.txt");
    tree.Fifo("f.txt");
    EXPECT_EQ(ListFiles(R("a.txt"), false), (Names{R("a.txt")}));
    EXPECT_EQ(ListFiles(R("l.txt"), false), (Names{R("l.txt")}));
    EXPECT_EQ(ListFiles(R("a.txt"), true), (Names{R("a.txt"), R("sub/a.txt")}));
    EXPECT_TRUE(ListFiles(R("missing.txt"), false).empty());
    EXPECT_TRUE(ListFiles(R("sub"), false).empty());
    EXPECT_TRUE(ListFiles(R("f.txt"), false).empty());
    EXPECT_TRUE(ListFiles(R(""), true).empty());  // "dir/": an empty mask names nothing
    EXPECT_TRUE(ListFiles(R("nowhere/*"), true).empty());
}

// Removes a tree too deep for path-based calls, one directory descriptor at a time.
static void RemoveDeep(int parent, const char* name)
{
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd >= 0) {
        if (DIR* d = ::fdopendir(fd)) {
            std::vector<std::string> names;
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.emplace_back(e->d_name);
            for (const auto& n : names)
                if (::unlinkat(::dirfd(d), n.c_str(), 0) != 0)
                    RemoveDeep(::dirfd(d), n.c_str());
            ::closedir(d);
        }
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

TEST_F(ListFilesTest, PathsLongerThanTheSystemLimit)
{
    // 30 levels of 200-character names: more than 6000 bytes of path.
    const std::string component(200, 'd');
    int fd = ::open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::mkdirat(fd, "deep", 0755), 0);
    int dir = ::openat(fd, "deep", O_RDONLY | O_DIRECTORY);
    std::string expected = R("deep");
    for (int level = 0; level < 30; ++level) {
        ASSERT_EQ(::mkdirat(dir, component.c_str(), 0755), 0);
        const int next = ::openat(dir, component.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(dir);
        dir = next;
        expected += "/" + component;
    }
    const int file = ::openat(dir, "far.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::write(file, "needle\n", 7), 7);
    ::close(file);
    ::close(dir);
    expected += "/far.txt";
    ASSERT_GT(expected.size(), 6000u);

    const Names found = ListFiles(R("*.txt"), true);
    RegexEngine::FileBuffer buffer;
    const bool loaded = !found.empty() && buffer.Load(found[0]);
    RemoveDeep(fd, "deep");
    ::close(fd);
    EXPECT_EQ(found, (Names{expected}));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(std::string(buffer.Data(), buffer.Size()), "needle\n");
}

TEST(FileBuffer, ReadsWholeFilesAndRefusesOthers)
{
    FileTesting::Tree tree;
    const std::string big(3 * 65536 + 17, 'q');
    tree.Write("big.txt", big);
    tree.Write("empty.txt", "");
    tree.Fifo("fifo.txt");
    RegexEngine::FileBuffer buffer;
    ASSERT_TRUE(buffer.Load(tree.Path("big.txt")));
    EXPECT_EQ(std::string(buffer.Data(), buffer.Size()), big);
    ASSERT_TRUE(buffer.Load(tree.Path("empty.txt")));  // the same buffer, reused
    EXPECT_EQ(buffer.Size(), 0u);
    EXPECT_NE(buffer.Data(), nullptr);
    // Large files take another kind of block; growing replaces it whole.
    std::string large(5 * 1048576 + 3, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>('a' + i % 23);
    tree.Write("large.txt", large);
    tree.Write("larger.txt", large + large);
    ASSERT_TRUE(buffer.Load(tree.Path("large.txt")));
    EXPECT_TRUE(std::string(buffer.Data(), buffer.Size()) == large);
    ASSERT_TRUE(buffer.Load(tree.Path("big.txt")));
    EXPECT_TRUE(std::string(buffer.Data(), buffer.Size()) == big);
    ASSERT_TRUE(buffer.Load(tree.Path("larger.txt")));
    EXPECT_TRUE(std::string(buffer.Data(), buffer.Size()) == large + large);
    EXPECT_FALSE(buffer.Load(tree.Path("fifo.txt")));  // refused at once, never waited on
    EXPECT_FALSE(buffer.Load(tree.Path("missing.txt")));
    EXPECT_FALSE(buffer.Load(tree.Root()));
}

TEST(CountLineFeeds, AgreesWithAPlainCountAtEveryAlignment)
{
    std::mt19937 random(7);
    std::string text(300, ' ');
    for (auto& c : text) {
        const int r = static_cast<int>(random() % 6);
        c = r == 0 ? '\n' : r == 1 ? '\x8A' : r == 2 ? '\x0B' : r == 3 ? '\x09' : r == 4 ? '\0' : 'x';
    }
    for (std::size_t start = 0; start < 9; ++start)
        for (std::size_t length = 0; start + length <= text.size(); length += 7)
            ASSERT_EQ(RegexEngine::CountLineFeeds(text.data() + start, length),
                      static_cast<std::uint64_t>(std::count(text.begin() + start, text.begin() + start + length, '\n')))
                << start << "+" << length;
    // Long runs: per-lane counters must not wrap however many feeds follow.
    const std::string feeds(10007, '\n');
    EXPECT_EQ(RegexEngine::CountLineFeeds(feeds.data(), feeds.size()), feeds.size());
    std::string mixed(20011, 'x');
    for (std::size_t i = 0; i < mixed.size(); i += 1 + random() % 5)
        mixed[i] = '\n';
    EXPECT_EQ(RegexEngine::CountLineFeeds(mixed.data(), mixed.size()),
              static_cast<std::uint64_t>(std::count(mixed.begin(), mixed.end(), '\n')));
}

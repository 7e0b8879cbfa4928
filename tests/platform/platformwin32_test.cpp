// The Win32 platform layer, and the class library's file operations on
// Windows: the thread slot and its release at thread exit, the directory
// walk with Windows patterns, and ChangeFiles against the hazards Windows has
// (the read-only attribute, files held open by others, a directory that
// takes no new file, attributes that must survive the rewrite).
#include "Platform.h"
#include "Regularexpressionclass.h"
#include "Regularexpressiontlsstack.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "Filetesting.h"

using RegexClass::RegularExpression;
using FileTesting::Tree;
namespace P = RegexPlatform;

namespace {

// A handler of any event, as a closure over a function object.
template <class... Args>
struct Handler {
    std::function<void(Args...)> Body;
    void Call(Args... args) { Body(args...); }
};
using FindHandler = Handler<RegularExpression*, std::string, bool&>;
using FileMatchHandler = Handler<RegularExpression*, std::string, const RegexClass::REMatchInfo&, unsigned, bool&>;

// ---- Thread slots -------------------------------------------------------------

std::atomic<int> released{0};
void CountRelease(void* value)
{
    released += *static_cast<int*>(value);
}

TEST(Win32Slots, EachThreadHasItsOwnValueReleasedAtThreadExit)
{
    const P::SlotIndex slot = P::AllocateSlot(CountRelease);
    ASSERT_NE(slot, P::NoSlot);
    int mine = 100, theirs = 7;
    ASSERT_TRUE(P::SetSlotValue(slot, &mine));
    released = 0;
    std::thread([&] {
        EXPECT_EQ(P::GetSlotValue(slot), nullptr);
        EXPECT_TRUE(P::SetSlotValue(slot, &theirs));
        EXPECT_EQ(P::GetSlotValue(slot), &theirs);
    }).join();
    EXPECT_EQ(released.load(), 7) << "the ending thread's value is released, once";
    EXPECT_EQ(P::GetSlotValue(slot), &mine);
    P::FreeSlot(slot);
    std::thread([&] { EXPECT_EQ(P::GetSlotValue(slot), nullptr); }).join();
    EXPECT_EQ(released.load(), 7);
    EXPECT_EQ(P::GetSlotValue(P::NoSlot), nullptr);
    EXPECT_FALSE(P::SetSlotValue(P::NoSlot, &mine));
}

// ---- The advisory lock ------------------------------------------------------

// Windows locks are mandatory: the rewrite's lock must not stop readers, yet
// a second taker waits until the first lets go.
TEST(Win32Lock, SecondTakerWaitsReadersDoNot)
{
    Tree tree;
    const std::string file = tree.Write("a.txt", "content");
    const P::FileHandle first = P::OpenForReading(file.c_str());
    const P::FileHandle second = P::OpenForReading(file.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(P::LockFile(first));
    std::atomic<bool> taken{false};
    std::thread waiter([&] {
        EXPECT_TRUE(P::LockFile(second));
        taken = true;
    });
    EXPECT_EQ(tree.Read("a.txt"), "content");
    char byte = 0;
    std::size_t got = 0;
    EXPECT_TRUE(P::ReadFile(first, &byte, 1, got));
    EXPECT_EQ(got, 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(taken.load()) << "the second taker did not wait";
    P::CloseFile(first);
    waiter.join();
    EXPECT_TRUE(taken.load());
    P::CloseFile(second);
}

// ---- Names ------------------------------------------------------------------------

TEST(Win32Names, SeparatorsAndDrives)
{
    struct Row {
        const char* name;
        const char* directory;
        const char* last;
    } rows[] = {
        {"C:\\work\\a.txt", "C:\\work", "a.txt"}, {"C:\\a.txt", "C:\\", "a.txt"},     {"C:a.txt", "C:", "a.txt"},
        {"sub/dir\\a.txt", "sub/dir", "a.txt"},   {"\\a.txt", "\\", "a.txt"},         {"a.txt", ".", "a.txt"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(P::DirectoryOf(row.name), row.directory) << row.name;
        EXPECT_EQ(P::LastComponentOf(row.name), row.last) << row.name;
    }
}

TEST(Win32Names, BackupNamesLookAtTheLastComponentOnly)
{
    struct Row {
        const char* file;
        const char* backup;
        bool isBackup;  // BackupFile of the file's own name
    } rows[] = {
        {"C:\\work\\report.txt", "C:\\work\\report.bak", false},
        {"work\\my.dir\\README", "work\\my.dir\\README.bak", false},
        {"work/my.dir\\README", "work/my.dir\\README.bak", false},
        {"C:README", "C:README.bak", false},
        {"C:\\work\\x.BAK", "C:\\work\\x.bak", true},
    };
    RegularExpression object;
    object.SetSaveExtension("bak");
    for (const Row& row : rows) {
        object.PendingFile.FileName = row.file;
        EXPECT_EQ(object.ReplaceExtension(), row.backup) << row.file;
        EXPECT_EQ(object.BackupFile(row.file), row.isBackup) << row.file;
    }
}

// ---- The walk --------------------------------------------------------------------

std::vector<std::string> Found(const std::string& pattern, bool recurse)
{
    RegularExpression object;
    object.SetExpression("x");
    object.SetFilesToMatch(pattern);
    object.SetDirectoryRecursion(recurse);
    std::vector<std::string> files;
    FindHandler handler{[&files](RegularExpression*, std::string file, bool&) { files.push_back(file); }};
    object.SetOnFindFilesClosure(RegexClass::Bind(&handler, &FindHandler::Call));
    const unsigned count = object.FindFiles();
    EXPECT_EQ(count, files.size());
    return files;
}

// Changes the current directory for one test.
class InDirectory {
public:
    explicit InDirectory(const std::string& directory)
    {
        char buffer[MAX_PATH];
        ::GetCurrentDirectoryA(MAX_PATH, buffer);
        old_ = buffer;
        ::SetCurrentDirectoryA(directory.c_str());
    }
    ~InDirectory() { ::SetCurrentDirectoryA(old_.c_str()); }

private:
    std::string old_;
};

TEST(Win32Walk, WindowsPatternsOrderAndSkips)
{
    Tree tree;
    tree.Directory("sub");
    tree.Directory("sub\\deeper.txt");  // a directory matching the mask is never searched
    tree.Directory("Hidden");
    for (const char* name : {"b.txt", "a.txt", "a.cpp", "sub\\c.txt", "sub\\d.cpp", "Hidden\\e.txt", "sub\\deeper.txt\\f.txt"})
        tree.Write(name, "x\n");
    tree.Write("nomatch.txt", "y\n");
    ::SetFileAttributesA(tree.Path("Hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    const std::string& root = tree.Root();

    EXPECT_EQ(Found(root + "\\*.txt", false), (std::vector<std::string>{root + "\\a.txt", root + "\\b.txt"}));
    EXPECT_EQ(Found(root + "\\*.txt", true),
              (std::vector<std::string>{root + "\\a.txt", root + "\\b.txt", root + "\\Hidden\\e.txt",
                                        root + "\\sub\\c.txt", root + "\\sub\\deeper.txt\\f.txt"}));
    EXPECT_EQ(Found(root + "/sub\\?.cpp", false), (std::vector<std::string>{root + "/sub\\d.cpp"}));
    EXPECT_EQ(Found(root + "\\sub/*.cpp", false), (std::vector<std::string>{root + "\\sub/d.cpp"}));
    EXPECT_EQ(Found(root + "\\a.cpp", false), (std::vector<std::string>{root + "\\a.cpp"}));
    EXPECT_EQ(Found(root + "\\sub", false), (std::vector<std::string>{})) << "a directory named alone";

    InDirectory here(root);
    EXPECT_EQ(Found("sub\\*.cpp", false), (std::vector<std::string>{"sub\\d.cpp"}));
    EXPECT_EQ(Found("*.cpp", true), (std::vector<std::string>{"a.cpp", "sub\\d.cpp"}));
    ASSERT_EQ(root[1], ':') << "the temporary directory has a drive letter";
    const std::string drive = root.substr(0, 2);
    EXPECT_EQ(Found(drive + "*.cpp", true), (std::vector<std::string>{drive + "a.cpp", drive + "sub\\d.cpp"}));
}

TEST(Win32Walk, LinksToDirectoriesAreNeverEntered)
{
    Tree tree;
    tree.Directory("real");
    tree.Write("real\\a.txt", "x");
    tree.Write("b.txt", "x");
    // Creating links needs a privilege (or developer mode); some systems
    // answer success without making one.
    if (!::CreateSymbolicLinkA(tree.Path("link").c_str(), tree.Path("real").c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        !::CreateSymbolicLinkA(tree.Path("c.txt").c_str(), tree.Path("b.txt").c_str(), 0) ||
        ::GetFileAttributesA(tree.Path("link").c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no symbolic links here (error " << ::GetLastError() << ")";
    const std::string& root = tree.Root();
    EXPECT_EQ(Found(root + "\\*.txt", true),
              (std::vector<std::string>{root + "\\b.txt", root + "\\c.txt", root + "\\real\\a.txt"}));
}

// Paths longer than MAX_PATH: listed and read (the ...A calls alone would
// lose everything below the limit).
TEST(Win32Walk, PathsLongerThanMaxPath)
{
    Tree tree;
    tree.Write("top.txt", "x");
    const std::wstring prefix = L"\\\\?\\";
    std::wstring wide(tree.Root().begin(), tree.Root().end());  // the temporary directory's name is ASCII
    std::string narrow = tree.Root();
    std::vector<std::wstring> made;
    for (int level = 0; level < 5; ++level) {
        wide += L"\\" + std::wstring(60, static_cast<wchar_t>(L'a' + level));
        narrow += "\\" + std::string(60, static_cast<char>('a' + level));
        ASSERT_TRUE(::CreateDirectoryW((prefix + wide).c_str(), nullptr)) << ::GetLastError();
        made.push_back(wide);
    }
    const HANDLE file = ::CreateFileW((prefix + wide + L"\\deep.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, "x", 1, &written, nullptr);
    ::CloseHandle(file);
    ASSERT_GT(narrow.size(), std::size_t(MAX_PATH));

    EXPECT_EQ(Found(tree.Path("*.txt"), true), (std::vector<std::string>{tree.Path("top.txt"), narrow + "\\deep.txt"}));
    EXPECT_EQ(Found(narrow + "\\*.txt", false), (std::vector<std::string>{narrow + "\\deep.txt"}));
    EXPECT_EQ(Found(narrow + "\\deep.txt", false), (std::vector<std::string>{narrow + "\\deep.txt"}));

    ::DeleteFileW((prefix + wide + L"\\deep.txt").c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        ::RemoveDirectoryW((prefix + *it).c_str());
}

// ---- ChangeFiles --------------------------------------------------------------------

struct Change {
    unsigned count = 0;
    std::vector<RegularExpression::FileChangeProblem> problems;
};

// The problems as text, for failure messages.
std::string Describe(const Change& change)
{
    std::string text;
    for (const auto& problem : change.problems)
        text += problem.FileName + ": reason " + std::to_string(problem.Reason) + ", error " +
                std::to_string(problem.SystemError) + " " + problem.Text + "\n";
    return text;
}

Change ChangeAll(const std::string& pattern,
                 std::function<void(const std::string&)> onMatch = std::function<void(const std::string&)>(),
                 const std::string& backupExtension = std::string())
{
    RegularExpression object;
    object.SetSaveExtension(backupExtension);
    object.SetExpression("old");
    object.SetFormatString("new");
    object.SetFilesToMatch(pattern);
    FileMatchHandler handler{
        [&onMatch](RegularExpression*, std::string file, const RegexClass::REMatchInfo&, unsigned, bool&) {
            if (onMatch)
                onMatch(file);
        }};
    object.SetOnChangingFilesClosure(RegexClass::Bind(&handler, &FileMatchHandler::Call));
    Change change;
    change.count = object.ChangeFiles();
    if (const auto* problems = object.GetChangeFilesErrors())
        change.problems = *problems;
    return change;
}

TEST(Win32ChangeFiles, ReadOnlyAttributeStopsTheWalk)
{
    Tree tree;
    const std::string file = tree.Write("a.txt", "old text\n");
    ASSERT_TRUE(::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
    RegularExpression object;
    EXPECT_TRUE(object.ReadOnlyFile(file));
    EXPECT_TRUE(object.ReadOnlyFile(tree.Path("missing.txt"))) << "attributes that cannot be read count as read-only";
    EXPECT_FALSE(object.ReadOnlyFile(tree.Write("b.txt", "")));
    EXPECT_EQ(ChangeAll(tree.Path("a.txt")).count, 0u);
    EXPECT_EQ(tree.Read("a.txt"), "old text\n");
}

TEST(Win32ChangeFiles, AttributesAndContentAfterTheRewrite)
{
    Tree tree;
    const std::string file = tree.Write("a.txt", "one old two old\r\nold");
    const DWORD attributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(::SetFileAttributesA(file.c_str(), attributes));
    const Change change = ChangeAll(tree.Path("*.txt"));
    EXPECT_EQ(change.count, 3u);
    EXPECT_TRUE(change.problems.empty()) << Describe(change);
    EXPECT_EQ(tree.Read("a.txt"), "one new two new\r\nnew");
    EXPECT_EQ(::GetFileAttributesA(file.c_str()) & attributes, attributes);
    EXPECT_EQ(tree.List(), (std::vector<std::string>{"a.txt"})) << "no temporary file left";
}

TEST(Win32ChangeFiles, BackupCopyReplacesAnOlderOne)
{
    Tree tree;
    tree.Write("a.txt", "old\n");
    tree.Write("a.bak", "an older backup\n");
    const Change change = ChangeAll(tree.Path("a.txt"), nullptr, "bak");
    EXPECT_EQ(change.count, 1u);
    EXPECT_TRUE(change.problems.empty()) << Describe(change);
    EXPECT_EQ(tree.Read("a.txt"), "new\n");
    EXPECT_EQ(tree.Read("a.bak"), "old\n");
    EXPECT_EQ(tree.List(), (std::vector<std::string>{"a.bak", "a.txt"}));
}

// A file another process (here: another handle) holds open is never waited
// for and never half-written: one InUse record, the file as it was.
TEST(Win32ChangeFiles, FileHeldOpenByOthersGivesAProblem)
{
    struct Row {
        DWORD sharing;  // what the other handle lets others do
        RegularExpression::ProblemReason reason;
    } rows[] = {
        {0, RegularExpression::InUse},                // no sharing at all: cannot even be read
        {FILE_SHARE_READ, RegularExpression::InUse},  // readable, but may not be replaced
    };
    for (const Row& row : rows) {
        Tree tree;
        const std::string file = tree.Write("a.txt", "old\n");
        HANDLE other = INVALID_HANDLE_VALUE;
        const Change change = ChangeAll(tree.Path("a.txt"), [&](const std::string&) {
            if (other == INVALID_HANDLE_VALUE)
                other = ::CreateFileA(file.c_str(), GENERIC_READ, row.sharing, nullptr, OPEN_EXISTING, 0, nullptr);
        });
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        ::CloseHandle(other);
        EXPECT_EQ(change.count, 0u) << row.sharing;
        ASSERT_EQ(change.problems.size(), 1u) << row.sharing;
        EXPECT_EQ(change.problems[0].Reason, row.reason) << row.sharing;
        EXPECT_EQ(change.problems[0].FileName, file);
        EXPECT_NE(change.problems[0].SystemError, 0u);
        EXPECT_EQ(tree.Read("a.txt"), "old\n");
        EXPECT_EQ(tree.List(), (std::vector<std::string>{"a.txt"}));
    }
}

// Where no file can be made beside the file (here: the temporary's longer
// name passes MAX_PATH), no undo copy can be made beside it either: the new
// content is not copied back (an undo copy elsewhere could not be found from
// the file), and the file stays as it was, with one ReplaceFailed record.
TEST(Win32ChangeFiles, DirectoryTakingNoNewFileLeavesTheFileUnchanged)
{
    Tree tree;
    const std::size_t room = MAX_PATH - 1 - tree.Root().size() - 1;
    ASSERT_GT(room, 20u);
    const std::string name = std::string(room - 4, 'n') + ".txt";
    const std::string file = tree.Write(name, "keep old keep");
    std::string temporaryName;
    const P::FileHandle temporary = P::CreateTemporaryIn(tree.Root(), "." + name + ".", temporaryName);
    P::CloseFile(temporary);
    ASSERT_EQ(temporary, nullptr) << "a temporary file beside it cannot be made";
    const auto identity = [&] {
        BY_HANDLE_FILE_INFORMATION information{};
        const HANDLE handle = ::CreateFileA(file.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ::GetFileInformationByHandle(handle, &information);
        ::CloseHandle(handle);
        return (std::uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    };
    const std::uint64_t before = identity();
    const Change change = ChangeAll(file);
    EXPECT_EQ(change.count, 0u);
    ASSERT_EQ(change.problems.size(), 1u) << Describe(change);
    EXPECT_EQ(change.problems[0].Reason, RegularExpression::ReplaceFailed);
    EXPECT_EQ(tree.Read(name), "keep old keep");
    EXPECT_EQ(identity(), before);
}

// ---- Two threads, nested walks ------------------------------------------------------

TEST(Win32Threads, TwoThreadsAndNestedWalksReachTheirOwnObjects)
{
    Tree tree;
    tree.Write("a.txt", "alpha\n");
    tree.Write("b.txt", "beta beta\n");
    std::atomic<bool> wrong{false};
    const auto walk = [&](const std::string& expression, unsigned expected) {
        for (int round = 0; round < 20; ++round) {
            RegularExpression outer, inner;
            outer.SetExpression(expression);
            outer.SetFilesToMatch(tree.Path("*.txt"));
            inner.SetExpression("a");
            inner.SetFilesToMatch(tree.Path("*.txt"));
            unsigned innerFound = 0;
            FindHandler onInner{[&](RegularExpression* sender, std::string, bool&) { innerFound += sender == &inner; }};
            inner.SetOnFindFilesClosure(RegexClass::Bind(&onInner, &FindHandler::Call));
            FileMatchHandler onOuter{
                [&](RegularExpression* sender, std::string, const RegexClass::REMatchInfo&, unsigned, bool&) {
                    if (sender != &outer)
                        wrong = true;
                    inner.FindFiles();
                }};
            outer.SetOnGreppingFilesClosure(RegexClass::Bind(&onOuter, &FileMatchHandler::Call));
            if (outer.GrepFiles() != expected || innerFound != 2 * expected)
                wrong = true;
        }
    };
    std::thread first(walk, "alpha", 1u), second(walk, "beta", 2u);
    first.join();
    second.join();
    EXPECT_FALSE(wrong.load());
}

}  // namespace

// The rewrite of one file: edits applied, permissions, links and backups
// kept, and every failure leaving the file as it was with one problem record
// and no temporary file behind.
#include "Filerewrite.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ios>
#include <cstdio>
#include <functional>

#include "Faults.h"
#include "Filetesting.h"

using namespace RegexEngine;
using FileTesting::FaultPlan;
using FileTesting::ScopedFaults;
using FileTesting::Tree;

namespace {

struct Edit {
    std::uint64_t position;
    std::string match;
    std::string replacement;
};

RewriteOutcome Rewrite(const std::string& file, const std::vector<Edit>& edits, const std::string& backup = "")
{
    std::vector<RewriteEdit> views;
    for (const Edit& edit : edits) {
        RewriteEdit view;
        view.Position = edit.position;
        view.Match = edit.match;
        view.Replacement = edit.replacement;
        views.push_back(view);
    }
    return RewriteFile(file, views, backup);
}

std::string Apply(const std::string& content, const std::vector<Edit>& edits)
{
    std::string out;
    std::uint64_t at = 0;
    for (const Edit& edit : edits) {
        out.append(content, at, edit.position - at);
        out += edit.replacement;
        at = edit.position + edit.match.size();
    }
    out.append(content, at, std::string::npos);
    return out;
}

std::string S(const char* text, std::size_t size) { return std::string(text, size); }

// ---- Edits ----------------------------------------------------------------------

struct EditRow {
    const char* label;
    std::string content;
    std::vector<Edit> edits;
    std::string expected;
};

TEST(Rewrite, AppliesEditsExactly)
{
    const EditRow rows[] = {
        {"match at the start", "foo bar", {{0, "foo", "X"}}, "X bar"},
        {"zero-length match inserts", "ab", {{1, "", "--"}}, "a--b"},
        {"insert at the very end", "abc", {{3, "", "!"}}, "abc!"},
        {"adjacent matches", "ababab", {{0, "ab", "X"}, {2, "ab", "X"}, {4, "ab", "X"}}, "XXX"},
        {"empty replacement deletes", "a-b-c", {{1, "-", ""}, {3, "-", ""}}, "abc"},
        {"match at the end", "xyz", {{2, "z", "Z!"}}, "xyZ!"},
        {"NUL bytes around a match", S("a\0foo\0b", 7), {{2, "foo", "bar"}}, S("a\0bar\0b", 7)},
        {"NUL bytes inside a match", S("a\0foo\0b", 7), {{1, S("\0foo\0", 5), "|"}}, "a|b"},
        {"growing and shrinking", "one two three", {{0, "one", "1111"}, {8, "three", "3"}}, "1111 two 3"},
    };
    for (const EditRow& row : rows) {
        Tree tree;
        const std::string file = tree.Write("data.txt", row.content);
        const RewriteOutcome outcome = Rewrite(file, row.edits);
        EXPECT_TRUE(outcome.Replaced) << row.label;
        EXPECT_TRUE(outcome.Problems.empty()) << row.label;
        EXPECT_EQ(tree.Read("data.txt"), row.expected) << row.label;
        EXPECT_EQ(tree.List(), std::vector<std::string>{"data.txt"}) << row.label;
    }
}

TEST(Rewrite, LargeFileWithEditsAcrossBlockBoundaries)
{
    std::string content;
    for (int i = 0; content.size() < (3u << 20) + 777; ++i)
        content += "line " + std::to_string(i) + " of text\n";
    std::vector<Edit> edits;
    for (std::uint64_t at : {std::uint64_t(0), std::uint64_t(1) << 20, (std::uint64_t(1) << 20) + 5,
                             (std::uint64_t(2) << 20) - 2, std::uint64_t(3) << 20}) {
        edits.push_back({at, content.substr(at, 4), "<" + std::to_string(at) + ">"});
    }
    Tree tree;
    const std::string file = tree.Write("big", content);
    const RewriteOutcome outcome = Rewrite(file, edits);
    ASSERT_TRUE(outcome.Problems.empty());
    EXPECT_TRUE(outcome.Replaced);
    EXPECT_EQ(tree.Read("big"), Apply(content, edits));
}

TEST(Rewrite, HardLinkedFileIsChangedInPlaceForAllItsNames)
{
    Tree tree;
    tree.Directory("tmp");
    const std::string file = tree.Write("data", "alpha beta");
    const std::string other = tree.Path("other-name");
    ASSERT_EQ(::link(file.c_str(), other.c_str()), 0);
    const ino_t inode = FileTesting::StatOf(file).st_ino;
    FaultPlan plan;
    plan.TemporaryDirectory = tree.Path("tmp");
    ScopedFaults faults(plan);
    const RewriteOutcome outcome = Rewrite(file, {{6, "beta", "gamma delta"}});
    ASSERT_TRUE(outcome.Problems.empty());
    EXPECT_TRUE(outcome.Replaced);
    EXPECT_EQ(tree.Read("data"), "alpha gamma delta");
    EXPECT_EQ(FileTesting::ReadAll(other), "alpha gamma delta");
    EXPECT_EQ(FileTesting::StatOf(file).st_ino, inode);
    EXPECT_EQ(FileTesting::Plan().Renames, 0);
    EXPECT_TRUE(tree.List("tmp").empty()) << "both temporary copies removed";
}

TEST(Rewrite, DirectoryWithoutRoomForATemporaryFallsBackToCopyingBack)
{
    Tree tree;
    tree.Directory("tmp");
    const std::string file = tree.Write("data", "long old content");
    FaultPlan plan;
    plan.TemporaryDirectory = tree.Path("tmp");
    plan.TemporaryPath = FileTesting::RealPathOf(tree.Root()) + "/.data.";
    plan.TemporaryError = EACCES;
    ScopedFaults faults(plan);
    const RewriteOutcome outcome = Rewrite(file, {{0, "long old", "new"}});
    ASSERT_TRUE(outcome.Problems.empty());
    EXPECT_EQ(tree.Read("data"), "new content");
    EXPECT_TRUE(tree.List("tmp").empty());
}

TEST(Rewrite, FileOfAnotherOwnerKeepsItsOwnerAndIdentity)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs to switch to another user";
    Tree tree;
    ::chmod(tree.Root().c_str(), 0777);
    tree.Directory("tmp");
    ::chmod(tree.Path("tmp").c_str(), 0777);
    const std::string file = tree.Write("shared.txt", "old foo");
    ::chmod(file.c_str(), 0666);
    const struct stat before = FileTesting::StatOf(file);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A user who may write the file but not give a new file its owner.
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(20);
        FaultPlan plan;
        plan.TemporaryDirectory = tree.Path("tmp");
        ScopedFaults faults(plan);
        const RewriteOutcome outcome = Rewrite(file, {{4, "foo", "bar"}});
        ::_exit(outcome.Replaced && outcome.Problems.empty() ? 0 : 21);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const struct stat after = FileTesting::StatOf(file);
    EXPECT_EQ(tree.Read("shared.txt"), "old bar");
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_TRUE(tree.List("tmp").empty());
    EXPECT_EQ(tree.List(), (std::vector<std::string>{"shared.txt", "tmp"}));
}

// ---- Failures ---------------------------------------------------------------------

struct FailureRow {
    const char* label;
    std::string content;
    std::vector<Edit> edits;
    std::function<void(FaultPlan&, const std::string& root)> plan;
    unsigned char reason;
    std::string fileName;  // relative to the root; a trailing '*' compares a prefix
    unsigned error;
    std::uint64_t position;
    std::string text;
    bool backup;
};

TEST(Rewrite, EveryFailureLeavesTheFileAsItWasWithOneRecord)
{
    const std::vector<Edit> fooToBar = {{4, "foo", "bar"}};
    const FailureRow rows[] = {
        {"name cannot be resolved", "the foo", fooToBar,
         [](FaultPlan& p, const std::string&) { p.RealpathError = EACCES; }, RewriteOpenFailed, "data", EACCES, 0,
         "", false},
        {"file cannot be opened", "the foo", fooToBar,
         [](FaultPlan& p, const std::string& root) {
             p.OpenPath = root + "/data";
             p.OpenError = EACCES;
         },
         RewriteOpenFailed, "data", EACCES, 0, "", false},
        {"no temporary file anywhere", "the foo", fooToBar,
         [](FaultPlan& p, const std::string& root) {
             p.TemporaryPath = root;
             p.TemporaryError = EACCES;
         },
         RewriteCreateTemporaryFailed, "tmp/.data.*", EACCES, 0, "", false},
        {"read fails", "the foo", fooToBar,
         [](FaultPlan& p, const std::string& root) {
             p.ReadPath = root + "/data";
             p.ReadError = EIO;
         },
         RewriteReadFailed, "data", EIO, 0, "", false},
        {"write fails", "the foo", fooToBar,
         [](FaultPlan& p, const std::string& root) {
             p.WritePath = root + "/.data.";
             p.WriteError = ENOSPC;
             p.WriteAllowance = 2;
         },
         RewriteWriteFailed, ".data.*", ENOSPC, 2, "", false},
        {"flush fails", "the foo", fooToBar,
         [](FaultPlan& p, const std::string& root) {
             p.FsyncPath = root + "/.data.";
             p.FsyncError = EIO;
         },
         RewriteWriteFailed, ".data.*", EIO, 7, "", false},
        {"permissions cannot be given", "the foo", fooToBar,
         [](FaultPlan& p, const std::string&) { p.FchmodError = EPERM; }, RewriteAttributesFailed, "data", EPERM, 0,
         "", false},
        {"rename fails", "the foo", fooToBar, [](FaultPlan& p, const std::string&) { p.RenameError = EXDEV; },
         RewriteReplaceFailed, "data", EXDEV, 0, "", false},
        {"backup fails", "the foo", fooToBar,
         [](FaultPlan& p, const std::string& root) {
             p.TemporaryPath = root + "/.data.bak.";
             p.TemporaryError = EACCES;
             p.OpenPath = root + "/data.bak";
             p.OpenError = EACCES;
         },
         RewriteBackupFailed, "data.bak", EACCES, 0, "", true},
        {"file became shorter", "the", fooToBar, [](FaultPlan&, const std::string&) {}, RewriteReadFailed, "data", 0,
         3, "", false},
        {"text changed", "the fox", fooToBar, [](FaultPlan&, const std::string&) {}, RewriteTextChanged, "data", 0, 4,
         "foo", false},
        {"text changed at a later match", "the foo and fox",
         {{4, "foo", "bar"}, {12, "foo", "bar"}}, [](FaultPlan&, const std::string&) {}, RewriteTextChanged, "data",
         0, 12, "foo", false},
        {"overlapping edits", "aaaa", {{0, "aa", "b"}, {1, "aa", "b"}}, [](FaultPlan&, const std::string&) {},
         RewriteTextChanged, "data", 0, 1, "aa", false},
    };
    for (const FailureRow& row : rows) {
        Tree tree;
        tree.Directory("tmp");
        const std::string root = FileTesting::RealPathOf(tree.Root());
        const std::string file = tree.Write("data", row.content);
        ::chmod(file.c_str(), 0640);
        const ino_t inode = FileTesting::StatOf(file).st_ino;
        FaultPlan plan;
        plan.TemporaryDirectory = root + "/tmp";
        row.plan(plan, root);
        RewriteOutcome outcome;
        {
            ScopedFaults faults(plan);
            outcome = Rewrite(file, row.edits, row.backup ? root + "/data.bak" : "");
        }
        EXPECT_FALSE(outcome.Replaced) << row.label;
        ASSERT_EQ(outcome.Problems.size(), 1u) << row.label;
        const RewriteProblem& problem = outcome.Problems[0];
        EXPECT_EQ(problem.Reason, row.reason) << row.label;
        EXPECT_EQ(problem.SystemError, row.error) << row.label;
        EXPECT_EQ(problem.Position, row.position) << row.label;
        EXPECT_EQ(problem.Text, row.text) << row.label;
        const std::string expectedName = (row.fileName == "data" ? file : root + "/" + row.fileName);
        if (!expectedName.empty() && expectedName.back() == '*')
            EXPECT_EQ(problem.FileName.rfind(expectedName.substr(0, expectedName.size() - 1), 0), 0u)
                << row.label << ": " << problem.FileName;
        else
            EXPECT_EQ(problem.FileName, expectedName) << row.label;

        EXPECT_EQ(tree.Read("data"), row.content) << row.label;
        EXPECT_EQ(FileTesting::StatOf(file).st_ino, inode) << row.label;
        EXPECT_EQ(FileTesting::StatOf(file).st_mode & 07777, 0640u) << row.label;
        EXPECT_EQ(tree.List(), (std::vector<std::string>{"data", "tmp"})) << row.label;
        EXPECT_TRUE(tree.List("tmp").empty()) << row.label;
    }
}

TEST(Rewrite, FailedCopyBackPutsTheOldContentBack)
{
    Tree tree;
    tree.Directory("tmp");
    const std::string root = FileTesting::RealPathOf(tree.Root());
    const std::string file = tree.Write("data", "short old text");
    ASSERT_EQ(::link(file.c_str(), tree.Path("second").c_str()), 0);
    FaultPlan plan;
    plan.TemporaryDirectory = root + "/tmp";
    plan.WritePath = root + "/data";
    plan.WriteError = ENOSPC;
    plan.WriteAllowance = 3;  // the new content is cut after three bytes ...
    plan.WriteFailures = 1;   // ... and the old one can be written back
    RewriteOutcome outcome;
    {
        ScopedFaults faults(plan);
        outcome = Rewrite(file, {{0, "short", "a far longer"}});
    }
    EXPECT_FALSE(outcome.Replaced);
    ASSERT_EQ(outcome.Problems.size(), 1u);
    EXPECT_EQ(outcome.Problems[0].Reason, RewriteReplaceFailed);
    EXPECT_EQ(outcome.Problems[0].SystemError, unsigned(ENOSPC));
    EXPECT_EQ(outcome.Problems[0].Text, "");
    EXPECT_EQ(tree.Read("data"), "short old text");
    EXPECT_TRUE(tree.List("tmp").empty());
}

TEST(Rewrite, UndoCopyIsFoundFromEveryNameOfTheFile)
{
    // A copy-back under data that could neither finish nor be undone; the
    // file has another name in another directory.
    Tree tree;
    tree.Directory("elsewhere");
    const std::string root = FileTesting::RealPathOf(tree.Root());
    const std::string file = tree.Write("data", "short old text");
    const std::string other = tree.Path("elsewhere/other");
    ASSERT_EQ(::link(file.c_str(), other.c_str()), 0);
    {
        char probe[4];
        if (::setxattr(file.c_str(), "user.probe", "x", 1, 0) != 0 ||
            ::getxattr(file.c_str(), "user.probe", probe, sizeof probe) != 1)
            GTEST_SKIP() << "the file system of " << tree.Root() << " keeps no user attributes";
        ::removexattr(file.c_str(), "user.probe");
    }
    FaultPlan plan;
    plan.WritePath = root + "/data";
    plan.WriteError = EIO;
    plan.WriteAllowance = 3;
    RewriteOutcome outcome;
    {
        ScopedFaults faults(plan);
        outcome = Rewrite(file, {{0, "short", "a far longer"}});
    }
    ASSERT_EQ(outcome.Problems.size(), 1u);
    const std::string undo = root + "/.data.quorvex-undo";
    ASSERT_EQ(outcome.Problems[0].Text, undo);
    const std::string damaged = tree.Read("data");
    // Through the other name the file is left alone, and the undo copy named.
    const RewriteOutcome again = Rewrite(other, {{0, damaged.substr(0, 3), "xyz"}});
    EXPECT_FALSE(again.Replaced);
    ASSERT_EQ(again.Problems.size(), 1u);
    EXPECT_EQ(again.Problems[0].Reason, RewriteReplaceFailed);
    EXPECT_EQ(again.Problems[0].Text, undo);
    EXPECT_EQ(tree.Read("data"), damaged);
    // Once restored as the manual says, the mark no longer holds the file.
    FileTesting::WriteAll(file, FileTesting::ReadAll(undo));
    ::unlink(undo.c_str());
    const RewriteOutcome restored = Rewrite(other, {{0, "short", "long"}});
    EXPECT_TRUE(restored.Replaced && restored.Problems.empty());
    EXPECT_EQ(tree.Read("data"), "long old text");
}

TEST(Rewrite, UnrestorableCopyBackKeepsAndNamesTheOldContent)
{
    Tree tree;
    tree.Directory("tmp");
    const std::string root = FileTesting::RealPathOf(tree.Root());
    const std::string file = tree.Write("data", "short old text");
    ASSERT_EQ(::link(file.c_str(), tree.Path("second").c_str()), 0);
    FaultPlan plan;
    plan.TemporaryDirectory = root + "/tmp";
    plan.WritePath = root + "/data";
    plan.WriteError = EIO;
    plan.WriteAllowance = 3;
    RewriteOutcome outcome;
    {
        ScopedFaults faults(plan);
        outcome = Rewrite(file, {{0, "short", "a far longer"}});
    }
    ASSERT_EQ(outcome.Problems.size(), 1u);
    EXPECT_EQ(outcome.Problems[0].Reason, RewriteReplaceFailed);
    EXPECT_TRUE(tree.List("tmp").empty());
    EXPECT_EQ(outcome.Problems[0].Text, root + "/.data.quorvex-undo") << "kept beside the file";
    EXPECT_EQ(FileTesting::ReadAll(outcome.Problems[0].Text), "short old text");
}

TEST(Rewrite, NoSpaceForAGrowingCopyBackTouchesNothing)
{
    Tree tree;
    tree.Directory("tmp");
    const std::string root = FileTesting::RealPathOf(tree.Root());
    const std::string file = tree.Write("data", "x");
    ASSERT_EQ(::link(file.c_str(), tree.Path("second").c_str()), 0);
    FaultPlan plan;
    plan.TemporaryDirectory = root + "/tmp";
    plan.ReserveError = ENOSPC;
    RewriteOutcome outcome;
    {
        ScopedFaults faults(plan);
        outcome = Rewrite(file, {{0, "x", std::string(5000, 'y')}});
    }
    ASSERT_EQ(outcome.Problems.size(), 1u);
    EXPECT_EQ(outcome.Problems[0].Reason, RewriteReplaceFailed);
    EXPECT_EQ(outcome.Problems[0].SystemError, unsigned(ENOSPC));
    EXPECT_EQ(tree.Read("data"), "x");
    EXPECT_TRUE(tree.List("tmp").empty());
}

// ---- Names, attributes, positions ----------------------------------------------------

TEST(BackupNames, ExtensionIsLookedForInTheLastComponent)
{
    struct Row {
        const char* file;
        const char* extension;
        const char* expected;
    };
    const Row rows[] = {
        {"report.txt", "bak", "report.bak"},
        {"archive.tar.gz", "bak", "archive.tar.bak"},
        {"README", "bak", "README.bak"},
        {"notes.", "bak", "notes.bak"},
        {"work/my.dir/README", "bak", "work/my.dir/README.bak"},
        {"work/my.dir/a.txt", "bak", "work/my.dir/a.bak"},
        {"report.txt", ".bak", "report..bak"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(BackupNameOf(row.file, row.extension), row.expected) << row.file;
}

TEST(BackupNames, SaveExtensionComparesLettersRegardlessOfCase)
{
    struct Row {
        const char* file;
        const char* extension;
        bool expected;
    };
    const Row rows[] = {
        {"x.bak", "bak", true},      {"x.BAK", "bak", true},      {"dir/x.Bak", "bak", true},
        {"x.bak2", "bak", false},    {"x.ba", "bak", false},      {"x", "bak", false},
        {"my.bak/README", "bak", false}, {"x.bak", "", false},    {"report..bak", ".bak", true},
        {"a.txt.orig", "txt.orig", true}, {"a.TXT.Orig", "txt.orig", true}, {"atxt.orig", "txt.orig", false},
        {"txt.orig", "txt.orig", false}, {"a.txt.orig/b", "txt.orig", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(HasSaveExtension(row.file, row.extension), row.expected) << row.file << " " << row.extension;
}

TEST(FileHelpers, ReadOnlyFiles)
{
    Tree tree;
    const std::string writable = tree.Write("writable", "x");
    const std::string locked = tree.Write("locked", "x");
    ::chmod(locked.c_str(), 0444);
    EXPECT_FALSE(IsReadOnlyFile(writable));
    EXPECT_TRUE(IsReadOnlyFile(locked));
    EXPECT_TRUE(IsReadOnlyFile(tree.Path("missing"))) << "unreadable attributes count as read-only";
}

TEST(FileHelpers, FilePointerAndCleanup)
{
    Tree tree;
    const std::string file = tree.Write("file", "0123456789abcdef");
    RegexPlatform::FileHandle in = RegexPlatform::OpenForReading(file.c_str());
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(FilePointerOf(in), 0u);
    char buffer[10];
    std::size_t done = 0;
    ASSERT_TRUE(RegexPlatform::ReadFile(in, buffer, sizeof buffer, done));
    EXPECT_EQ(FilePointerOf(in), 10u);
    EXPECT_EQ(FilePointerOf(nullptr), 0u);

    std::string temporary;
    RegexPlatform::FileHandle out = RegexPlatform::CreateTemporaryIn(tree.Root(), "t.", temporary);
    ASSERT_NE(out, nullptr);
    CloseAndRemove(in, out, temporary);
    EXPECT_EQ(tree.List(), std::vector<std::string>{"file"});
}

// ---- The file as read, named attributes, undo copies ----------------------------------

TEST(Rewrite, OnlyTheFileAsReadIsReplaced)
{
    Tree tree;
    const std::string file = tree.Write("data", "the foo");
    RegexPlatform::FileState read;
    ASSERT_TRUE(RegexPlatform::QueryNameState(file.c_str(), read));
    RegexPlatform::FileState stale = read;
    stale.ModifiedNanoseconds ^= 1;
    for (const RegexPlatform::FileState* state : {&stale, &read}) {
        const RewriteOutcome outcome = RewriteFile(file, {RewriteEdit{4, "foo", "bar"}}, "", state);
        if (state == &read) {
            EXPECT_TRUE(outcome.Replaced && outcome.Problems.empty());
            continue;
        }
        EXPECT_FALSE(outcome.Replaced);
        ASSERT_EQ(outcome.Problems.size(), 1u);
        EXPECT_EQ(outcome.Problems[0].Reason, RewriteTextChanged);
        EXPECT_EQ(outcome.Problems[0].Position, 0u);
        EXPECT_EQ(outcome.Problems[0].Text, "");
        EXPECT_EQ(outcome.Problems[0].SystemError, 0u);
        EXPECT_EQ(tree.Read("data"), "the foo");
    }
    EXPECT_EQ(tree.Read("data"), "the bar");
}

// Fails every copy of a named attribute, as a file system that refuses one would.
ssize_t RefuseAttribute(int, const char*, const void*, size_t, int)
{
    errno = EPERM;
    return -1;
}

TEST(Rewrite, NamedAttributesAndAccessListsSurvive)
{
    const unsigned char acl[] = {2, 0, 0, 0, 1, 0, 6, 0, 255, 255, 255, 255, 2, 0, 4, 0, 0xFE, 0xFF, 0, 0,
                                 4, 0, 4, 0, 255, 255, 255, 255, 0x10, 0, 4, 0, 255, 255, 255, 255,
                                 0x20, 0, 0, 0, 255, 255, 255, 255};
    for (const bool refused : {false, true}) {
        Tree tree;
        const std::string file = tree.Write("data", "the foo");
        if (::setxattr(file.c_str(), "user.origin", "kept", 4, 0) != 0 ||
            ::setxattr(file.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) != 0)
            GTEST_SKIP() << "the file system of " << tree.Root() << " takes no user attributes or ACLs";
        const ino_t inode = FileTesting::StatOf(file).st_ino;
        RewriteOutcome outcome;
        {
            FaultPlan plan;
            ScopedFaults faults(plan);
            if (refused)
                RegexPlatform::Calls().SetAttribute = [](int fd, const char* n, const void* v, size_t z, int f) {
                    return static_cast<int>(RefuseAttribute(fd, n, v, z, f));
                };
            outcome = Rewrite(file, {{4, "foo", "bar"}});
        }
        EXPECT_TRUE(outcome.Replaced && outcome.Problems.empty()) << refused;
        EXPECT_EQ(tree.Read("data"), "the bar") << refused;
        char value[16] = {};
        EXPECT_EQ(::getxattr(file.c_str(), "user.origin", value, sizeof value), 4) << refused;
        unsigned char copied[sizeof acl + 16];
        EXPECT_EQ(::getxattr(file.c_str(), "system.posix_acl_access", copied, sizeof copied), ssize_t(sizeof acl))
            << refused;
        // Refused attributes: the file is overwritten in place instead.
        EXPECT_EQ(FileTesting::StatOf(file).st_ino == inode, refused);
        EXPECT_EQ(tree.List(), std::vector<std::string>{"data"}) << refused;
    }
}

TEST(Rewrite, UndoCopyBesideAFileKeepsItUntouched)
{
    Tree tree;
    const std::string root = FileTesting::RealPathOf(tree.Root());
    const std::string file = tree.Write("data", "the foo");
    const std::string undo = UndoNameOf(root + "/data");
    EXPECT_EQ(undo, root + "/.data.quorvex-undo");
    FileTesting::WriteAll(undo, "the old content");
    const RewriteOutcome outcome = Rewrite(file, {{4, "foo", "bar"}});
    EXPECT_FALSE(outcome.Replaced);
    ASSERT_EQ(outcome.Problems.size(), 1u);
    EXPECT_EQ(outcome.Problems[0].Reason, RewriteReplaceFailed);
    EXPECT_EQ(outcome.Problems[0].Text, undo);
    EXPECT_EQ(outcome.Problems[0].SystemError, unsigned(EEXIST));
    EXPECT_EQ(tree.Read("data"), "the foo");
}

// ---- Files in use, names swapped after the check ----------------------------------------

// True when the file system under `directory` grants this process write leases.
bool LeasesWork(const std::string& directory)
{
    const std::string probe = directory + "/lease-probe";
    FileTesting::WriteAll(probe, "x");
    const int fd = ::open(probe.c_str(), O_RDWR);
    const bool ok = fd >= 0 && ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    if (fd >= 0)
        ::close(fd);
    ::unlink(probe.c_str());
    return ok;
}

TEST(Rewrite, FileOpenElsewhereIsLeftUnchangedAsInUse)
{
    Tree tree;
    if (!LeasesWork(tree.Root()))
        GTEST_SKIP() << "no write leases on the file system of " << tree.Root();
    struct Row {
        const char* label;
        int flags;       // of the descriptor held open meanwhile
        bool linked;     // a second name: the new content would be copied back
    };
    const Row rows[] = {
        {"a writer appending", O_WRONLY | O_APPEND, false},
        {"a writer appending, copy-back", O_WRONLY | O_APPEND, true},
        {"a reader", O_RDONLY, false},
    };
    for (const Row& row : rows) {
        const std::string file = tree.Write("log", "the foo\n");
        if (row.linked) {
            ASSERT_EQ(::link(file.c_str(), tree.Path("other").c_str()), 0);
        }
        const int held = ::open(file.c_str(), row.flags);
        ASSERT_GE(held, 0);
        const RewriteOutcome outcome = Rewrite(file, {{4, "foo", "bar"}});
        // What the writer writes afterwards lands in the file under its name.
        if ((row.flags & O_APPEND) != 0) {
            ASSERT_EQ(::write(held, "late\n", 5), 5);
        }
        ::close(held);
        EXPECT_FALSE(outcome.Replaced) << row.label;
        ASSERT_EQ(outcome.Problems.size(), 1u) << row.label;
        EXPECT_EQ(outcome.Problems[0].Reason, RewriteInUse) << row.label;
        EXPECT_EQ(outcome.Problems[0].SystemError, unsigned(EBUSY)) << row.label;
        EXPECT_EQ(outcome.Problems[0].FileName, file) << row.label;
        EXPECT_EQ(tree.Read("log"), (row.flags & O_APPEND) != 0 ? "the foo\nlate\n" : "the foo\n") << row.label;
        ::unlink(tree.Path("other").c_str());
        EXPECT_EQ(tree.List(), std::vector<std::string>{"log"}) << row.label;
        ::unlink(file.c_str());
    }
}

// The moment between the last check and the replacement: another process
// opens the file to append a line, as a logger does. Its line must end up in
// the file under its name.
struct Appender {
    static std::string& File()
    {
        static std::string file;
        return file;
    }
    static pid_t& Child()
    {
        static pid_t child = 0;
        return child;
    }
    // True once this process's lease on the file is being broken.
    static bool LeaseBreaking()
    {
        for (int fd = 3; fd < 1024; ++fd) {
            char link[64], target[4096];
            std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
            const ssize_t n = ::readlink(link, target, sizeof target - 1);
            if (n <= 0 || std::string(target, static_cast<std::size_t>(n)) != File())
                continue;
            const int type = ::fcntl(fd, F_GETLEASE);
            if (type != -1 && type != F_WRLCK)
                return true;
        }
        return false;
    }
    // Starts the appender and returns once its open has reached the file:
    // it either wrote its line already or waits for the lease it broke.
    static void Start()
    {
        if (Child() != 0)
            return;  // once: at the first replacement
        Child() = ::fork();
        if (Child() == 0) {
            // Another process holds none of the rewrite's descriptors (a
            // copy of the leased one would keep the lease alive).
            for (int fd = 3; fd < 1024; ++fd)
                ::close(fd);
            const int fd = ::open(File().c_str(), O_WRONLY | O_APPEND);
            ::_exit(fd >= 0 && ::write(fd, "late\n", 5) == 5 ? 0 : 1);
        }
        for (int i = 0; i < 5000; ++i) {
            if (LeaseBreaking())
                return;
            if (::waitpid(Child(), &Status(), WNOHANG) == Child()) {
                Child() = -1;  // it wrote its line and is gone
                return;
            }
            ::usleep(1000);
        }
    }
    static int& Status()
    {
        static int status = 0;
        return status;
    }
    static int Exchange(const char* from, const char* to)
    {
        Start();
        return RegexPlatform::DefaultCalls().Exchange(from, to);
    }
    static int Rename(const char* from, const char* to)
    {
        Start();
        return RegexPlatform::DefaultCalls().Rename(from, to);
    }
};

TEST(Rewrite, WriterOpeningAtTheMomentOfReplacementLosesNothing)
{
    Tree tree;
    if (!LeasesWork(tree.Root()))
        GTEST_SKIP() << "no write leases on the file system of " << tree.Root();
    const std::string file = tree.Write("log", "the foo\n");
    Appender::File() = file;
    Appender::Child() = 0;
    RewriteOutcome outcome;
    {
        FaultPlan plan;
        ScopedFaults faults(plan);
        RegexPlatform::Calls().Exchange = &Appender::Exchange;
        RegexPlatform::Calls().Rename = &Appender::Rename;
        outcome = Rewrite(file, {{4, "foo", "bar"}});
    }
    // The lease is gone with the rewrite: the appender finishes.
    if (Appender::Child() > 0) {
        ASSERT_EQ(::waitpid(Appender::Child(), &Appender::Status(), 0), Appender::Child());
    }
    EXPECT_TRUE(WIFEXITED(Appender::Status()) && WEXITSTATUS(Appender::Status()) == 0);
    EXPECT_FALSE(outcome.Replaced);
    ASSERT_EQ(outcome.Problems.size(), 1u);
    EXPECT_EQ(outcome.Problems[0].Reason, RewriteInUse);
    EXPECT_EQ(tree.Read("log"), "the foo\nlate\n") << "the appended line is in the file under its name";
    EXPECT_EQ(tree.List(), std::vector<std::string>{"log"});
}

// Swaps the name being changed for a link to a victim file at the second
// look at the name (the last check before the file is replaced).
struct Swapper {
    static std::string& File()
    {
        static std::string file;
        return file;
    }
    static std::string& Victim()
    {
        static std::string victim;
        return victim;
    }
    static int& Looks()
    {
        static int looks = 0;
        return looks;
    }
    static int Stat(const char* path, struct stat* information)
    {
        const int rc = RegexPlatform::DefaultCalls().Stat(path, information);
        if (File() == path && ++Looks() == 2) {
            ::rename(path, (File() + ".moved").c_str());
            (void)!::symlink(Victim().c_str(), path);
        }
        return rc;
    }
};

TEST(Rewrite, NameSwappedForALinkAfterTheCheckNeverLeadsAWriteElsewhere)
{
    for (const bool linked : {true, false}) {
        Tree tree;
        const std::string root = FileTesting::RealPathOf(tree.Root());
        const std::string file = tree.Write("data", "the foo");
        if (linked) {  // a second name: the new content is written over the file in place
            ASSERT_EQ(::link(file.c_str(), tree.Path("other").c_str()), 0);
        }
        tree.Write("victim", "precious content of another file");
        Swapper::File() = root + "/data";
        Swapper::Victim() = root + "/victim";
        Swapper::Looks() = 0;
        RewriteOutcome outcome;
        {
            FaultPlan plan;
            ScopedFaults faults(plan);
            RegexPlatform::Calls().Stat = &Swapper::Stat;
            outcome = Rewrite(file, {{4, "foo", "bar"}});
        }
        EXPECT_EQ(Swapper::Looks(), 2) << linked;
        EXPECT_EQ(tree.Read("victim"), "precious content of another file") << linked;
        if (linked) {
            // Written through the descriptor that was checked: the file read.
            EXPECT_TRUE(outcome.Replaced) << linked;
            EXPECT_EQ(tree.Read("data.moved"), "the bar") << linked;
        } else {
            // What the swap put in place is not the file read: left alone.
            EXPECT_FALSE(outcome.Replaced) << linked;
            ASSERT_EQ(outcome.Problems.size(), 1u) << linked;
            EXPECT_EQ(outcome.Problems[0].Reason, RewriteTextChanged) << linked;
            EXPECT_EQ(tree.Read("data.moved"), "the foo") << linked;
            struct stat entry;
            EXPECT_TRUE(::lstat(file.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode)) << "the link stays a link";
        }
    }
}

TEST(Rewrite, FileSizeLimitFailsTheWriteInsteadOfEndingTheProcess)
{
    Tree tree;
    const std::string file = tree.Write("data", std::string(3000, 'a') + "foo");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_DFL);
        const struct rlimit limit = {2048, 2048};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(77);
        const RewriteOutcome outcome = Rewrite(file, {{3000, "foo", "bar"}});
        const bool ok = !outcome.Replaced && outcome.Problems.size() == 1 &&
                        outcome.Problems[0].Reason == RewriteWriteFailed && outcome.Problems[0].SystemError == EFBIG;
        // The signal is not left pending either: the process lives on.
        ::raise(SIGCHLD);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_FALSE(WIFSIGNALED(status)) << "died of signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "cannot set a file-size limit";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(tree.Read("data"), std::string(3000, 'a') + "foo");
    EXPECT_EQ(tree.List(), std::vector<std::string>{"data"}) << "no temporary left";
}

// ---- What writing takes away: set-id bits, file capabilities ----------------------------

TEST(Rewrite, SetIdBitsOfTheOwnersFileAreKept)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand a file to another user";
    for (const mode_t mode : {mode_t(04755), mode_t(02755), mode_t(06750)}) {
        for (const bool linked : {false, true}) {
            Tree tree;
            ::chmod(tree.Root().c_str(), 0777);
            const std::string file = tree.Write("tool", "#!/bin/sh\necho foo\n");
            if (linked) {
                ASSERT_EQ(::link(file.c_str(), tree.Path("other").c_str()), 0);
            }
            ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
            ASSERT_EQ(::chmod(file.c_str(), mode), 0);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                // The file's owner, without the capability to keep set-id bits
                // through a write.
                if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(20);
                const RewriteOutcome outcome = Rewrite(file, {{15, "foo", "bar"}});
                ::_exit(outcome.Replaced && outcome.Problems.empty() ? 0 : 21);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << std::oct << mode << " " << linked;
            EXPECT_EQ(tree.Read("tool"), "#!/bin/sh\necho bar\n") << std::oct << mode << " " << linked;
            EXPECT_EQ(FileTesting::StatOf(file).st_mode & 07777, mode) << std::oct << mode << " " << linked;
        }
    }
}

TEST(Rewrite, FileCapabilitiesAreKept)
{
    // Version 2 capabilities: effective, with cap_net_bind_service permitted.
    const unsigned char capability[20] = {1, 0, 0, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (const bool linked : {false, true}) {
        Tree tree;
        const std::string file = tree.Write("tool", "echo foo\n");
        if (linked) {
            ASSERT_EQ(::link(file.c_str(), tree.Path("other").c_str()), 0);
        }
        if (::setxattr(file.c_str(), "security.capability", capability, sizeof capability, 0) != 0)
            GTEST_SKIP() << "file capabilities cannot be set here: " << std::strerror(errno);
        const RewriteOutcome outcome = Rewrite(file, {{5, "foo", "bar"}});
        EXPECT_TRUE(outcome.Replaced && outcome.Problems.empty()) << linked;
        EXPECT_EQ(tree.Read("tool"), "echo bar\n") << linked;
        unsigned char kept[64] = {};
        const ssize_t size = ::getxattr(file.c_str(), "security.capability", kept, sizeof kept);
        ASSERT_EQ(size, ssize_t(sizeof capability)) << linked << ": " << std::strerror(errno);
        EXPECT_EQ(std::memcmp(kept, capability, sizeof capability), 0) << linked;
    }
}

TEST(Rewrite, DirectoryDefaultAccessListIsNotAddedToTheFile)
{
    // Lets user 65534 read every new file: user rw, user 65534 r, group r,
    // mask r, others none.
    const unsigned char acl[] = {2, 0, 0, 0, 1, 0, 6, 0, 255, 255, 255, 255, 2, 0, 4, 0, 0xFE, 0xFF, 0, 0,
                                 4, 0, 4, 0, 255, 255, 255, 255, 0x10, 0, 4, 0, 255, 255, 255, 255,
                                 0x20, 0, 0, 0, 255, 255, 255, 255};
    Tree tree;
    const std::string directory = tree.Directory("shared");
    const std::string file = tree.Write("shared/secret", "the foo");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    if (::setxattr(directory.c_str(), "system.posix_acl_default", acl, sizeof acl, 0) != 0)
        GTEST_SKIP() << "the file system of " << tree.Root() << " takes no access lists";
    const RewriteOutcome outcome = Rewrite(file, {{4, "foo", "bar"}});
    EXPECT_TRUE(outcome.Replaced && outcome.Problems.empty());
    EXPECT_EQ(tree.Read("shared/secret"), "the bar");
    EXPECT_EQ(FileTesting::StatOf(file).st_mode & 07777, 0640u);
    unsigned char got[128];
    EXPECT_LT(::getxattr(file.c_str(), "system.posix_acl_access", got, sizeof got), 0)
        << "the new file has an access list the old one had not";
}

TEST(Rewrite, BackupGetsTheAccessListsAndAttributesOrIsMadePrivate)
{
    const unsigned char acl[] = {2, 0, 0, 0, 1, 0, 6, 0, 255, 255, 255, 255, 2, 0, 4, 0, 0xFE, 0xFF, 0, 0,
                                 4, 0, 4, 0, 255, 255, 255, 255, 0x10, 0, 4, 0, 255, 255, 255, 255,
                                 0x20, 0, 0, 0, 255, 255, 255, 255};
    for (const bool refused : {false, true}) {
        Tree tree;
        const std::string file = tree.Write("data", "the foo");
        ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
        if (::setxattr(file.c_str(), "user.origin", "kept", 4, 0) != 0 ||
            ::setxattr(file.c_str(), "system.posix_acl_access", acl, sizeof acl, 0) != 0)
            GTEST_SKIP() << "the file system of " << tree.Root() << " takes no user attributes or ACLs";
        const mode_t mode = FileTesting::StatOf(file).st_mode & 07777;
        RewriteOutcome outcome;
        {
            FaultPlan plan;
            ScopedFaults faults(plan);
            if (refused)  // the attributes reach the new file, never the backup
                RegexPlatform::Calls().SetAttribute = [](int fd, const char* n, const void* v, size_t z, int f) {
                    return FileTesting::PathOfDescriptor(fd).find("data.bak") != std::string::npos
                               ? static_cast<int>(RefuseAttribute(fd, n, v, z, f))
                               : RegexPlatform::DefaultCalls().SetAttribute(fd, n, v, z, f);
                };
            outcome = Rewrite(file, {{4, "foo", "bar"}}, tree.Path("data.bak"));
        }
        EXPECT_TRUE(outcome.Replaced) << refused;
        EXPECT_EQ(tree.Read("data.bak"), "the foo") << refused;
        const std::string backup = tree.Path("data.bak");
        char value[16] = {};
        if (!refused) {
            EXPECT_TRUE(outcome.Problems.empty());
            EXPECT_EQ(::getxattr(backup.c_str(), "user.origin", value, sizeof value), 4);
            unsigned char copied[sizeof acl + 16];
            EXPECT_EQ(::getxattr(backup.c_str(), "system.posix_acl_access", copied, sizeof copied),
                      ssize_t(sizeof acl));
            EXPECT_EQ(FileTesting::StatOf(backup).st_mode & 07777, mode);
        } else {
            ASSERT_EQ(outcome.Problems.size(), 1u);
            EXPECT_EQ(outcome.Problems[0].Reason, RewriteAttributesFailed);
            EXPECT_EQ(outcome.Problems[0].FileName, backup);
            EXPECT_EQ(FileTesting::StatOf(backup).st_mode & 07777, 0600u) << "readable by its owner only";
        }
    }
}

TEST(Rewrite, OwnerThatCannotBeGivenIsKeptByCopyingBack)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the file to an unmapped user";
    Tree tree;
    ::chmod(tree.Root().c_str(), 0777);
    const std::string file = tree.Write("data", "the foo");
    ASSERT_EQ(::chown(file.c_str(), 12345, 12345), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    const ino_t inode = FileTesting::StatOf(file).st_ino;
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A user namespace in which only this user is mapped (as root): the
        // file's owner cannot be given to any new file.
        ::close(channel[0]);
        const std::string uid = std::to_string(::geteuid()), gid = std::to_string(::getegid());
        if (::unshare(CLONE_NEWUSER) != 0) {
            const std::string why = std::string("unshare: ") + std::strerror(errno);
            (void)!::write(channel[1], why.data(), why.size());
            ::_exit(77);
        }
        FileTesting::WriteAll("/proc/self/setgroups", "deny");
        FileTesting::WriteAll("/proc/self/uid_map", "0 " + uid + " 1");
        FileTesting::WriteAll("/proc/self/gid_map", "0 " + gid + " 1");
        const RewriteOutcome outcome = Rewrite(file, {{4, "foo", "bar"}});
        ::_exit(outcome.Replaced && outcome.Problems.empty() ? 0 : 21);
    }
    ::close(channel[1]);
    char why[256] = {};
    (void)!::read(channel[0], why, sizeof why - 1);
    ::close(channel[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no user namespace here: " << why;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(tree.Read("data"), "the bar");
    const struct stat after = FileTesting::StatOf(file);
    EXPECT_EQ(after.st_uid, 12345u);
    EXPECT_EQ(after.st_gid, 12345u);
    EXPECT_EQ(after.st_ino, inode) << "written over in place";
    EXPECT_EQ(tree.List(), std::vector<std::string>{"data"});
}

TEST(BackupNames, WorkNamesFitAndAreRecognised)
{
    for (const std::size_t length : {std::size_t(1), std::size_t(239), std::size_t(240), std::size_t(255)}) {
        const std::string name(length, 'n');
        const std::string stem = RegexPlatform::WorkNameStem(name, 255);
        EXPECT_LE(stem.size() + 6, 255u) << length;
        EXPECT_TRUE(RegexPlatform::IsWorkName(stem + "Ab3xY9")) << length;
        EXPECT_TRUE(RegexPlatform::IsWorkName(stem + "undo")) << length;
        EXPECT_EQ(stem == "." + name + ".quorvex-", length <= 239) << length;
    }
    EXPECT_NE(RegexPlatform::WorkNameStem(std::string(250, 'a') + "1", 255),
              RegexPlatform::WorkNameStem(std::string(250, 'a') + "2", 255));
    const std::string accented = std::string(229, 'a') + "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    const std::string cut = RegexPlatform::WorkNameStem(accented + std::string(30, 'z'), 255);
    EXPECT_NE(static_cast<unsigned char>(cut[cut.find('~') - 1]) & 0xC0, 0xC0u) << "cut inside a UTF-8 sequence";
    for (const char* other : {"a.txt", ".a.txt.quorvex-", ".a.quorvex-abc", ".a.quorvex-ab#cd!", "a.quorvex-undo"})
        EXPECT_FALSE(RegexPlatform::IsWorkName(other)) << other;
}

}  // namespace

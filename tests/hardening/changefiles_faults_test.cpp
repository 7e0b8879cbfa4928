// ChangeFiles under faults that real systems produce: a file-size limit, a
// full file system, a file changed, deleted or replaced between the walk and
// the rewrite, a directory the user may not write, a backup that cannot be
// replaced, and the process killed in the middle of a large rewrite. Every
// case checks that the file is byte for byte as it was (or completely
// rewritten), that no temporary file is left behind, and what the problem
// list says.
#include "Regularexpressionclass.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <thread>

#include "Faults.h"
#include "Filetesting.h"
#include "Hardening.h"

using RegexClass::RegularExpression;
using FileTesting::FaultPlan;
using FileTesting::ScopedFaults;
using FileTesting::Tree;
using Hardening::ChildOutcome;
using Hardening::Repeat;
using Hardening::RunInChild;

namespace {

using Problem = RegularExpression::FileChangeProblem;

// Failed expectations of a child, gathered into its note.
struct Verdict {
    std::string& note;
    void Expect(bool ok, const std::string& what)
    {
        if (!ok)
            note += what + "; ";
    }
    int Code() const { return note.empty() ? 0 : 1; }
};

// The text with every "foo" replaced.
std::string Replaced(std::string text, const std::string& by)
{
    std::string out;
    std::size_t at = 0;
    for (std::size_t hit; (hit = text.find("foo", at)) != std::string::npos; at = hit + 3)
        out += text.substr(at, hit - at) + by;
    return out + text.substr(at);
}

void Configure(RegularExpression& re, const std::string& files, const std::string& format,
               const std::string& extension = std::string())
{
    re.SetExpression("foo");
    re.SetFilesToMatch(files);
    re.SetFormatString(format);
    re.SetSaveExtension(extension);
}

std::vector<Problem> ProblemsOf(const RegularExpression& re)
{
    const auto* problems = re.GetChangeFilesErrors();
    return problems == nullptr ? std::vector<Problem>() : *problems;
}

std::string Describe(const std::vector<Problem>& problems)
{
    std::string text;
    for (const Problem& p : problems)
        text += "[" + p.FileName + " reason " + std::to_string(p.Reason) + " at " + std::to_string(p.FilePosition) +
                " error " + std::to_string(p.SystemError) + "]";
    return text.empty() ? "no problem" : text;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

std::string LastOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// ---- File-size limit -------------------------------------------------------------------

TEST(ChangeFilesFaults, FileSizeLimitStopsTheGrowingFileAndTheWalkGoesOn)
{
    Tree tree;
    tree.Directory("tmp");
    const std::string big = Repeat("foo\n", 300);  // 1200 bytes, 2100 once changed
    tree.Write("big.txt", big);
    tree.Write("small.txt", "foo foo");
    const std::string root = FileTesting::RealPathOf(tree.Root());
    const ChildOutcome outcome = RunInChild([&](std::string& note) {
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {1500, 1500};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return Hardening::Unavailable;
        FaultPlan plan;
        plan.TemporaryDirectory = root + "/tmp";
        ScopedFaults faults(plan);
        RegularExpression re;
        Configure(re, tree.Path("*.txt"), "foofoo", "bak");
        const unsigned changes = re.ChangeFiles();
        const auto problems = ProblemsOf(re);
        Verdict v{note};
        v.Expect(changes == 2, "changes " + std::to_string(changes));
        v.Expect(problems.size() == 1, Describe(problems));
        if (problems.size() == 1) {
            v.Expect(problems[0].Reason == RegularExpression::WriteFailed, "reason");
            v.Expect(problems[0].SystemError == EFBIG, "error " + std::to_string(problems[0].SystemError));
            v.Expect(problems[0].FilePosition == 1500, "position " + std::to_string(problems[0].FilePosition));
            v.Expect(StartsWith(problems[0].FileName, root + "/.big.txt."), "name " + problems[0].FileName);
        }
        return v.Code();
    });
    ASSERT_TRUE(outcome.Succeeded()) << outcome.Describe();
    EXPECT_EQ(tree.Read("big.txt"), big);
    EXPECT_EQ(tree.Read("small.txt"), "foofoo foofoo");
    EXPECT_EQ(tree.Read("small.bak"), "foo foo");
    EXPECT_EQ(tree.List(), (std::vector<std::string>{"big.txt", "small.bak", "small.txt", "tmp"}))
        << "no backup of the file that failed, no temporary file";
    EXPECT_TRUE(tree.List("tmp").empty());
}

// ---- A full file system ------------------------------------------------------------------

// Mounts a small memory file system on `directory` inside new user and mount
// namespaces of the calling (child) process: no privilege is needed and
// nothing is seen outside the child.
bool MountSmallFileSystem(const std::string& directory, const std::string& options, std::string& note)
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        note = std::string("unshare: ") + std::strerror(errno);
        return false;
    }
    const auto write = [](const char* file, const std::string& text) {
        std::ofstream out(file);
        out << text;
        out.close();
        return static_cast<bool>(out);
    };
    if (!write("/proc/self/setgroups", "deny") || !write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
        note = "identity maps refused";
        return false;
    }
    if (::mount("none", directory.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        note = std::string("mount: ") + std::strerror(errno);
        return false;
    }
    return true;
}

struct FullRow {
    const char* label;
    const char* options;   // of the memory file system
    std::string content;   // of data.txt
    const char* format;    // for foo
    std::size_t filler;    // bytes of another file on the file system
    const char* extension;
    bool replaced;         // the rewrite is expected to succeed
    int reason;            // otherwise the one problem
};

TEST(ChangeFilesFaults, FullFileSystemLeavesTheFileWholeOrCompletelyRewritten)
{
    const FullRow rows[] = {
        {"no room for the new content", "size=64k", Repeat("foo\n", 8192), "foofoo", 0, "", false,
         RegularExpression::WriteFailed},
        {"no room for the backup", "size=64k", Repeat("foo\n", 6144), "f", 20 * 1024, "bak", false,
         RegularExpression::BackupFailed},
        {"no inode beside it for an undo copy: not copied back", "size=64k,nr_inodes=2", Repeat("foo\n", 4096),
         "foofoo", 0, "", false, RegularExpression::ReplaceFailed},
        {"no inode and no room to grow in place", "size=32k,nr_inodes=2", Repeat("foo\n", 4096), "foofoofoo", 0, "",
         false, RegularExpression::ReplaceFailed},
    };
    for (const FullRow& row : rows) {
        Tree tree;
        tree.Directory("fs");
        tree.Directory("tmp");
        const std::string root = FileTesting::RealPathOf(tree.Root());
        const std::string fs = root + "/fs";
        const ChildOutcome outcome = RunInChild([&](std::string& note) {
            if (!MountSmallFileSystem(fs, row.options, note))
                return Hardening::Unavailable;
            std::vector<std::string> expected = {"data.txt"};
            if (row.filler > 0) {
                FileTesting::WriteAll(fs + "/filler", std::string(row.filler, 'x'));
                expected.push_back("filler");
            }
            const std::string file = fs + "/data.txt";
            FileTesting::WriteAll(file, row.content);
            const ino_t inode = FileTesting::StatOf(file).st_ino;
            FaultPlan plan;
            plan.TemporaryDirectory = root + "/tmp";
            ScopedFaults faults(plan);
            RegularExpression re;
            Configure(re, file, row.format, row.extension);
            const unsigned changes = re.ChangeFiles();
            const auto problems = ProblemsOf(re);
            Verdict v{note};
            if (row.replaced) {
                v.Expect(changes == 4096 && problems.empty(), Describe(problems));
                v.Expect(FileTesting::ReadAll(file) == Replaced(row.content, row.format), "not completely rewritten");
                v.Expect(FileTesting::StatOf(file).st_ino == inode, "the file lost its identity");
            } else {
                v.Expect(changes == 0, "changes " + std::to_string(changes));
                v.Expect(problems.size() == 1, Describe(problems));
                if (problems.size() == 1) {
                    v.Expect(problems[0].Reason == row.reason, Describe(problems));
                    v.Expect(problems[0].SystemError == ENOSPC, Describe(problems));
                }
                v.Expect(FileTesting::ReadAll(file) == row.content, "the file changed");
            }
            const auto extra = Hardening::Leftovers(fs, expected);
            v.Expect(extra.empty(), "left on the file system: " + Hardening::Join(extra));
            const auto temporary = Hardening::Leftovers(root + "/tmp", {});
            v.Expect(temporary.empty(), "left in the temporary directory: " + Hardening::Join(temporary));
            return v.Code();
        });
        if (outcome.Exited && outcome.Code == Hardening::Unavailable)
            GTEST_SKIP() << "no small file system can be made here: " << outcome.Note;
        EXPECT_TRUE(outcome.Succeeded()) << row.label << ": " << outcome.Describe();
    }
}

// ---- The file changed between the walk and the rewrite ------------------------------------

struct ChangedRow {
    const char* label;
    // Applied to a.txt (which reads "foo foo foo\n") at its last match.
    std::function<void(const std::string& file)> change;
    int reason;          // -1: no problem
    unsigned error;
    unsigned position;
    // What a.txt must be afterwards: its content, or a kind of file.
    std::function<bool(const std::string& file)> after;
};

bool HasContent(const std::string& file, const std::string& content)
{
    struct stat st;
    return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && FileTesting::ReadAll(file) == content;
}

TEST(ChangeFilesFaults, FileChangedBetweenTheWalkAndTheRewrite)
{
    const ChangedRow rows[] = {
        {"cut short before the last match", [](const std::string& f) { ::truncate(f.c_str(), 6); },
         RegularExpression::ReadFailed, 0, 6, [](const std::string& f) { return HasContent(f, "foo fo"); }},
        {"emptied", [](const std::string& f) { ::truncate(f.c_str(), 0); }, RegularExpression::ReadFailed, 0, 0,
         [](const std::string& f) { return HasContent(f, ""); }},
        {"a match overwritten in place",
         [](const std::string& f) {
             const int fd = ::open(f.c_str(), O_WRONLY);
             (void)!::pwrite(fd, "fox", 3, 4);
             ::close(fd);
         },
         RegularExpression::TextChanged, 0, 4, [](const std::string& f) { return HasContent(f, "foo fox foo\n"); }},
        {"grown at the end: the plan is stale, the file stays as it is now",
         [](const std::string& f) {
             std::ofstream out(f, std::ios::app);
             out << "tail foo";
         },
         RegularExpression::TextChanged, 0, 0,
         [](const std::string& f) { return HasContent(f, "foo foo foo\ntail foo"); }},
        {"foo became foox around a match",
         [](const std::string& f) {
             const int fd = ::open(f.c_str(), O_WRONLY);
             (void)!::pwrite(fd, "x\n", 2, 11);
             ::close(fd);
         },
         RegularExpression::TextChanged, 0, 0, [](const std::string& f) { return HasContent(f, "foo foo foox\n"); }},
        {"deleted", [](const std::string& f) { ::unlink(f.c_str()); }, RegularExpression::OpenFailed, ENOENT, 0,
         [](const std::string& f) { return !FileTesting::Exists(f); }},
        {"replaced by a directory",
         [](const std::string& f) {
             ::unlink(f.c_str());
             ::mkdir(f.c_str(), 0755);
         },
         RegularExpression::OpenFailed, EISDIR, 0,
         [](const std::string& f) { return S_ISDIR(FileTesting::LstatOf(f).st_mode); }},
        {"replaced by a named pipe",
         [](const std::string& f) {
             ::unlink(f.c_str());
             ::mkfifo(f.c_str(), 0644);
         },
         RegularExpression::OpenFailed, EINVAL, 0,
         [](const std::string& f) { return S_ISFIFO(FileTesting::LstatOf(f).st_mode); }},
    };
    for (const ChangedRow& row : rows) {
        Tree tree;
        tree.Directory("tmp");
        const std::string root = FileTesting::RealPathOf(tree.Root());
        const std::string file = tree.Write("a.txt", "foo foo foo\n");
        tree.Write("b.txt", "foo");
        // In a child, so that a rewrite that blocks is caught by the watchdog.
        const ChildOutcome outcome = RunInChild(
            [&](std::string& note) {
                FaultPlan plan;
                plan.TemporaryDirectory = root + "/tmp";
                ScopedFaults faults(plan);
                RegularExpression re;
                Configure(re, tree.Path("*.txt"), "bar", "bak");
                int events = 0;
                struct Handler {
                    std::function<void(const std::string&)> on;
                    void OnMatch(RegularExpression*, std::string f, const RegexClass::REMatchInfo&, unsigned, bool&)
                    {
                        on(f);
                    }
                } handler{[&](const std::string& f) {
                    if (f == file && ++events == 3)
                        row.change(file);
                }};
                re.SetOnChangingFilesClosure(RegexClass::Bind(&handler, &Handler::OnMatch));
                const unsigned changes = re.ChangeFiles();
                const auto problems = ProblemsOf(re);
                Verdict v{note};
                v.Expect(changes == (row.reason < 0 ? 4u : 1u), "changes " + std::to_string(changes));
                if (row.reason < 0) {
                    v.Expect(problems.empty(), Describe(problems));
                } else {
                    v.Expect(problems.size() == 1, Describe(problems));
                    if (problems.size() == 1) {
                        v.Expect(problems[0].Reason == row.reason && problems[0].FileName == file &&
                                     problems[0].SystemError == row.error && problems[0].FilePosition == row.position,
                                 Describe(problems));
                        const bool matchChanged = row.reason == RegularExpression::TextChanged && row.position != 0;
                        v.Expect(problems[0].Text == (matchChanged ? "foo" : ""),
                                 "text " + problems[0].Text);
                    }
                }
                return v.Code();
            },
            60);
        EXPECT_TRUE(outcome.Succeeded()) << row.label << ": " << outcome.Describe();
        EXPECT_TRUE(row.after(file)) << row.label;
        EXPECT_EQ(tree.Read("b.txt"), "bar") << row.label << ": the walk went on";
        EXPECT_EQ(tree.Read("b.bak"), "foo") << row.label;
        const bool replaced = row.reason < 0;
        std::vector<std::string> expected = {"b.bak", "b.txt", "tmp"};
        if (FileTesting::Exists(file))
            expected.push_back("a.txt");
        if (replaced)
            expected.push_back("a.bak");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(tree.List(), expected) << row.label << ": no temporary file, no backup of an unchanged file";
        EXPECT_TRUE(tree.List("tmp").empty()) << row.label;
        if (replaced) {
            EXPECT_EQ(tree.Read("a.bak"), "foo foo foo\ntail foo") << row.label;
        }
    }
}

// ---- Permissions --------------------------------------------------------------------------

struct PermissionRow {
    const char* label;
    mode_t directory;        // mode of the file's directory (owned by root)
    mode_t temporary;        // mode of the system's temporary directory (owned by root)
    const char* extension;
    int reason;              // -1: rewritten in place
    const char* problemName; // relative to the root; a trailing '*' compares a prefix
};

TEST(ChangeFilesFaults, DirectoryTheUserMayNotWrite)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the files to another user";
    const PermissionRow rows[] = {
        {"no undo copy can be made beside it: not copied back", 0555, 0777, "", RegularExpression::ReplaceFailed,
         "ro/data.txt"},
        {"no undo copy and no backup can be made there", 0555, 0777, "bak", RegularExpression::ReplaceFailed,
         "ro/data.txt"},
        {"no temporary file anywhere", 0555, 0555, "", RegularExpression::CreateTemporaryFailed, "tmp/.data.txt.*"},
    };
    for (const PermissionRow& row : rows) {
        Tree tree;
        const std::string root = FileTesting::RealPathOf(tree.Root());
        ::chmod(root.c_str(), 0755);
        tree.Directory("ro");
        tree.Directory("tmp");
        const std::string file = tree.Write("ro/data.txt", "the foo and the foo\n");
        ::chmod(file.c_str(), 0666);
        ::chmod(tree.Path("ro").c_str(), row.directory);
        ::chmod(tree.Path("tmp").c_str(), row.temporary);
        const ino_t inode = FileTesting::StatOf(file).st_ino;
        const ChildOutcome outcome = RunInChild([&](std::string& note) {
            if (!Hardening::BecomeNobody())
                return Hardening::Unavailable;
            FaultPlan plan;
            plan.TemporaryDirectory = root + "/tmp";
            ScopedFaults faults(plan);
            RegularExpression re;
            Configure(re, file, "bar", row.extension);
            const unsigned changes = re.ChangeFiles();
            const auto problems = ProblemsOf(re);
            Verdict v{note};
            if (row.reason < 0) {
                v.Expect(changes == 2 && problems.empty(), Describe(problems));
                return v.Code();
            }
            v.Expect(changes == 0, "changes " + std::to_string(changes));
            v.Expect(problems.size() == 1, Describe(problems));
            if (problems.size() == 1) {
                std::string name = root + "/" + row.problemName;
                const bool prefix = name.back() == '*';
                if (prefix)
                    name.pop_back();
                v.Expect(problems[0].Reason == row.reason && problems[0].SystemError == EACCES &&
                             (prefix ? StartsWith(problems[0].FileName, name) : problems[0].FileName == name),
                         Describe(problems));
            }
            return v.Code();
        });
        ASSERT_NE(outcome.Code, Hardening::Unavailable) << "cannot become nobody";
        EXPECT_TRUE(outcome.Succeeded()) << row.label << ": " << outcome.Describe();
        EXPECT_EQ(tree.Read("ro/data.txt"), row.reason < 0 ? "the bar and the bar\n" : "the foo and the foo\n")
            << row.label;
        EXPECT_EQ(FileTesting::StatOf(file).st_ino, inode) << row.label;
        EXPECT_EQ(tree.List("ro"), std::vector<std::string>{"data.txt"}) << row.label;
        EXPECT_TRUE(tree.List("tmp").empty()) << row.label;
    }
}

TEST(ChangeFilesFaults, BackupThatCannotBeReplaced)
{
    // A directory in the way: not even root may replace it by a file.
    {
        Tree tree;
        tree.Directory("tmp");
        const std::string root = FileTesting::RealPathOf(tree.Root());
        const std::string file = tree.Write("data.txt", "foo");
        tree.Directory("data.bak");
        tree.Write("data.bak/inside", "kept");
        FaultPlan plan;
        plan.TemporaryDirectory = root + "/tmp";
        RegularExpression re;
        Configure(re, file, "bar", "bak");
        {
            ScopedFaults faults(plan);
            EXPECT_EQ(re.ChangeFiles(), 0u);
        }
        const auto problems = ProblemsOf(re);
        ASSERT_EQ(problems.size(), 1u) << Describe(problems);
        EXPECT_EQ(problems[0].Reason, RegularExpression::BackupFailed);
        EXPECT_EQ(problems[0].FileName, tree.Path("data.bak"));
        EXPECT_NE(problems[0].SystemError, 0u);
        EXPECT_EQ(tree.Read("data.txt"), "foo");
        EXPECT_EQ(tree.Read("data.bak/inside"), "kept");
        EXPECT_EQ(tree.List(), (std::vector<std::string>{"data.bak", "data.txt", "tmp"}));
        EXPECT_TRUE(tree.List("tmp").empty());
    }
    // Another user's backup in a shared directory with the sticky bit.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand the files to another user";
    Tree tree;
    const std::string root = FileTesting::RealPathOf(tree.Root());
    ::chmod(root.c_str(), 0755);
    tree.Directory("shared");
    tree.Directory("tmp");
    ::chmod(tree.Path("tmp").c_str(), 0777);
    const std::string file = tree.Write("shared/data.txt", "foo");
    ::chown(file.c_str(), Hardening::NobodyUser, Hardening::NobodyGroup);
    tree.Write("shared/data.bak", "an older backup");
    ::chmod(tree.Path("shared").c_str(), 01777);
    const ChildOutcome outcome = RunInChild([&](std::string& note) {
        if (!Hardening::BecomeNobody())
            return Hardening::Unavailable;
        FaultPlan plan;
        plan.TemporaryDirectory = root + "/tmp";
        ScopedFaults faults(plan);
        RegularExpression re;
        Configure(re, file, "bar", "bak");
        const unsigned changes = re.ChangeFiles();
        const auto problems = ProblemsOf(re);
        Verdict v{note};
        v.Expect(changes == 0 && problems.size() == 1, Describe(problems));
        if (problems.size() == 1)
            v.Expect(problems[0].Reason == RegularExpression::BackupFailed &&
                         problems[0].FileName == root + "/shared/data.bak" && problems[0].SystemError != 0,
                     Describe(problems));
        return v.Code();
    });
    ASSERT_NE(outcome.Code, Hardening::Unavailable) << "cannot become nobody";
    EXPECT_TRUE(outcome.Succeeded()) << outcome.Describe();
    EXPECT_EQ(tree.Read("shared/data.txt"), "foo");
    EXPECT_EQ(tree.Read("shared/data.bak"), "an older backup");
    EXPECT_EQ(tree.List("shared"), (std::vector<std::string>{"data.bak", "data.txt"}));
    EXPECT_TRUE(tree.List("tmp").empty());
}

// ---- Killed during a large rewrite -----------------------------------------------------------

// Rewrites big.txt in a child and kills the child at random moments: the file
// must always be exactly the old or exactly the new content, a backup (when
// one exists) exactly the old content, and at most one stray temporary file
// beside it may be left (which the test removes and counts).
TEST(ChangeFilesFaults, KilledAtRandomPointsTheFileIsOldOrNewNeverMixed)
{
    Tree tree;
    const std::string line = Repeat("x", 4000) + " foo\n";
    const std::string old = Repeat(line, 2048);  // about 8 MB, 2048 matches
    const std::string fresh = Replaced(old, "quux");
    const std::string file = tree.Path("big.txt");

    const auto rewrite = [&](bool backup) {
        return [&, backup](std::string&) {
            RegularExpression re;
            Configure(re, file, "quux", backup ? "bak" : "");
            return re.ChangeFiles() == 2048 ? 0 : 1;
        };
    };
    // One undisturbed run tells how long a rewrite takes here.
    FileTesting::WriteAll(file, old);
    const auto start = std::chrono::steady_clock::now();
    const ChildOutcome whole = RunInChild(rewrite(true));
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(whole.Succeeded()) << whole.Describe();
    ASSERT_EQ(tree.Read("big.txt"), fresh);
    ASSERT_EQ(tree.Read("big.bak"), old);
    const long span = std::max<long>(1, std::chrono::duration_cast<std::chrono::microseconds>(took).count());

    std::mt19937 random(20240611u);
    int oldSeen = 0, newSeen = 0, strays = 0;
    for (int round = 0; round < 12; ++round) {
        const bool backup = round % 2 == 0;
        FileTesting::WriteAll(file, old);
        ::unlink(tree.Path("big.bak").c_str());
        const long delay = std::uniform_int_distribution<long>(0, span)(random);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string note;
            ::_exit(rewrite(backup)(note));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        const std::string now = tree.Read("big.txt");
        ASSERT_TRUE(now == old || now == fresh) << "round " << round << ": a mixed file of " << now.size()
                                                << " bytes after a kill " << delay << " us in";
        ++(now == old ? oldSeen : newSeen);
        if (FileTesting::Exists(tree.Path("big.bak"))) {
            EXPECT_EQ(tree.Read("big.bak"), old) << "round " << round << ": a partial backup";
        }
        // At most the one temporary file of each file being written when the
        // kill came: the new content, and with backups the backup's copy.
        const auto extra = Hardening::Leftovers(tree.Root(), {"big.txt", "big.bak"});
        int content = 0, copies = 0;
        for (const std::string& name : extra) {
            if (StartsWith(name, ".big.txt."))
                ++content;
            else if (backup && StartsWith(name, ".big.bak."))
                ++copies;
            else
                ADD_FAILURE() << "round " << round << ": unexpected " << name;
            ::unlink(tree.Path(name).c_str());
            ++strays;
        }
        EXPECT_LE(content, 1) << "round " << round << ": " << Hardening::Join(extra);
        EXPECT_LE(copies, 1) << "round " << round << ": " << Hardening::Join(extra);
    }
    std::cout << "[ killed  ] 12 rounds: " << oldSeen << " old, " << newSeen << " new, " << strays
              << " stray temporary files left by the kill" << std::endl;
    RecordProperty("stray_temporary_files", strays);
}

// ---- Two runs at once, and a kill during a copy back --------------------------------------

// Slows every write to a rewrite's temporary file, so that a run is caught in
// the middle of one.
ssize_t SlowWorkWrite(int fd, const void* buffer, size_t size)
{
    if (FileTesting::PathOfDescriptor(fd).find(".quorvex-") != std::string::npos)
        ::usleep(100000);
    return RegexPlatform::DefaultCalls().Write(fd, buffer, std::min<size_t>(size, 1 << 20));
}

pid_t StartRun(const std::string& files, const std::string& format, bool slow, const std::string& report)
{
    const pid_t child = ::fork();
    if (child != 0)
        return child;
    if (slow)
        RegexPlatform::Calls().Write = SlowWorkWrite;
    RegularExpression re;
    Configure(re, files, format);
    re.SetDirectoryRecursion(true);
    const unsigned changes = re.ChangeFiles();
    FileTesting::WriteAll(report, std::to_string(changes) + " " + Describe(ProblemsOf(re)));
    ::_exit(0);
}

// True when the file system under `directory` grants this process write leases.
bool LeasesWork(const std::string& directory)
{
    const std::string probe = directory + "/.lease-probe";
    FileTesting::WriteAll(probe, "x");
    const int fd = ::open(probe.c_str(), O_RDWR);
    const bool ok = fd >= 0 && ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    if (fd >= 0)
        ::close(fd);
    ::unlink(probe.c_str());
    return ok;
}

TEST(ChangeFilesFaults, TwoRunsOnOneTreeNeverFeedOnEachOther)
{
    Tree tree;
    const std::string root = FileTesting::RealPathOf(tree.Root());
    const std::string old = Repeat(Repeat("x", 100) + " foo\n", 200000);  // about 20 MB
    const std::string file = tree.Write("big.txt", old);
    ::chmod(file.c_str(), 0644);
    const pid_t first = StartRun(file, "bar", true, tree.Path("../" + LastOf(root) + ".first"));
    // The second run starts once the first one's temporary file exists.
    bool seen = false;
    for (int i = 0; i < 2000 && !seen; ++i) {
        for (const std::string& name : tree.List())
            seen = seen || name.find(".quorvex-") != std::string::npos;
        if (!seen)
            ::usleep(5000);
    }
    ASSERT_TRUE(seen) << "the first run never wrote its temporary file";
    const pid_t second = StartRun(tree.Path("*"), "baz", false, tree.Path("../" + LastOf(root) + ".second"));
    int status = 0;
    ASSERT_EQ(::waitpid(first, &status, 0), first);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(::waitpid(second, &status, 0), second);
    EXPECT_EQ(status, 0);
    const std::string firstReport = FileTesting::ReadAll(root + ".first");
    const std::string secondReport = FileTesting::ReadAll(root + ".second");
    ::unlink((root + ".first").c_str());
    ::unlink((root + ".second").c_str());

    EXPECT_EQ(firstReport, "200000 no problem");
    if (LeasesWork(root)) {
        // The first run holds a write lease on big.txt: the second run's walk
        // waits for it to be released and then reads the first run's result,
        // which has nothing left to change.
        EXPECT_EQ(secondReport, "0 no problem");
    } else {
        // The second run read big.txt before the first replaced it: it waited
        // for the first run's lock and then found the file changed.
        EXPECT_EQ(secondReport, "0 [" + file + " reason 4 at 0 error 0]");
    }
    EXPECT_TRUE(tree.Read("big.txt") == Replaced(old, "bar")) << "big.txt is the first run's whole result";
    EXPECT_EQ(FileTesting::StatOf(file).st_mode & 07777, 0644u);
    EXPECT_EQ(tree.List(), std::vector<std::string>{"big.txt"});
}

// Kills the process at its first write into the file being changed in place,
// after the first block went in.
ssize_t KillMidOverwrite(int fd, const void* buffer, size_t size)
{
    static long written = 0;
    const std::string path = FileTesting::PathOfDescriptor(fd);
    if (path.size() >= 8 && path.compare(path.size() - 8, 8, "/big.txt") == 0) {
        if (written > 0)
            ::raise(SIGKILL);
        size = std::min<size_t>(size, 1 << 20);
        const ssize_t n = RegexPlatform::DefaultCalls().Write(fd, buffer, size);
        written += n;
        return n;
    }
    return RegexPlatform::DefaultCalls().Write(fd, buffer, size);
}

TEST(ChangeFilesFaults, KilledDuringACopyBackTheUndoCopyRestoresAndGuardsTheFile)
{
    Tree tree;
    const std::string root = FileTesting::RealPathOf(tree.Root());
    const std::string old = Repeat(Repeat("y", 60) + " foo\n", 100000);  // about 6 MB
    const std::string file = tree.Write("big.txt", old);
    ASSERT_EQ(::link(file.c_str(), tree.Path("other-name.txt").c_str()), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RegexPlatform::Calls().Write = KillMidOverwrite;
        RegularExpression re;
        Configure(re, file, "quux");
        re.ChangeFiles();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    const std::string undo = root + "/.big.txt.quorvex-undo";
    const std::string mixed = tree.Read("big.txt");
    EXPECT_NE(mixed, old) << "killed in the middle of the overwrite";
    EXPECT_NE(mixed, Replaced(old, "quux"));
    ASSERT_TRUE(FileTesting::Exists(undo));
    EXPECT_TRUE(FileTesting::ReadAll(undo) == old) << "the undo copy holds the whole old content";

    // A later run leaves the file alone and names the undo copy.
    RegularExpression again;
    Configure(again, tree.Path("*.txt"), "quux");
    EXPECT_EQ(again.ChangeFiles(), 0u);
    const auto problems = ProblemsOf(again);
    ASSERT_EQ(problems.size(), 2u) << Describe(problems);
    EXPECT_EQ(problems[0].Reason, RegularExpression::ReplaceFailed);
    EXPECT_EQ(problems[0].FileName, file);
    EXPECT_EQ(problems[0].Text, undo);
    EXPECT_EQ(problems[1].FileName, tree.Path("other-name.txt")) << "nor under its other name";
    EXPECT_EQ(problems[1].Text, undo);
    EXPECT_EQ(problems[0].SystemError, unsigned(EEXIST));
    EXPECT_TRUE(tree.Read("big.txt") == mixed);

    // Restored as the manual page says: copied over the file, then removed.
    FileTesting::WriteAll(file, FileTesting::ReadAll(undo));
    ::unlink(undo.c_str());
    EXPECT_TRUE(tree.Read("other-name.txt") == old) << "both names hold the old content again";
    EXPECT_EQ(again.ChangeFiles(), 100000u) << "the second name has nothing left to change";
    EXPECT_TRUE(tree.Read("other-name.txt") == Replaced(old, "quux"));
    EXPECT_EQ(Hardening::Leftovers(tree.Root(), {"big.txt", "other-name.txt"}).size(), 1u)
        << "only the killed run's temporary file: " << Hardening::Join(Hardening::Leftovers(tree.Root(), {}));
}

}  // namespace

// The platform layer on real files and threads, with failures driven through
// the system-call table.
#include "Platform.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>

#include "../files/Faults.h"
#include "Filetesting.h"

namespace P = RegexPlatform;
using FileTesting::FaultPlan;
using FileTesting::ScopedFaults;
using FileTesting::Tree;

namespace {

// ---- Thread-local slots ---------------------------------------------------

TEST(PlatformSlots, EachThreadSeesOnlyItsOwnValue)
{
    const P::SlotIndex slot = P::AllocateSlot();
    ASSERT_NE(slot, P::NoSlot);
    int mine = 0;
    int theirs = 0;
    ASSERT_TRUE(P::SetSlotValue(slot, &mine));
    void* seenByOther = &mine;
    void* afterOtherSet = nullptr;
    std::thread other([&] {
        seenByOther = P::GetSlotValue(slot);
        P::SetSlotValue(slot, &theirs);
        afterOtherSet = P::GetSlotValue(slot);
    });
    other.join();
    EXPECT_EQ(seenByOther, nullptr);
    EXPECT_EQ(afterOtherSet, &theirs);
    EXPECT_EQ(P::GetSlotValue(slot), &mine);
    P::SetSlotValue(slot, nullptr);
    P::FreeSlot(slot);
}

std::atomic<int> released{0};

TEST(PlatformSlots, ValueLeftAtThreadExitIsReleased)
{
    released = 0;
    const P::SlotIndex slot = P::AllocateSlot([](void* value) { released += *static_cast<int*>(value); });
    ASSERT_NE(slot, P::NoSlot);
    int seven = 7;
    std::thread([&] { P::SetSlotValue(slot, &seven); }).join();
    std::thread([&] {}).join();  // a thread that stored nothing releases nothing
    EXPECT_EQ(released.load(), 7);
    P::FreeSlot(slot);
}

TEST(PlatformSlots, NoSlotReadsNullAndRefusesValues)
{
    int value = 0;
    EXPECT_EQ(P::GetSlotValue(P::NoSlot), nullptr);
    EXPECT_FALSE(P::SetSlotValue(P::NoSlot, &value));
    P::FreeSlot(P::NoSlot);  // ignored
}

TEST(PlatformSlots, FailedAllocationGivesNoSlotAndTheError)
{
    FaultPlan plan;
    plan.KeyCreateError = EAGAIN;
    ScopedFaults faults(plan);
    EXPECT_EQ(P::AllocateSlot(), P::NoSlot);
    EXPECT_EQ(P::LastError(), unsigned(EAGAIN));
}

// ---- Files ------------------------------------------------------------------

TEST(PlatformFiles, WriteSeekTellAndReadBack)
{
    Tree tree;
    const std::string name = tree.Path("data");
    P::FileHandle out = P::CreateExclusive(name.c_str());
    ASSERT_NE(out, nullptr);
    std::size_t done = 0;
    ASSERT_TRUE(P::WriteFile(out, "0123456789abcdef", 16, done));
    EXPECT_EQ(done, 16u);
    std::uint64_t position = 0;
    ASSERT_TRUE(P::TellFile(out, position));
    EXPECT_EQ(position, 16u);
    ASSERT_TRUE(P::CloseFile(out));
    EXPECT_EQ(FileTesting::StatOf(name).st_mode & 0777, 0600u);

    P::FileHandle in = P::OpenForReading(name.c_str());
    ASSERT_NE(in, nullptr);
    ASSERT_TRUE(P::SeekFile(in, 10, P::SeekOrigin::Begin, position));
    EXPECT_EQ(position, 10u);
    char buffer[32] = {};
    ASSERT_TRUE(P::ReadFile(in, buffer, sizeof buffer, done));
    EXPECT_EQ(std::string(buffer, done), "abcdef");
    ASSERT_TRUE(P::ReadFile(in, buffer, sizeof buffer, done));
    EXPECT_EQ(done, 0u) << "end of file reads 0 bytes";
    ASSERT_TRUE(P::SeekFile(in, -4, P::SeekOrigin::End, position));
    EXPECT_EQ(position, 12u);
    ASSERT_TRUE(P::SeekFile(in, 1, P::SeekOrigin::Current, position));
    EXPECT_EQ(position, 13u);
    P::CloseFile(in);
}

TEST(PlatformFiles, OpenAndCreateFailuresLeaveTheErrorCode)
{
    Tree tree;
    const std::string missing = tree.Path("missing");
    EXPECT_EQ(P::OpenForReading(missing.c_str()), nullptr);
    EXPECT_EQ(P::LastError(), unsigned(ENOENT));
    const std::string taken = tree.Write("taken", "x");
    EXPECT_EQ(P::CreateExclusive(taken.c_str()), nullptr);
    EXPECT_EQ(P::LastError(), unsigned(EEXIST));
    EXPECT_EQ(tree.Read("taken"), "x");
}

TEST(PlatformFiles, WriteFailureReportsBytesDoneAndError)
{
    Tree tree;
    const std::string name = tree.Path("out");
    P::FileHandle out = P::CreateExclusive(name.c_str());
    ASSERT_NE(out, nullptr);
    FaultPlan plan;
    plan.WritePath = FileTesting::RealPathOf(name);
    plan.WriteError = ENOSPC;
    plan.WriteAllowance = 5;
    std::size_t done = 0;
    {
        ScopedFaults faults(plan);
        EXPECT_FALSE(P::WriteFile(out, "0123456789", 10, done));
        EXPECT_EQ(P::LastError(), unsigned(ENOSPC));
    }
    EXPECT_EQ(done, 5u);
    P::CloseFile(out);
    EXPECT_EQ(tree.Read("out"), "01234");
}

// ---- Whole-file copies ------------------------------------------------------------

TEST(PlatformCopy, ReplacesTargetWithContentAndPermissions)
{
    Tree tree;
    const std::string from = tree.Write("from", std::string("new\0content", 11));
    ::chmod(from.c_str(), 0640);
    const std::string to = tree.Write("to", "an older and longer content");
    ASSERT_TRUE(P::CopyFileReplacing(from.c_str(), to.c_str()));
    EXPECT_EQ(tree.Read("to"), std::string("new\0content", 11));
    EXPECT_EQ(FileTesting::StatOf(to).st_mode & 07777, 0640u);
    EXPECT_EQ(tree.List(), (std::vector<std::string>{"from", "to"})) << "no temporary file left";
}

TEST(PlatformCopy, SymbolicLinkAtTargetIsReplacedNotFollowed)
{
    Tree tree;
    const std::string from = tree.Write("from", "copy");
    const std::string elsewhere = tree.Write("elsewhere", "keep me");
    const std::string to = tree.Path("to");
    ASSERT_EQ(::symlink(elsewhere.c_str(), to.c_str()), 0);
    ASSERT_TRUE(P::CopyFileReplacing(from.c_str(), to.c_str()));
    EXPECT_TRUE(S_ISREG(FileTesting::LstatOf(to).st_mode));
    EXPECT_EQ(tree.Read("to"), "copy");
    EXPECT_EQ(tree.Read("elsewhere"), "keep me");
}

TEST(PlatformCopy, FailedWriteKeepsTheOldTargetAndLeavesNoTemporary)
{
    Tree tree;
    const std::string from = tree.Write("from", std::string(100000, 'n'));
    const std::string to = tree.Write("to", "old");
    FaultPlan plan;
    plan.WritePath = FileTesting::RealPathOf(tree.Root()) + "/.to.";
    plan.WriteError = ENOSPC;
    plan.WriteAllowance = 1000;
    {
        ScopedFaults faults(plan);
        EXPECT_FALSE(P::CopyFileReplacing(from.c_str(), to.c_str()));
        EXPECT_EQ(P::LastError(), unsigned(ENOSPC));
    }
    EXPECT_EQ(tree.Read("to"), "old");
    EXPECT_EQ(tree.List(), (std::vector<std::string>{"from", "to"}));
}

// Where no temporary file can be made beside the target, the copy goes into
// the target itself: onto another file it succeeds, onto its own source it is
// refused and the file is kept.
TEST(PlatformCopy, WithoutATemporaryBesideItTheTargetIsWrittenInPlaceButNeverOntoItself)
{
    struct Row {
        const char* label;
        const char* target;
        bool copied;
    };
    const Row rows[] = {
        {"another file", "to", true},
        {"the source itself", "from", false},
    };
    for (const Row& row : rows) {
        Tree tree;
        const std::string from = tree.Write("from", "short");
        const std::string to = row.target == std::string("from") ? from : tree.Write(row.target, "much longer old text");
        FaultPlan plan;
        plan.TemporaryPath = tree.Root();
        plan.TemporaryError = EACCES;
        ScopedFaults faults(plan);
        EXPECT_EQ(P::CopyFileReplacing(from.c_str(), to.c_str()), row.copied) << row.label;
        EXPECT_EQ(tree.Read(row.target), "short") << row.label;
    }
}

TEST(PlatformCopy, MissingSourceFails)
{
    Tree tree;
    const std::string to = tree.Write("to", "old");
    EXPECT_FALSE(P::CopyFileReplacing(tree.Path("missing").c_str(), to.c_str()));
    EXPECT_EQ(P::LastError(), unsigned(ENOENT));
    EXPECT_EQ(tree.Read("to"), "old");
}

// ---- Attributes -------------------------------------------------------------------

TEST(PlatformAttributes, ReadOnlyMeansTheOwnerMayNotWrite)
{
    Tree tree;
    struct Row {
        const char* name;
        mode_t mode;
        std::uint32_t expected;
    };
    const Row rows[] = {
        {"plain", 0644, P::AttributeNormal},
        {"locked", 0444, P::AttributeReadOnly},
        {"others-only", 0466, P::AttributeReadOnly},
        {"owner-only", 0200, P::AttributeNormal},
        {".hidden", 0644, P::AttributeHidden},
        {".both", 0400, P::AttributeHidden | P::AttributeReadOnly},
    };
    for (const Row& row : rows) {
        const std::string name = tree.Write(row.name, "x");
        ::chmod(name.c_str(), row.mode);
        EXPECT_EQ(P::GetAttributes(name.c_str()), row.expected) << row.name;
    }
    EXPECT_EQ(P::GetAttributes(tree.Directory("dir").c_str()), P::AttributeDirectory);
    EXPECT_EQ(P::GetAttributes(tree.Path("missing").c_str()), P::InvalidAttributes);
}

TEST(PlatformAttributes, SetTogglesTheWritePermission)
{
    Tree tree;
    const std::string name = tree.Write("file", "x");
    ::chmod(name.c_str(), 0664);
    ASSERT_TRUE(P::SetAttributes(name.c_str(), P::AttributeReadOnly));
    EXPECT_EQ(FileTesting::StatOf(name).st_mode & 0777, 0444u);
    ASSERT_TRUE(P::SetAttributes(name.c_str(), P::AttributeNormal));
    EXPECT_EQ(FileTesting::StatOf(name).st_mode & 0777, 0644u);
    EXPECT_FALSE(P::SetAttributes(tree.Path("missing").c_str(), P::AttributeNormal));
    EXPECT_FALSE(P::SetAttributes(name.c_str(), P::InvalidAttributes));
}

// ---- Rewrite support ------------------------------------------------------------------

TEST(PlatformRewrite, TemporaryFilesAreNewPrivateAndUnpredictable)
{
    Tree tree;
    std::string first;
    std::string second;
    P::FileHandle a = P::CreateTemporaryIn(tree.Root(), ".stem.", first);
    P::FileHandle b = P::CreateTemporaryIn(tree.Root() + "/", ".stem.", second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(tree.Root() + "/.stem.", 0), 0u) << first;
    EXPECT_EQ(second.rfind(tree.Root() + "/.stem.", 0), 0u) << second;
    EXPECT_EQ(FileTesting::StatOf(first).st_mode & 0777, 0600u);
    // Opened for reading and writing.
    std::size_t done = 0;
    std::uint64_t position = 0;
    ASSERT_TRUE(P::WriteFile(a, "abc", 3, done));
    ASSERT_TRUE(P::SeekFile(a, 0, P::SeekOrigin::Begin, position));
    char buffer[4] = {};
    ASSERT_TRUE(P::ReadFile(a, buffer, 3, done));
    EXPECT_STREQ(buffer, "abc");
    P::CloseFile(a);
    P::CloseFile(b);
}

TEST(PlatformRewrite, FailedTemporaryReportsTheNameTried)
{
    std::string name;
    EXPECT_EQ(P::CreateTemporaryIn("/nonexistent-directory", "x.", name), nullptr);
    EXPECT_EQ(P::LastError(), unsigned(ENOENT));
    EXPECT_EQ(name.rfind("/nonexistent-directory/x.", 0), 0u) << name;
}

TEST(PlatformRewrite, QueryCopyPermissionsAndLinks)
{
    Tree tree;
    const std::string original = tree.Write("original", "12345");
    ::chmod(original.c_str(), 02751);
    ASSERT_EQ(::link(original.c_str(), tree.Path("second-name").c_str()), 0);
    P::FileHandle in = P::OpenForReading(original.c_str());
    ASSERT_NE(in, nullptr);
    P::FileInformation information;
    ASSERT_TRUE(P::QueryFile(in, information));
    EXPECT_EQ(information.Links, 2u);
    EXPECT_EQ(information.Size, 5u);
    EXPECT_EQ(information.Permissions, 02751u);
    P::CloseFile(in);

    std::string temporary;
    P::FileHandle out = P::CreateTemporaryIn(tree.Root(), "t.", temporary);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(P::CopyPermissions(out, information));
    P::CloseFile(out);
    EXPECT_EQ(FileTesting::StatOf(temporary).st_mode & 07777, 02751u);
}

TEST(PlatformRewrite, ResolvePathFollowsLinksToTheFileItself)
{
    Tree tree;
    tree.Directory("real");
    const std::string target = tree.Write("real/target", "x");
    const std::string link = tree.Path("link");
    ASSERT_EQ(::symlink("real/target", link.c_str()), 0);
    std::string resolved;
    ASSERT_TRUE(P::ResolvePath(link.c_str(), resolved));
    EXPECT_EQ(resolved, FileTesting::RealPathOf(target));
    ASSERT_EQ(::symlink("nowhere", tree.Path("broken").c_str()), 0);
    EXPECT_FALSE(P::ResolvePath(tree.Path("broken").c_str(), resolved));
}

TEST(PlatformRewrite, TruncateAndReserve)
{
    Tree tree;
    const std::string name = tree.Write("file", "0123456789");
    P::FileHandle file = P::OpenForUpdate(name.c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(P::ReserveSpace(file, 1 << 20));
    EXPECT_EQ(FileTesting::StatOf(name).st_size, 10) << "reserving does not change the length";
    EXPECT_TRUE(P::TruncateFile(file, 4));
    P::CloseFile(file);
    EXPECT_EQ(tree.Read("file"), "0123") << "opening for update does not truncate";
}

TEST(PlatformRewrite, PathComponents)
{
    struct Row {
        const char* name;
        const char* directory;
        const char* last;
    };
    const Row rows[] = {
        {"notes.txt", ".", "notes.txt"},
        {"work/my.dir/README", "work/my.dir", "README"},
        {"/top", "/", "top"},
        {"a/b/", "a/b", ""},
        {"dir\\file", ".", "dir\\file"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(P::DirectoryOf(row.name), row.directory) << row.name;
        EXPECT_EQ(P::LastComponentOf(row.name), row.last) << row.name;
    }
}

// ---- File state, locks, named attributes -------------------------------------

TEST(PlatformState, AnyChangeToTheFileGivesAnotherState)
{
    Tree tree;
    const std::string name = tree.Write("file", "foo");
    tree.Write("other", "foo");
    P::FileState before;
    ASSERT_TRUE(P::QueryNameState(name.c_str(), before));
    P::FileHandle open = P::OpenForReading(name.c_str());
    P::FileState viaHandle;
    ASSERT_TRUE(P::QueryFileState(open, viaHandle));
    P::CloseFile(open);
    EXPECT_TRUE(P::SameState(before, viaHandle));

    const struct timespec later[2] = {{0, UTIME_OMIT}, {before.ModifiedSeconds, long(before.ModifiedNanoseconds ^ 1)}};
    struct Row {
        const char* label;
        std::function<void()> change;
        bool sameFile;
    };
    const Row rows[] = {
        {"a nanosecond later, same size", [&] { ::utimensat(AT_FDCWD, name.c_str(), later, 0); }, true},
        {"grown", [&] { FileTesting::WriteAll(name, "foox"); }, true},
        {"another file under the name", [&] { ::rename(tree.Path("other").c_str(), name.c_str()); }, false},
    };
    for (const Row& row : rows) {
        row.change();
        P::FileState after;
        ASSERT_TRUE(P::QueryNameState(name.c_str(), after)) << row.label;
        EXPECT_FALSE(P::SameState(before, after)) << row.label;
        EXPECT_EQ(P::SameFile(before, after), row.sameFile) << row.label;
        before = after;
    }
    P::FileState missing;
    EXPECT_FALSE(P::QueryNameState(tree.Path("missing").c_str(), missing));
    EXPECT_FALSE(P::SameState(missing, missing)) << "an unknown state equals nothing";
}

TEST(PlatformState, LockWaitsForTheHolderInAnotherProcess)
{
    Tree tree;
    const std::string name = tree.Write("file", "x");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        P::FileHandle held = P::OpenForReading(name.c_str());
        if (held == nullptr || !P::LockFile(held))
            ::_exit(1);
        (void)::write(ready[1], "L", 1);
        ::usleep(200000);
        FileTesting::WriteAll(tree.Path("released"), "");
        ::_exit(0);  // closing the file releases the lock
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    P::FileHandle mine = P::OpenForReading(name.c_str());
    ASSERT_TRUE(P::LockFile(mine));
    EXPECT_TRUE(FileTesting::Exists(tree.Path("released"))) << "the lock was given before the holder let go";
    P::CloseFile(mine);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

}  // namespace

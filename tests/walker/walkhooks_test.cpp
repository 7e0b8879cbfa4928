// The walk's per-file notifications, skipped-file reports, link rules and
// file filter, on one thread and with look-ahead threads.
#include <sys/mman.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Filewalker.h"
#include "RegEx.h"
#include "Systemcalls.h"
#include "Filetesting.h"

using RegexEngine::RegEx;

namespace {

std::vector<std::string> events;
std::function<RegEx::FileAnswer(const char*, const RegEx&)> onStage;

RegEx::FileAnswer Stage(const char* file, const RegEx& engine)
{
    const char* tag = engine.Stage() == RegEx::FileStage::Started    ? "S "
                      : engine.Stage() == RegEx::FileStage::Finished ? "F "
                                                                     : "X ";
    std::string event = tag + std::string(file);
    if (engine.Stage() == RegEx::FileStage::Started)
        event += " " + std::string(engine.FileData(), engine.FileSize());
    if (engine.Stage() == RegEx::FileStage::Skipped)
        event += " " + std::string(std::strerror(static_cast<int>(engine.FileError())));
    events.push_back(event);
    return onStage ? onStage(file, engine) : RegEx::FileAnswer::Go;
}

bool Match(const char* file, const RegEx&)
{
    events.push_back("M " + std::string(file));
    return true;
}

class WalkHooks : public ::testing::TestWithParam<unsigned> {
protected:
    void SetUp() override
    {
        tree.Write("a.txt", "x foo");
        tree.Write("b.txt", "none");
        tree.Write("sub/c.txt", "foo");
        engine.SetSearchThreads(GetParam());
        engine.SetExpression("foo", false);
        engine.SetFileCallback(Stage);
        events.clear();
    }
    void TearDown() override { onStage = nullptr; }
    std::vector<std::string> Walk()
    {
        engine.GrepFiles(Match, tree.Root() + "/*", true, 0);
        std::vector<std::string> out;
        for (const std::string& event : events)  // names relative to the tree
            out.push_back(event.substr(0, 2) + event.substr(2 + tree.Root().size() + 1));
        return out;
    }

    FileTesting::Tree tree;
    RegEx engine;
};

TEST_P(WalkHooks, EveryFileStartsAndFinishesAroundItsMatches)
{
    EXPECT_EQ(Walk(), (std::vector<std::string>{"S a.txt x foo", "M a.txt", "F a.txt", "S b.txt none", "F b.txt",
                                                "S sub/c.txt foo", "M sub/c.txt", "F sub/c.txt"}));
}

TEST_P(WalkHooks, AnswersSkipAFileOrStopTheWalk)
{
    onStage = [](const char* file, const RegEx& engine) {
        if (engine.Stage() != RegEx::FileStage::Started)
            return RegEx::FileAnswer::Go;
        const std::string name(file);
        return name.find("a.txt") != std::string::npos   ? RegEx::FileAnswer::SkipFile
               : name.find("b.txt") != std::string::npos ? RegEx::FileAnswer::Stop
                                                         : RegEx::FileAnswer::Go;
    };
    EXPECT_EQ(Walk(), (std::vector<std::string>{"S a.txt x foo", "S b.txt none"}));
}

TEST_P(WalkHooks, UnreadableDirectoryIsReportedInItsPlace)
{
    tree.Write("locked/x.txt", "foo");
    const RegexPlatform::SystemCalls saved = RegexPlatform::Calls();
    RegexPlatform::Calls().Open = [](const char* path, int flags, mode_t mode) {
        const std::string name(path);
        if (name.size() >= 7 && name.compare(name.size() - 7, 7, "/locked") == 0) {
            errno = EACCES;
            return -1;
        }
        return RegexPlatform::DefaultCalls().Open(path, flags, mode);
    };
    const std::vector<std::string> seen = Walk();
    RegexPlatform::Calls() = saved;
    EXPECT_EQ(seen, (std::vector<std::string>{"S a.txt x foo", "M a.txt", "F a.txt", "S b.txt none", "F b.txt",
                                              "X locked Permission denied", "S sub/c.txt foo", "M sub/c.txt",
                                              "F sub/c.txt"}));
}

// A file whose buffer cannot be had is skipped: reported to the file
// callback, left out without one; never an exception out of the walk.
TEST_P(WalkHooks, FileTooLargeForMemoryIsSkippedNeverThrown)
{
    tree.Write("b.txt", std::string(3 << 20, 'x'));  // large blocks are mapped
    const RegexPlatform::SystemCalls saved = RegexPlatform::Calls();
    RegexPlatform::Calls().Map = [](void*, size_t, int, int, int, off_t) {
        errno = ENOMEM;
        return MAP_FAILED;
    };
    const std::vector<std::string> seen = Walk();
    engine.SetFileCallback(nullptr);
    unsigned matches = 0;
    EXPECT_NO_THROW(matches = engine.GrepFiles(Match, tree.Root() + "/*", true, 0));
    EXPECT_EQ(matches, 2u) << "a.txt and sub/c.txt";
    RegexPlatform::Calls() = saved;
    EXPECT_EQ(seen, (std::vector<std::string>{"S a.txt x foo", "M a.txt", "F a.txt", "X b.txt Cannot allocate memory",
                                              "S sub/c.txt foo", "M sub/c.txt", "F sub/c.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Threads, WalkHooks, ::testing::Values(1u, 3u));

// Left to the engine, the thread count starts a walk on the caller's thread
// and hands the remaining files to look-ahead threads once searching is seen
// to cost more than reading: a slow match callback makes that happen after
// the first megabyte. The events are those of a walk on one thread.
TEST(WalkHooksHandOver, AutomaticThreadsGiveTheEventsOfOneThread)
{
    FileTesting::Tree tree;
    const std::string filler(300 * 1024, 'x');
    for (int i = 0; i < 8; ++i)
        tree.Write("f" + std::to_string(i) + ".txt", "foo " + filler + (i % 3 != 0 ? " foo\n" : "\n"));
    static bool slow = false;
    const auto walk = [&](unsigned threads, bool slowMatches) {
        RegEx engine;
        engine.SetSearchThreads(threads);
        engine.SetExpression("foo", false);
        engine.SetFileCallback([](const char* file, const RegEx& e) {
            events.push_back((e.Stage() == RegEx::FileStage::Started ? "S " : "F ") + std::string(file) + " " +
                             std::to_string(e.FileSize()));
            return RegEx::FileAnswer::Go;
        });
        slow = slowMatches;
        events.clear();
        engine.GrepFiles(
            [](const char* file, const RegEx& e) {
                if (slow)
                    std::this_thread::sleep_for(std::chrono::milliseconds(3));
                events.push_back("M " + std::string(file) + " " + std::to_string(e.Position(0)));
                return true;
            },
            tree.Root() + "/*.txt", false, 0);
        return events;
    };
    const std::vector<std::string> one = walk(1, false);
    EXPECT_EQ(one.size(), 8u * 2 + 8 + 5);
    EXPECT_EQ(walk(0, true), one);
}

// Files that vanish or become directories after the listing are reported
// (one thread: the look-ahead may read them before the change).
TEST(WalkHooksInline, VanishedAndReplacedFilesAreReported)
{
    FileTesting::Tree tree;
    tree.Write("a.txt", "foo");
    tree.Write("b.txt", "foo");
    tree.Write("c.txt", "foo");
    RegEx engine;
    engine.SetSearchThreads(1);
    engine.SetExpression("foo", false);
    engine.SetFileCallback(Stage);
    static std::string root;
    root = tree.Root();
    onStage = [](const char* file, const RegEx& engine) {
        if (engine.Stage() == RegEx::FileStage::Started && std::string(file) == root + "/a.txt") {
            ::unlink((root + "/b.txt").c_str());
            ::unlink((root + "/c.txt").c_str());
            ::mkdir((root + "/c.txt").c_str(), 0755);
        }
        return RegEx::FileAnswer::Go;
    };
    events.clear();
    engine.GrepFiles(Match, root + "/*.txt", false, 0);
    onStage = nullptr;
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[3], "X " + root + "/b.txt No such file or directory");
    EXPECT_EQ(events[4], "X " + root + "/c.txt Is a directory");
}

std::vector<std::string> Relative(const FileTesting::Tree& tree, const std::vector<std::string>& names)
{
    std::vector<std::string> out;
    for (const std::string& name : names)
        out.push_back(name.substr(tree.Root().size() + 1));
    return out;
}

TEST(WalkHooksListing, LinkRules)
{
    FileTesting::Tree tree;
    tree.Write("a.txt", "");
    tree.Write("real/r.txt", "");
    tree.Link("filelink.txt", "a.txt");
    tree.Link("dirlink", "real");
    tree.Link("real/up", "..");  // a loop
    using RegexEngine::LinkRule;
    const struct {
        LinkRule rule;
        std::vector<std::string> expected;
    } rows[] = {
        {LinkRule::FileLinks, {"a.txt", "filelink.txt", "real/r.txt"}},
        {LinkRule::NoLinks, {"a.txt", "real/r.txt"}},
        {LinkRule::AllLinks, {"a.txt", "filelink.txt", "dirlink/r.txt", "real/r.txt"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Relative(tree, RegexEngine::ListFiles(tree.Root() + "/*", true, row.rule, nullptr, nullptr, nullptr)),
                  row.expected)
            << static_cast<int>(row.rule);
}

TEST(WalkHooksListing, FilterLeavesOutFilesAndDirectories)
{
    FileTesting::Tree tree;
    tree.Write("a.txt", "");
    tree.Write("b.log", "");
    tree.Write("skip/c.txt", "");
    tree.Write("keep/d.txt", "");
    const auto filter = [](const char* path, bool directory, void*) {
        const std::string name(path);
        return directory ? name.find("/skip") == std::string::npos : name.find(".log") == std::string::npos;
    };
    EXPECT_EQ(Relative(tree, RegexEngine::ListFiles(tree.Root() + "/*", true, RegexEngine::LinkRule::FileLinks, filter,
                                                    nullptr, nullptr)),
              (std::vector<std::string>{"a.txt", "keep/d.txt"}));
}

}  // namespace

// FindFiles, GrepFiles and ChangeFiles of the class library on temporary
// directory trees: counts, stopping, reports, backups, the safe rewrite seen
// from outside, and the per-thread object stack (threads, nesting,
// re-entry, objects destroyed by their own handlers).
#include "Regularexpressionclass.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "Filetesting.h"
#include "Platform.h"

using RegexClass::REMatch;
using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;
using FileTesting::Tree;

namespace {

using Problem = RegularExpression::FileChangeProblem;

// Records the file events of one object and answers as told.
struct Recorder {
    struct Event {
        RegularExpression* sender;
        std::string file;
        REMatchInfo matches;
        unsigned line;
    };
    std::vector<Event> events;
    std::size_t stopAt = 0;  // clear the continue flag at this event (1-based); 0: never
    std::function<void(RegularExpression*, const std::string&)> action;  // run at every event

    void OnMatches(RegularExpression* sender, std::string file, const REMatchInfo& matches, unsigned line, bool& go)
    {
        events.push_back({sender, file, matches, line});
        if (events.size() == stopAt)
            go = false;
        if (action)
            action(sender, file);
    }
    void OnFile(RegularExpression* sender, std::string file, bool& go)
    {
        events.push_back({sender, file, {}, 0});
        if (events.size() == stopAt)
            go = false;
        if (action)
            action(sender, file);
    }
    std::vector<std::string> Files() const
    {
        std::vector<std::string> files;
        for (const Event& event : events)
            files.push_back(event.file);
        return files;
    }
    void AttachTo(RegularExpression& re)
    {
        re.SetOnFindFilesClosure(RegexClass::Bind(this, &Recorder::OnFile));
        re.SetOnGreppingFilesClosure(RegexClass::Bind(this, &Recorder::OnMatches));
        re.SetOnChangingFilesClosure(RegexClass::Bind(this, &Recorder::OnMatches));
    }
};

class FileOperations : public ::testing::Test {
protected:
    void Configure(RegularExpression& object, const std::string& expression, const std::string& files)
    {
        object.SetExpression(expression);
        object.SetFilesToMatch(tree.Path(files));
    }

    Tree tree;
    RegularExpression re;
    Recorder recorder;
};

// ---- FindFiles ----------------------------------------------------------------------

TEST_F(FileOperations, FindFilesReportsEachFileWithAMatchOnce)
{
    tree.Write("a.txt", "foo foo foo");
    tree.Write("b.txt", "bar");
    tree.Write("c.txt", "foo");
    Configure(re, "foo", "*.txt");
    EXPECT_EQ(re.FindFiles(), 2u) << "without a handler";
    recorder.AttachTo(re);
    EXPECT_EQ(re.FindFiles(), 2u);
    EXPECT_EQ(recorder.Files(), (std::vector<std::string>{tree.Path("a.txt"), tree.Path("c.txt")}));
    EXPECT_EQ(recorder.events[0].sender, &re);
}

TEST_F(FileOperations, FindFilesStopsWhenTheHandlerClearsTheFlag)
{
    tree.Write("a.txt", "foo");
    tree.Write("b.txt", "foo");
    Configure(re, "foo", "*.txt");
    recorder.stopAt = 1;
    recorder.AttachTo(re);
    EXPECT_EQ(re.FindFiles(), 1u);
    EXPECT_EQ(recorder.events.size(), 1u);
}

TEST_F(FileOperations, FindFilesRecursionAndCaseOption)
{
    tree.Write("a.txt", "FOO");
    tree.Directory("sub");
    tree.Write("sub/b.txt", "foo");
    Configure(re, "foo", "*.txt");
    EXPECT_EQ(re.FindFiles(), 0u);
    re.SetDirectoryRecursion(true);
    EXPECT_EQ(re.FindFiles(), 1u);
    re.AddExpressionOption(RegularExpression::CaseInsensitive);
    EXPECT_EQ(re.FindFiles(), 2u);
    re.SetDirectoryRecursion(false);
    EXPECT_EQ(re.FindFiles(), 1u);
}

// The walks run the object's own compilation: what the syntax options make
// of the expression is what FindFiles, GrepFiles and ChangeFiles find and
// replace, and an expression the object cannot compile walks nothing and
// leaves the object's message.
TEST_F(FileOperations, WalksFollowEverySyntaxOption)
{
    using O = RegularExpression;
    struct Row {
        std::vector<O::Options> options;  // added to the defaults
        const char* expression;
        const char* text;
        unsigned greps;
        const char* changed;  // the file after ChangeFiles with format "<>"
        bool compiles;
    };
    const Row rows[] = {
        {{}, "a.c", "abc a.c", 2, "<> <>", true},
        {{O::Literals}, "a.c", "abc a.c", 1, "abc <>", true},
        {{O::Literals}, "c++", "c++ and c++", 2, "<> and <>", true},
        {{O::Literals}, "(1+1", "x (1+1 y", 1, "x <> y", true},
        {{O::Literals, O::CaseInsensitive}, "A.B", "a.b A.b", 2, "<> <>", true},
        {{O::Basic}, "a|b", "a|b a b", 1, "<> a b", true},
        {{O::Basic}, "\\(ab\\)\\{2\\}", "ababx", 1, "<>x", true},
        {{O::Extended}, "(?:ab)", "ab", 0, "ab", false},
        {{}, "foo(", "foo(", 0, "foo(", false},
    };
    for (const Row& row : rows) {
        tree.Write("a.txt", row.text);
        RegularExpression object;
        for (const O::Options option : row.options)
            object.AddExpressionOption(option);
        Configure(object, row.expression, "a.txt");
        object.SetFormatString("<>");
        const std::string label = std::string(row.expression) + " in " + row.text;
        EXPECT_EQ(object.FindFiles(), row.greps == 0 ? 0u : 1u) << label;
        EXPECT_EQ(object.GrepFiles(), row.greps) << label;
        EXPECT_EQ(object.GetExpressionError().empty(), row.compiles) << label;
        EXPECT_EQ(object.ChangeFiles(), row.greps) << label;
        EXPECT_EQ(tree.Read("a.txt"), row.changed) << label;
    }
}

TEST_F(FileOperations, MissingOrInvalidInputRunsNothingAndThrowsNothing)
{
    tree.Write("a.txt", "foo(");
    recorder.AttachTo(re);
    re.SetFormatString("x");
    struct Row {
        const char* expression;
        const char* files;
    };
    const Row rows[] = {{"", "*.txt"}, {"foo", ""}, {"foo(", "*.txt"}, {"[a", "*.txt"}};
    for (const Row& row : rows) {
        re.SetExpression(row.expression);
        re.SetFilesToMatch(row.files[0] == '\0' ? std::string() : tree.Path(row.files));
        EXPECT_EQ(re.FindFiles(), 0u) << row.expression;
        EXPECT_EQ(re.GrepFiles(), 0u) << row.expression;
        EXPECT_EQ(re.ChangeFiles(), 0u) << row.expression;
    }
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(tree.Read("a.txt"), "foo(");
}

// ---- GrepFiles ------------------------------------------------------------------------

TEST_F(FileOperations, GrepFilesReportShapes)
{
    tree.Write("a.txt", "az b1z");
    Configure(re, "(\\w)(\\d)?z", "a.txt");
    recorder.AttachTo(re);
    EXPECT_EQ(re.GrepFiles(), 2u);
    ASSERT_EQ(recorder.events.size(), 2u);
    const REMatchInfo& first = recorder.events[0].matches;
    ASSERT_EQ(first.size(), 3u) << "whole match and two sub-expressions, no prefix or suffix";
    EXPECT_EQ(first[0].Text, "az");
    EXPECT_EQ(first[0].Position, 0);
    EXPECT_EQ(first[1].Text, "a");
    EXPECT_EQ(first[2].Text, "");
    EXPECT_EQ(first[2].Position, -1) << "a sub-expression that took no part";
    const REMatchInfo& second = recorder.events[1].matches;
    ASSERT_EQ(second.size(), 3u);
    EXPECT_EQ(second[0].Text, "b1z");
    EXPECT_EQ(second[0].Position, 3);
    EXPECT_EQ(second[2].Text, "1");
    EXPECT_EQ(second[2].Position, 4);
    EXPECT_EQ(recorder.events[1].file, tree.Path("a.txt"));
}

TEST_F(FileOperations, GrepFilesLineNumbers)
{
    tree.Write("crlf.txt", "foo\r\nbar\r\nfoo");
    tree.Write("lf.txt", "x\n\nfoo\n");
    Configure(re, "foo", "*.txt");
    recorder.AttachTo(re);
    EXPECT_EQ(re.GrepFiles(), 3u);
    ASSERT_EQ(recorder.events.size(), 3u);
    EXPECT_EQ(recorder.events[0].line, 1u) << "the first line is 1";
    EXPECT_EQ(recorder.events[1].line, 3u) << "a last line without a newline";
    EXPECT_EQ(recorder.events[1].matches[0].Position, 10);
    EXPECT_EQ(recorder.events[2].line, 3u);
}

TEST_F(FileOperations, GrepFilesStopsAtTheThirdMatch)
{
    tree.Write("a.txt", "foo foo");
    tree.Write("b.txt", "foo foo");
    Configure(re, "foo", "*.txt");
    EXPECT_EQ(re.GrepFiles(), 4u) << "without a handler, every match";
    recorder.stopAt = 3;
    recorder.AttachTo(re);
    EXPECT_EQ(re.GrepFiles(), 3u);
    EXPECT_EQ(recorder.events.size(), 3u);
}

// In line mode a caller that selects lines may ask for each line's first
// match only, for plain texts and other expressions alike; ChangeFiles still
// replaces every match.
TEST_F(FileOperations, FirstMatchOfLineLeavesOutTheRestOfEachLine)
{
    tree.Write("a.txt", "foo foo\nbar\nxfoo foo foo\n");
    recorder.AttachTo(re);
    re.SetLineMode(true);
    re.SetFirstMatchOfLine(true);
    for (const char* expression : {"foo", "fo+"}) {
        Configure(re, expression, "a.txt");
        recorder.events.clear();
        EXPECT_EQ(re.GrepFiles(), 2u) << expression;
        ASSERT_EQ(recorder.events.size(), 2u) << expression;
        EXPECT_EQ(recorder.events[0].matches[0].Position, 0);
        EXPECT_EQ(recorder.events[1].matches[0].Position, 13);
        EXPECT_EQ(recorder.events[1].line, 3u);
    }
    re.SetFormatString("X");
    EXPECT_EQ(re.ChangeFiles(), 5u);
    EXPECT_EQ(tree.Read("a.txt"), "X X\nbar\nxX X X\n");
}

// ---- ChangeFiles ------------------------------------------------------------------------

TEST_F(FileOperations, ChangeFilesCountsEveryReplacement)
{
    tree.Write("a.txt", "foo foo foo");
    tree.Write("b.txt", "(foo)\nfoo\n");
    tree.Write("c.txt", "nothing");
    Configure(re, "f(o+)", "*.txt");
    re.SetFormatString("b$1r");
    EXPECT_EQ(re.ChangeFiles(), 5u);
    EXPECT_EQ(re.GetChangeFilesErrors(), nullptr);
    EXPECT_EQ(tree.Read("a.txt"), "boor boor boor");
    EXPECT_EQ(tree.Read("b.txt"), "(boor)\nboor\n");
    EXPECT_EQ(tree.Read("c.txt"), "nothing");
    EXPECT_EQ(tree.List(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

TEST_F(FileOperations, ChangeFilesStoppedAtTheSecondMatchWritesTheFirst)
{
    tree.Write("a.txt", "foo foo foo");
    tree.Write("b.txt", "foo");
    Configure(re, "foo", "*.txt");
    re.SetFormatString("X");
    recorder.stopAt = 2;
    recorder.AttachTo(re);
    EXPECT_EQ(re.ChangeFiles(), 1u);
    EXPECT_EQ(tree.Read("a.txt"), "X foo foo");
    EXPECT_EQ(tree.Read("b.txt"), "foo");
    EXPECT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[1].matches[0].Position, 4);
}

TEST_F(FileOperations, EmptyFormatChangesNothing)
{
    tree.Write("a.txt", "foo");
    Configure(re, "foo", "*.txt");
    EXPECT_EQ(re.ChangeFiles(), 0u);
    EXPECT_EQ(tree.Read("a.txt"), "foo");
}

TEST_F(FileOperations, BackupNamedOrReadOnlyFileEndsTheWalk)
{
    for (const bool readOnly : {false, true}) {
        Tree local;
        local.Write("a.txt", "foo");
        const std::string second = local.Write(readOnly ? "b.txt" : "b.bak", "foo");
        if (readOnly)
            ::chmod(second.c_str(), 0444);
        local.Write("c.txt", "foo");
        RegularExpression object;
        object.SetExpression("foo");
        object.SetFilesToMatch(local.Path("*"));
        object.SetFormatString("X");
        object.SetSaveExtension(readOnly ? "" : "bak");
        EXPECT_EQ(object.ChangeFiles(), 1u) << readOnly;
        EXPECT_EQ(local.Read("a.txt"), "X") << readOnly;
        EXPECT_EQ(FileTesting::ReadAll(second), "foo") << readOnly;
        EXPECT_EQ(local.Read("c.txt"), "foo") << readOnly;
        // The stop stays, and the file it happened at is named.
        const auto* problems = object.GetChangeFilesErrors();
        ASSERT_NE(problems, nullptr) << readOnly;
        ASSERT_EQ(problems->size(), 1u) << readOnly;
        EXPECT_EQ((*problems)[0].Reason, RegularExpression::StoppedHere) << readOnly;
        EXPECT_EQ((*problems)[0].FileName, second) << readOnly;
        if (!readOnly) {
            EXPECT_EQ(local.Read("a.bak"), "foo");
        }
    }
}

TEST_F(FileOperations, FileChangedAfterItsMatchesWereCollectedStaysAsItIs)
{
    const std::string file = tree.Write("a.txt", "foo foo");
    tree.Write("b.txt", "foo");
    Configure(re, "foo", "*.txt");
    re.SetFormatString("bar");
    recorder.AttachTo(re);
    recorder.action = [&](RegularExpression*, const std::string& name) {
        if (name == file && recorder.events.size() == 2) {
            // Someone else replaces the file between the walk and the rewrite.
            FileTesting::WriteAll(tree.Path("replacement"), "fox foo");
            ::rename(tree.Path("replacement").c_str(), file.c_str());
        }
    };
    EXPECT_EQ(re.ChangeFiles(), 1u);
    EXPECT_EQ(tree.Read("a.txt"), "fox foo");
    EXPECT_EQ(tree.Read("b.txt"), "bar");
    const auto* problems = re.GetChangeFilesErrors();
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->size(), 1u);
    EXPECT_EQ((*problems)[0].Reason, RegularExpression::TextChanged);
    EXPECT_EQ((*problems)[0].FileName, file);
    EXPECT_EQ((*problems)[0].FilePosition, 0u);
    EXPECT_EQ((*problems)[0].Text, "foo");
    EXPECT_EQ((*problems)[0].SystemError, 0u);
    EXPECT_EQ(tree.List(), (std::vector<std::string>{"a.txt", "b.txt"}));

    // A clean run empties the list again.
    recorder.action = nullptr;
    EXPECT_EQ(re.ChangeFiles(), 1u);
    EXPECT_EQ(re.GetChangeFilesErrors(), nullptr);
}

TEST_F(FileOperations, BackupsAreCopiesOfTheOldFile)
{
    tree.Write("notes.txt", "old foo");
    tree.Write("notes.bak", "an older backup");
    tree.Directory("my.dir");
    tree.Write("my.dir/README", "foo");
    Configure(re, "foo", "*");
    re.SetFormatString("new");
    re.SetSaveExtension("bak");
    re.SetDirectoryRecursion(true);
    EXPECT_EQ(re.ChangeFiles(), 2u);
    EXPECT_EQ(tree.Read("notes.txt"), "old new");
    EXPECT_EQ(tree.Read("notes.bak"), "old foo");
    EXPECT_EQ(tree.Read("my.dir/README"), "new");
    EXPECT_EQ(tree.Read("my.dir/README.bak"), "foo");
    EXPECT_EQ(tree.List(), (std::vector<std::string>{"my.dir", "notes.bak", "notes.txt"}));
}

TEST_F(FileOperations, HardLinkedNamesAreChangedOnce)
{
    // a1.txt and z.txt are one file; m.txt is walked between them.
    const std::string first = tree.Write("a1.txt", "x");
    tree.Write("m.txt", "x");
    const std::string second = tree.Path("z.txt");
    ASSERT_EQ(::link(first.c_str(), second.c_str()), 0);
    Configure(re, "x", "*.txt");
    re.SetFormatString("xx");
    EXPECT_EQ(re.ChangeFiles(), 2u);
    EXPECT_EQ(tree.Read("a1.txt"), "xx");
    EXPECT_EQ(tree.Read("z.txt"), "xx");
    EXPECT_EQ(tree.Read("m.txt"), "xx");
    const auto* problems = re.GetChangeFilesErrors();
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->size(), 1u);
    EXPECT_EQ((*problems)[0].Reason, RegularExpression::AlreadyChanged);
    EXPECT_EQ((*problems)[0].FileName, second);
}

TEST_F(FileOperations, BackupsNeverOverwriteOneMadeInTheSameRun)
{
    // foo.cpp and foo.h both back up to foo.bak: the first keeps it.
    tree.Write("foo.cpp", "old cpp x");
    tree.Write("foo.h", "old h x");
    Configure(re, "x", "foo.*");
    re.SetFormatString("y");
    re.SetSaveExtension("bak");
    EXPECT_EQ(re.ChangeFiles(), 1u);
    EXPECT_EQ(tree.Read("foo.cpp"), "old cpp y");
    EXPECT_EQ(tree.Read("foo.bak"), "old cpp x");
    EXPECT_EQ(tree.Read("foo.h"), "old h x");
    const auto* problems = re.GetChangeFilesErrors();
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->size(), 1u);
    EXPECT_EQ((*problems)[0].Reason, RegularExpression::BackupFailed);
    EXPECT_EQ((*problems)[0].FileName, tree.Path("foo.bak"));
    EXPECT_EQ((*problems)[0].SystemError, unsigned(EEXIST));
}

TEST_F(FileOperations, SaveExtensionThatLeavesTheDirectoryIsRefused)
{
    for (const char* extension : {"d/../notes.md", "..", "x/y"}) {
        Tree local;
        local.Directory("d");
        local.Write("a.txt", "x");
        local.Write("notes.md", "precious");
        RegularExpression object;
        object.SetExpression("x");
        object.SetFilesToMatch(local.Path("a.txt"));
        object.SetFormatString("y");
        object.SetSaveExtension(extension);
        EXPECT_EQ(object.ChangeFiles(), 0u) << extension;
        EXPECT_EQ(local.Read("a.txt"), "x") << extension;
        EXPECT_EQ(local.Read("notes.md"), "precious") << extension;
        const auto* problems = object.GetChangeFilesErrors();
        ASSERT_NE(problems, nullptr) << extension;
        ASSERT_EQ(problems->size(), 1u) << extension;
        EXPECT_EQ((*problems)[0].Reason, RegularExpression::BackupFailed) << extension;
        EXPECT_EQ((*problems)[0].SystemError, unsigned(EINVAL)) << extension;
        EXPECT_EQ(local.List(), (std::vector<std::string>{"a.txt", "d", "notes.md"})) << extension;
    }
}

TEST_F(FileOperations, NoBackupWithoutSaveExtension)
{
    tree.Write("notes.txt", "foo");
    Configure(re, "foo", "*");
    re.SetFormatString("new");
    EXPECT_EQ(re.ChangeFiles(), 1u);
    EXPECT_EQ(tree.List(), std::vector<std::string>{"notes.txt"});
}

TEST_F(FileOperations, WriteFailureLeavesTheOriginalAndNoTemporary)
{
    std::string content;
    for (int i = 0; i < 200; ++i)
        content += "foo\n";
    tree.Write("big.txt", content);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The new content outgrows the file-size limit of this process.
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1000, 1000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        RegularExpression object;
        object.SetExpression("foo");
        object.SetFilesToMatch(tree.Path("*.txt"));
        object.SetFormatString("foofoo");
        const unsigned changes = object.ChangeFiles();
        const auto* problems = object.GetChangeFilesErrors();
        int code = 0;
        if (changes != 0)
            code = 10;
        else if (problems == nullptr || problems->size() != 1)
            code = 11;
        else if ((*problems)[0].Reason != RegularExpression::WriteFailed)
            code = 12;
        else if ((*problems)[0].SystemError != EFBIG)
            code = 13;
        else if ((*problems)[0].FilePosition != 1000)
            code = 14;
        else if ((*problems)[0].FileName.find("/.big.txt.") == std::string::npos)
            code = 15;
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(tree.Read("big.txt"), content);
    EXPECT_EQ(tree.List(), std::vector<std::string>{"big.txt"});
}

TEST_F(FileOperations, PermissionBitsAndSymbolicLinksArePreserved)
{
    const std::string tool = tree.Write("tool.sh", "echo foo\n");
    ::chmod(tool.c_str(), 0750);
    tree.Directory("real");
    tree.Write("real/target", "foo");
    const std::string link = tree.Path("link.sh");
    ASSERT_EQ(::symlink("real/target", link.c_str()), 0);
    Configure(re, "foo", "*.sh");
    re.SetFormatString("bar");
    EXPECT_EQ(re.ChangeFiles(), 2u);
    EXPECT_EQ(re.GetChangeFilesErrors(), nullptr);
    EXPECT_EQ(tree.Read("tool.sh"), "echo bar\n");
    EXPECT_EQ(FileTesting::StatOf(tool).st_mode & 07777, 0750u);
    EXPECT_TRUE(S_ISLNK(FileTesting::LstatOf(link).st_mode));
    EXPECT_EQ(tree.Read("real/target"), "bar");
}

TEST_F(FileOperations, ZeroLengthAdjacentAndNulMatches)
{
    struct Row {
        const char* label;
        std::string content;
        const char* expression;
        const char* format;
        unsigned changes;
        std::string expected;
    };
    const Row rows[] = {
        {"zero-length matches insert", "a\nb", "^", "> ", 2, "> a\n> b"},
        {"adjacent matches", "ababab", "ab", "X", 3, "XXX"},
        {"NUL bytes are ordinary", std::string("a\0foo\0b", 7), "foo.b", "X", 1, std::string("a\0X", 3)},
        {"sub-expressions in the format", "mail bob@example now", "(\\w+)@(\\w+)", "$2:$1", 1,
         "mail example:bob now"},
    };
    for (const Row& row : rows) {
        Tree local;
        local.Write("data", row.content);
        RegularExpression object;
        object.SetExpression(row.expression);
        object.SetFilesToMatch(local.Path("data"));
        object.SetFormatString(row.format);
        EXPECT_EQ(object.ChangeFiles(), row.changes) << row.label;
        EXPECT_EQ(local.Read("data"), row.expected) << row.label;
    }
}

TEST_F(FileOperations, MatchingErrorEndsTheWalkWithoutThrowing)
{
    tree.Write("a.txt", "foo");
    tree.Write("b.txt", std::string(40, 'x'));
    tree.Write("c.txt", "foo");
    Configure(re, "foo|(x+x+)+y", "*.txt");
    re.SetFormatString("bar");
    unsigned changes = 0;
    EXPECT_NO_THROW(changes = re.ChangeFiles());
    EXPECT_EQ(changes, 1u);
    EXPECT_EQ(tree.Read("a.txt"), "bar") << "already rewritten files stay rewritten";
    EXPECT_EQ(tree.Read("c.txt"), "foo");
    EXPECT_FALSE(re.GetMatchError().empty());

    recorder.AttachTo(re);
    EXPECT_NO_THROW(re.GrepFiles());
    EXPECT_TRUE(recorder.events.empty()) << "a.txt no longer matches; b.txt stops the walk";
    EXPECT_FALSE(re.GetMatchError().empty());
    re.SetExpression("foo");
    re.FindFiles();
    EXPECT_TRUE(re.GetMatchError().empty()) << "a walk that ends normally clears the text";
}

TEST_F(FileOperations, HandlerExceptionPassesAndLeavesTheStackSound)
{
    tree.Write("a.txt", "foo");
    tree.Write("b.txt", "foo");
    Configure(re, "foo", "*.txt");
    re.SetFormatString("bar");
    recorder.AttachTo(re);
    recorder.action = [&](RegularExpression*, const std::string& file) {
        if (file == tree.Path("b.txt"))
            throw std::runtime_error("handler failure");
    };
    EXPECT_THROW(re.ChangeFiles(), std::runtime_error);
    EXPECT_EQ(tree.Read("a.txt"), "bar");
    EXPECT_EQ(tree.Read("b.txt"), "foo");

    // The walk's entry was removed: a new walk reaches its own object.
    RegularExpression other;
    Recorder otherRecorder;
    otherRecorder.AttachTo(other);
    Configure(other, "foo", "b.txt");
    EXPECT_EQ(other.FindFiles(), 1u);
    ASSERT_EQ(otherRecorder.events.size(), 1u);
    EXPECT_EQ(otherRecorder.events[0].sender, &other);
    recorder.action = nullptr;
    EXPECT_EQ(re.ChangeFiles(), 1u) << "nothing stale was left pending";
    EXPECT_EQ(tree.Read("a.txt"), "bar");
    EXPECT_EQ(tree.Read("b.txt"), "bar");
}

// ---- The per-thread object stack ---------------------------------------------------------

TEST_F(FileOperations, TwoThreadsEachSeeOnlyTheirOwnEvents)
{
    std::string many;
    for (int i = 0; i < 2000; ++i)
        many += "foo line\n";
    tree.Directory("one");
    tree.Directory("two");
    for (int i = 0; i < 4; ++i) {
        tree.Write("one/" + std::to_string(i) + ".txt", many);
        tree.Write("two/" + std::to_string(i) + ".txt", many);
    }
    RegularExpression first;
    RegularExpression second;
    Recorder firstRecorder;
    Recorder secondRecorder;
    firstRecorder.AttachTo(first);
    secondRecorder.AttachTo(second);
    Configure(first, "foo", "one/*.txt");
    Configure(second, "foo", "two/*.txt");
    std::atomic<int> ready{0};
    unsigned firstCount = 0;
    unsigned secondCount = 0;
    auto run = [&](RegularExpression& object, unsigned& count) {
        ++ready;
        while (ready.load() < 2) {
        }
        count = object.GrepFiles();
    };
    std::thread a(run, std::ref(first), std::ref(firstCount));
    std::thread b(run, std::ref(second), std::ref(secondCount));
    a.join();
    b.join();
    EXPECT_EQ(firstCount, 8000u);
    EXPECT_EQ(secondCount, 8000u);
    ASSERT_EQ(firstRecorder.events.size(), 8000u);
    ASSERT_EQ(secondRecorder.events.size(), 8000u);
    for (const auto& event : firstRecorder.events) {
        ASSERT_EQ(event.sender, &first);
        ASSERT_EQ(event.file.rfind(tree.Path("one/"), 0), 0u);
    }
    for (const auto& event : secondRecorder.events) {
        ASSERT_EQ(event.sender, &second);
        ASSERT_EQ(event.file.rfind(tree.Path("two/"), 0), 0u);
    }
}

TEST_F(FileOperations, HandlerStartingAWalkOnASecondObjectNests)
{
    tree.Write("a.txt", "foo foo foo");
    tree.Write("b.txt", "bar");
    RegularExpression inner;
    Recorder innerRecorder;
    innerRecorder.AttachTo(inner);
    Configure(inner, "bar", "*.txt");
    Configure(re, "foo", "a.txt");
    recorder.AttachTo(re);
    recorder.action = [&](RegularExpression*, const std::string&) { EXPECT_EQ(inner.FindFiles(), 1u); };
    EXPECT_EQ(re.GrepFiles(), 3u);
    ASSERT_EQ(recorder.events.size(), 3u);
    for (const auto& event : recorder.events)
        EXPECT_EQ(event.sender, &re);
    ASSERT_EQ(innerRecorder.events.size(), 3u);
    for (const auto& event : innerRecorder.events) {
        EXPECT_EQ(event.sender, &inner);
        EXPECT_EQ(event.file, tree.Path("b.txt"));
    }
}

TEST_F(FileOperations, SameObjectReenteredIsPushedTwice)
{
    tree.Write("a.txt", "foo foo");
    Configure(re, "foo", "a.txt");
    recorder.AttachTo(re);
    bool entered = false;
    unsigned innerCount = 0;
    recorder.action = [&](RegularExpression* sender, const std::string&) {
        // Only the outer walk's first match starts the inner walk.
        if (!entered) {
            entered = true;
            innerCount = sender->GrepFiles();
        }
    };
    EXPECT_EQ(re.GrepFiles(), 2u);
    EXPECT_EQ(innerCount, 2u);
    // outer first match, the inner walk's two, then the outer's second.
    ASSERT_EQ(recorder.events.size(), 4u);
    EXPECT_EQ(recorder.events[0].matches[0].Position, 0);
    EXPECT_EQ(recorder.events[1].matches[0].Position, 0);
    EXPECT_EQ(recorder.events[2].matches[0].Position, 4);
    EXPECT_EQ(recorder.events[3].matches[0].Position, 4);
}

TEST_F(FileOperations, SameObjectReenteredByChangeFilesNeverCorruptsAFile)
{
    tree.Write("a.txt", "foo foo");
    Configure(re, "foo", "a.txt");
    re.SetFormatString("barbar");
    recorder.AttachTo(re);
    bool entered = false;
    unsigned innerChanges = 0;
    recorder.action = [&](RegularExpression* sender, const std::string&) {
        // Only the outer walk's first match starts the inner walk.
        if (!entered) {
            entered = true;
            innerChanges = sender->ChangeFiles();
        }
    };
    re.ChangeFiles();
    EXPECT_EQ(innerChanges, 2u);
    EXPECT_EQ(tree.Read("a.txt"), "barbar barbar");
    EXPECT_EQ(tree.List(), std::vector<std::string>{"a.txt"});
}

TEST_F(FileOperations, DestroyingAnotherObjectInsideAHandlerKeepsTheStack)
{
    tree.Write("a.txt", "foo foo foo");
    Configure(re, "foo", "a.txt");
    recorder.AttachTo(re);
    auto* bystander = new RegularExpression;
    recorder.action = [&](RegularExpression*, const std::string&) {
        delete bystander;  // its destructor releases the stack only when empty
        bystander = nullptr;
    };
    EXPECT_EQ(re.GrepFiles(), 3u);
    EXPECT_EQ(recorder.events.size(), 3u) << "the walk kept finding its object";
}

TEST_F(FileOperations, ObjectDestroyedByItsOwnHandlerEndsItsWalk)
{
    tree.Write("a.txt", "foo foo foo");
    for (int operation = 0; operation < 3; ++operation) {
        auto* doomed = new RegularExpression;
        Configure(*doomed, "foo", "a.txt");
        doomed->SetFormatString("bar");
        Recorder local;
        local.AttachTo(*doomed);
        local.action = [](RegularExpression* sender, const std::string&) { delete sender; };
        if (operation == 0)
            doomed->FindFiles();
        else if (operation == 1)
            doomed->GrepFiles();
        else
            doomed->ChangeFiles();
        EXPECT_EQ(local.events.size(), 1u) << operation;
    }
    EXPECT_EQ(tree.Read("a.txt"), "foo foo foo");
    // The thread's stack still serves new walks.
    Configure(re, "foo", "a.txt");
    recorder.AttachTo(re);
    EXPECT_EQ(re.GrepFiles(), 3u);
    EXPECT_EQ(recorder.events.size(), 3u);
}

// ---- Members used by the rewrite -------------------------------------------------------

TEST_F(FileOperations, ReplaceExtensionAndBackupFile)
{
    re.SetSaveExtension("bak");
    re.PendingFile.FileName = "work/my.dir/README";
    EXPECT_EQ(re.ReplaceExtension(), "work/my.dir/README.bak");
    re.PendingFile.FileName = "archive.tar.gz";
    EXPECT_EQ(re.ReplaceExtension(), "archive.tar.bak");
    EXPECT_TRUE(re.BackupFile("x.BAK"));
    EXPECT_FALSE(re.BackupFile("my.bak/README"));
    re.SetSaveExtension("");
    EXPECT_FALSE(re.BackupFile("x.bak"));
    EXPECT_TRUE(re.ReadOnlyFile(tree.Path("missing")));
    EXPECT_FALSE(re.ReadOnlyFile(tree.Write("writable", "x")));
}

TEST_F(FileOperations, MergeFileCleanupClosesRemovesAndEmpties)
{
    const std::string source = tree.Write("source", "0123456789");
    std::string temporary;
    RegexPlatform::FileHandle in = RegexPlatform::OpenForReading(source.c_str());
    RegexPlatform::FileHandle out = RegexPlatform::CreateTemporaryIn(tree.Root(), "t.", temporary);
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(re.GetFilePointer(in), 0u);
    char buffer[4];
    std::size_t done = 0;
    ASSERT_TRUE(RegexPlatform::ReadFile(in, buffer, sizeof buffer, done));
    EXPECT_EQ(re.GetFilePointer(in), 4u);
    re.PendingFile.FileName = source;
    re.PendingFile.Greps.resize(2);
    re.MergeFileCleanup(in, out, temporary);
    EXPECT_TRUE(re.PendingFile.FileName.empty());
    EXPECT_TRUE(re.PendingFile.Greps.empty());
    EXPECT_EQ(tree.List(), std::vector<std::string>{"source"});
}

}  // namespace

namespace {

// ---- Replacements in context ---------------------------------------------------------

TEST_F(FileOperations, ReplacementsSeeTheTextAroundTheirMatch)
{
    struct Row {
        const char* expression;
        const char* content;
        const char* format;
        const char* expected;
        unsigned changes;
    };
    const Row rows[] = {
        {"(?<=foo )bar", "foo bar", "BAZ", "foo BAZ", 1},
        {"foo(?=bar)", "foobar foobaz", "X", "Xbar foobaz", 1},
        {"o\\B", "foo", "X", "fXo", 1},
        {"\\Bb", "ab b", "X", "aX b", 1},
        {"\\<", "ab cd", "[", "[ab [cd", 2},
        {"(^)?a", "ba", "(?1Y:N)", "bN", 1},
        {"(a$)|(a)", "ab", "(?1E:M)", "Mb", 1},
        {"x*", "xx", "Y", "Y", 1},
        {"(\\w)\\1", "aab", "<$1>", "<a>b", 1},
    };
    for (const Row& row : rows) {
        tree.Write("f.txt", row.content);
        RegularExpression object;
        Configure(object, row.expression, "f.txt");
        object.SetFormatString(row.format);
        EXPECT_EQ(object.ChangeFiles(), row.changes) << row.expression;
        EXPECT_EQ(tree.Read("f.txt"), row.expected) << row.expression;
    }
}

}  // namespace

namespace {

// ---- The per-thread stack and empty expressions ---------------------------------------

TEST_F(FileOperations, ExplicitDeallocateStackInsideAHandlerLeavesTheWalkRunning)
{
    tree.Write("a.txt", "foo foo");
    tree.Write("b.txt", "foo foo");
    for (const bool change : {false, true}) {
        RegularExpression object;
        Configure(object, "foo", "*.txt");
        object.SetFormatString("bar");
        Recorder local;
        local.AttachTo(object);
        local.action = [](RegularExpression* sender, const std::string&) { sender->DeallocateStack(); };
        EXPECT_EQ(change ? object.ChangeFiles() : object.GrepFiles(), 4u) << change;
        EXPECT_EQ(local.events.size(), 4u) << change;
    }
    EXPECT_EQ(tree.Read("b.txt"), "bar bar");
}

TEST_F(FileOperations, ExpressionEmptyUpToItsFirstNulWalksNothing)
{
    tree.Write("a.txt", "foo");
    Configure(re, std::string("\0foo", 4), "a.txt");
    re.SetFormatString("X");
    recorder.AttachTo(re);
    EXPECT_EQ(re.FindFiles(), 0u);
    EXPECT_EQ(re.GrepFiles(), 0u);
    EXPECT_EQ(re.ChangeFiles(), 0u);
    EXPECT_TRUE(recorder.events.empty());
    EXPECT_EQ(tree.Read("a.txt"), "foo");
}

// ---- Safety of the rewrite seen from outside ------------------------------------------------

TEST_F(FileOperations, BackupNeverGoesOntoTheFileItself)
{
    struct Row {
        const char* label;
        int (*make)(const char* target, const char* name);
    };
    const Row rows[] = {{"symbolic link to the backup name", ::symlink}, {"hard link", ::link}};
    for (const Row& row : rows) {
        Tree local;
        const std::string original = local.Write("a.orig", "orig foo\n");
        ASSERT_EQ(row.make(original.c_str(), local.Path("a.txt").c_str()), 0) << row.label;
        RegularExpression object;
        object.SetExpression("foo");
        object.SetFilesToMatch(local.Path("a.txt"));
        object.SetFormatString("bar");
        object.SetSaveExtension("orig");
        EXPECT_EQ(object.ChangeFiles(), 0u) << row.label;
        ASSERT_NE(object.GetChangeFilesErrors(), nullptr) << row.label;
        const Problem problem = object.GetChangeFilesErrors()->at(0);
        EXPECT_EQ(problem.Reason, RegularExpression::BackupFailed) << row.label;
        EXPECT_EQ(problem.FileName, local.Path("a.orig")) << row.label;
        EXPECT_EQ(local.Read("a.orig"), "orig foo\n") << row.label;
        EXPECT_EQ(local.List(), (std::vector<std::string>{"a.orig", "a.txt"})) << row.label;
    }
}

TEST_F(FileOperations, SaveExtensionWithDotsMarksItsBackups)
{
    tree.Write("a.txt", "foo\n");
    Configure(re, "foo", "*");
    re.SetFormatString("bar");
    re.SetSaveExtension("txt.orig");
    EXPECT_EQ(re.ChangeFiles(), 1u);
    tree.Write("a.txt", "foo again\n");
    EXPECT_EQ(re.ChangeFiles(), 1u);
    EXPECT_EQ(tree.Read("a.txt.orig"), "foo again\n");
    EXPECT_EQ(tree.List(), (std::vector<std::string>{"a.txt", "a.txt.orig"})) << "the backup is not backed up";
}

TEST_F(FileOperations, WorkFilesOfARewriteAreNeverWalked)
{
    tree.Write("a.txt", "foo");
    tree.Write(".a.txt.quorvex-Ab12Cd", "foo");
    tree.Write(".b.quorvex-undo", "foo");
    tree.Write(".c.quorvex-x", "foo");  // not the pattern
    Configure(re, "foo", "*");
    recorder.AttachTo(re);
    EXPECT_EQ(re.GrepFiles(), 2u);
    EXPECT_EQ(recorder.Files(), (std::vector<std::string>{tree.Path(".c.quorvex-x"), tree.Path("a.txt")}));
    Configure(re, "foo", ".a.txt.quorvex-Ab12Cd");
    EXPECT_EQ(re.GrepFiles(), 0u) << "not even when named";
}

TEST_F(FileOperations, NamesUpToTheLimitAreChangedAndLongPathsRefusedPlainly)
{
    for (const std::size_t length : {std::size_t(239), std::size_t(248), std::size_t(255)}) {
        const std::string name = std::string(length - 4, 'n') + ".txt";
        tree.Write(name, "foo");
        Configure(re, "foo", name);
        re.SetFormatString("bar");
        EXPECT_EQ(re.ChangeFiles(), 1u) << length;
        EXPECT_EQ(re.GetChangeFilesErrors(), nullptr) << length;
        EXPECT_EQ(tree.Read(name), "bar") << length;
    }
    EXPECT_EQ(tree.List().size(), 3u) << "no work file left";

    // A file under a path longer than the system takes in one call: refused
    // with the system's own error, the walk going on, never called read-only.
    std::string path = tree.Root();
    int directory = ::open(path.c_str(), O_RDONLY | O_DIRECTORY);
    while (path.size() < PATH_MAX + 100) {
        ::mkdirat(directory, "dddddddddddddddddddddddddddddddddddddddddddddddddd", 0755);
        const int next = ::openat(directory, "dddddddddddddddddddddddddddddddddddddddddddddddddd", O_RDONLY);
        ::close(directory);
        directory = next;
        path += "/dddddddddddddddddddddddddddddddddddddddddddddddddd";
    }
    const int file = ::openat(directory, "deep.txt", O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(::write(file, "foo", 3), 3);
    ::close(file);
    ::close(directory);
    EXPECT_FALSE(re.ReadOnlyFile(path + "/deep.txt"));
    re.SetFilesToMatch(path + "/deep.txt");
    EXPECT_EQ(re.ChangeFiles(), 0u);
    ASSERT_NE(re.GetChangeFilesErrors(), nullptr);
    const Problem problem = re.GetChangeFilesErrors()->at(0);
    EXPECT_EQ(problem.Reason, RegularExpression::OpenFailed);
    EXPECT_EQ(problem.SystemError, unsigned(ENAMETOOLONG));
}

}  // namespace

namespace {

TEST_F(FileOperations, MatchingErrorInsideAFileLeavesThatFileWhole)
{
    for (const bool threads : {false, true}) {
        Tree local;
        local.Write("a.txt", "foo");
        local.Write("b.txt", "foo foo " + std::string(40, 'x') + " foo");
        local.Write("c.txt", "foo");
        RegularExpression object;
        object.SetExpression("foo|(x+x+)+y");
        object.SetFilesToMatch(local.Path(threads ? "*.txt" : "b.txt"));
        object.SetFormatString("bar");
        const unsigned changes = object.ChangeFiles();
        EXPECT_EQ(local.Read("b.txt"), "foo foo " + std::string(40, 'x') + " foo") << threads;
        EXPECT_EQ(changes, threads ? 1u : 0u);
        ASSERT_NE(object.GetChangeFilesErrors(), nullptr) << threads;
        const Problem problem = object.GetChangeFilesErrors()->back();
        EXPECT_EQ(problem.Reason, RegularExpression::MatchFailed) << threads;
        EXPECT_EQ(problem.FileName, local.Path("b.txt")) << threads;
        EXPECT_EQ(problem.Text, object.GetMatchError()) << threads;
        EXPECT_FALSE(problem.Text.empty()) << threads;
    }
}

}  // namespace

namespace {

// Inside OnGreppingFiles and OnChangingFiles, Format() and
// GetMatchingInformation() answer for the file match being reported (in line
// mode the line is the subject: $' ends at the line's end); outside events
// they answer as before, and an operation a handler starts has its own match.
TEST_F(FileOperations, FormatAndMatchingInformationAnswerForTheFileMatch)
{
    tree.Write("a.txt", "x=1\ny=22\n");
    Configure(re, "(\\w)=(\\d+)", "a.txt");
    re.SetFormatString("$2:$1 [$']");
    std::vector<std::string> formats;
    std::vector<REMatchInfo> infos;
    recorder.action = [&](RegularExpression* sender, const std::string&) {
        std::string out;
        sender->Format(out);
        formats.push_back(out);
        infos.push_back(sender->GetMatchingInformation());
    };
    recorder.AttachTo(re);
    for (const bool lines : {false, true}) {
        formats.clear();
        infos.clear();
        re.SetLineMode(lines);
        EXPECT_EQ(re.GrepFiles(), 2u);
        const std::string rest = lines ? "" : "\ny=22\n";
        EXPECT_EQ(formats, (std::vector<std::string>{"1:x [" + rest + "]", lines ? "22:y []" : "22:y [\n]"}))
            << lines;
        ASSERT_EQ(infos.size(), 2u);
        ASSERT_EQ(infos[1].size(), 3u) << "the shape of the event's report: whole match and two groups";
        EXPECT_EQ(infos[1][0].Text, "y=22");
        EXPECT_EQ(infos[1][0].Position, 4);
        EXPECT_EQ(infos[1][2].Text, "22");
        EXPECT_EQ(infos[1][2].Position, 6);
    }
    re.SetLineMode(false);

    // A string operation started by the handler has its own match; the file
    // match is current again after it.
    std::vector<std::string> nested;
    recorder.action = [&](RegularExpression* sender, const std::string&) {
        sender->SetStringToMatch("q=7");
        sender->SetOnSearchingClosure(RegularExpression::MatchingEventClosure());
        sender->Search();  // no handler: no current match of its own
        std::string out;
        sender->Format(out);
        nested.push_back(out);
    };
    re.SetFormatString("<$1$2>");
    EXPECT_EQ(re.ChangeFiles(), 2u);
    EXPECT_EQ(nested, (std::vector<std::string>{"<x1>", "<y22>"}));
    EXPECT_EQ(tree.Read("a.txt"), "<x1>\n<y22>\n");

    std::string outside = "stale";
    re.Format(outside);
    EXPECT_EQ(outside, "") << "no current match outside events";
    EXPECT_TRUE(re.GetMatchingInformation().empty());
}

}  // namespace

namespace {

// A matching error in a walk names its file; with ContinueAfterMatchError the
// walk goes on with the next file, and the per-file event tells which file
// failed. The default still ends the walk there.
TEST_F(FileOperations, MatchingErrorNamesItsFileAndMayLetTheWalkGoOn)
{
    tree.Write("a.txt", "foo");
    tree.Write("b.txt", "foo " + std::string(40, 'x'));
    tree.Write("c.txt", "foo");
    tree.Write("d.txt", std::string(40, 'x'));
    tree.Write("e.txt", "foo");
    Configure(re, "foo|(x+x+)+y", "*.txt");
    recorder.AttachTo(re);
    std::vector<std::string> failed;
    struct Walked {
        std::vector<std::string>* failed;
        void On(RegularExpression*, const RegularExpression::WalkedFile& file, bool&, bool&)
        {
            if (file.Stage == RegularExpression::FileFinished && !file.MatchError.empty())
                failed->push_back(file.FileName);
        }
    } walked{&failed};
    re.SetOnWalkingFilesClosure(RegexClass::Bind(&walked, &Walked::On));
    struct Row {
        bool goOn;
        unsigned greps;
        std::vector<std::string> failed;
    };
    const Row rows[] = {
        {false, 2, {}},
        {true, 4, {tree.Path("b.txt"), tree.Path("d.txt")}},
    };
    for (const Row& row : rows) {
        failed.clear();
        re.SetContinueAfterMatchError(row.goOn);
        EXPECT_EQ(re.GrepFiles(), row.greps) << row.goOn;
        EXPECT_FALSE(re.GetMatchError().empty()) << row.goOn;
        EXPECT_EQ(re.GetMatchErrorFile(), tree.Path("b.txt")) << row.goOn << ": the first failed file";
        EXPECT_EQ(failed, row.failed) << row.goOn;
        // FindFiles stops searching b.txt at its first match, before the
        // run of x: d.txt is the one that fails.
        EXPECT_EQ(re.FindFiles(), row.goOn ? 4u : 3u) << row.goOn;
        EXPECT_EQ(re.GetMatchErrorFile(), tree.Path("d.txt")) << row.goOn;
    }
    re.SetExpression("foo");
    EXPECT_EQ(re.GrepFiles(), 4u);
    EXPECT_TRUE(re.GetMatchErrorFile().empty()) << "cleared by the next walk";
}

// ---- Files larger than memory, offsets past 32 bits --------------------------------

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A sparse file of `size` bytes (its holes read as NULs) holding `pieces` at
// their offsets; false where the file system cannot make one.
bool MakeSparse(const std::string& path, std::uint64_t size,
                const std::vector<std::pair<std::uint64_t, std::string>>& pieces)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
    for (const auto& piece : pieces)
        ok = ok && ::pwrite(fd, piece.second.data(), piece.second.size(), static_cast<off_t>(piece.first)) ==
                       static_cast<ssize_t>(piece.second.size());
    return ::close(fd) == 0 && ok;
}

// Matches before 2 GiB keep their offsets; past INT_MAX every Position reads
// -1 (the 64-bit search API has the offset); line numbers stay exact, in
// whole-buffer and in line mode.
TEST_F(FileOperations, GrepFilesPastTwoAndFourGiBGivesTheDocumentedPositionAndExactLines)
{
    if (kSanitized)
        GTEST_SKIP() << "5 GiB of mapped pages under a sanitizer";
    const std::uint64_t gib = std::uint64_t(1) << 30;
    const std::string file = tree.Path("big.log");
    if (!MakeSparse(file, 5 * gib + 7,
                    {{0, "needle\n"}, {gib, "\nneedle\n"}, {3 * gib, "\nneedle\n"}, {5 * gib, "\nneedle"}}))
        GTEST_SKIP() << "no sparse file here";
    Configure(re, "ne(ed)le", "big.log");
    recorder.AttachTo(re);
    for (const bool lines : {false, true}) {
        recorder.events.clear();
        re.SetLineMode(lines);
        EXPECT_EQ(re.GrepFiles(), 4u) << lines;
        ASSERT_EQ(recorder.events.size(), 4u) << lines;
        const int positions[] = {0, static_cast<int>(gib + 1), -1, -1};
        const int groups[] = {2, static_cast<int>(gib + 3), -1, -1};
        const unsigned lineNumbers[] = {1, 3, 5, 7};
        for (std::size_t i = 0; i < 4; ++i) {
            const auto& event = recorder.events[i];
            ASSERT_EQ(event.matches.size(), 2u);
            EXPECT_EQ(event.matches[0].Text, "needle") << i;
            EXPECT_EQ(event.matches[0].Position, positions[i]) << i << " lines " << lines;
            EXPECT_EQ(event.matches[1].Text, "ed") << i;
            EXPECT_EQ(event.matches[1].Position, groups[i]) << i << " lines " << lines;
            EXPECT_EQ(event.line, lineNumbers[i]) << i << " lines " << lines;
        }
    }
}

// A file larger than the address space the process may use is searched in
// windows: its match is found and nothing is thrown (it used to raise
// std::bad_alloc out of GrepFiles).
TEST_F(FileOperations, AFileLargerThanTheAddressSpaceLimitIsSearchedWithoutThrowing)
{
    if (kSanitized)
        GTEST_SKIP() << "an address-space limit under a sanitizer";
    const std::uint64_t size = std::uint64_t(1) << 30;
    if (!MakeSparse(tree.Path("big.log"), size, {{size - 10, "\nneedle\n"}}))
        GTEST_SKIP() << "no sparse file here";
    Configure(re, "needle", "big.log");
    recorder.AttachTo(re);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rlimit limit = {rlim_t(512) << 20, rlim_t(512) << 20};
        ::setrlimit(RLIMIT_AS, &limit);
        int code = 3;
        try {
            code = re.GrepFiles() == 1 && recorder.events.size() == 1 && recorder.events[0].line == 2 ? 0 : 1;
        } catch (const std::bad_alloc&) {
            code = 2;
        } catch (...) {
            code = 4;
        }
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: std::bad_alloc was thrown";
}

}  // namespace

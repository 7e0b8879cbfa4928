// The file operations through the component: AnsiString file names and
// problem records, the engine's file offsets in the lists, texts cut at NUL,
// and the read-only test through the framework's attribute query.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "Componenttesting.h"

namespace {

using namespace ComponentTesting;
using RegexComponent::RegularExpression;

TEST(ComponentFiles, GrepFilesReportsFileNamesAndTheEnginesOffsets)
{
    FileTesting::Tree dir;
    dir.Write("a.txt", "one\nab\nxab");
    dir.Write("b.txt", "nothing");
    RegularExpression c(nullptr);
    Recorder recorder;
    c.OnGreppingFiles = System::Bind(&recorder, &Recorder::FileMatches);
    c.SetExpression("a(b)");
    c.SetFilesToMatch(System::AnsiString(dir.Path("*.txt")));
    EXPECT_EQ(c.GrepFiles(), 2u);
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[0].file, dir.Path("a.txt"));
    // File lists keep the engine's 0-based offsets: no prefix, no suffix.
    EXPECT_EQ(recorder.events[0].matches, (std::vector<Part>{{"ab", 4}, {"b", 5}}));
    EXPECT_EQ(recorder.events[0].line, 2u);
    EXPECT_EQ(recorder.events[1].matches, (std::vector<Part>{{"ab", 8}, {"b", 9}}));
    EXPECT_EQ(recorder.events[1].line, 3u);
}

TEST(ComponentFiles, AMatchHoldingANulReachesTheHandlerCutAtTheNul)
{
    FileTesting::Tree dir;
    dir.Write("n.bin", std::string("xk\0eyx", 6));
    RegularExpression c(nullptr);
    Recorder recorder;
    c.OnGreppingFiles = System::Bind(&recorder, &Recorder::FileMatches);
    c.SetExpression("k.e(y)");
    c.SetFilesToMatch(System::AnsiString(dir.Path("*.bin")));
    EXPECT_EQ(c.GrepFiles(), 1u);
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].matches, (std::vector<Part>{{"k", 1}, {"y", 4}}));
}

TEST(ComponentFiles, FindFilesReportsEachFileOnce)
{
    FileTesting::Tree dir;
    dir.Write("a.txt", "hit hit");
    dir.Write("b.txt", "miss");
    dir.Write("c.txt", "hit");
    RegularExpression c(nullptr);
    Recorder recorder;
    c.OnFindFiles = System::Bind(&recorder, &Recorder::FoundFile);
    c.SetExpression("hit");
    c.SetFilesToMatch(System::AnsiString(dir.Path("*.txt")));
    EXPECT_EQ(c.FindFiles(), 2u);
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[0].file, dir.Path("a.txt"));
    EXPECT_EQ(recorder.events[1].file, dir.Path("c.txt"));
}

TEST(ComponentFiles, ChangeFilesRewritesTheFilesAndKeepsBackups)
{
    FileTesting::Tree dir;
    dir.Write("a.txt", "foo\nboo\n");
    dir.Write("b.txt", "bar\n");
    RegularExpression c(nullptr);
    Recorder recorder;
    c.OnChangingFiles = System::Bind(&recorder, &Recorder::FileMatches);
    c.SetExpression("o(o)?");
    c.SetFormatString("0");
    c.SetSaveExtension("bak");
    c.SetFilesToMatch(System::AnsiString(dir.Path("*.txt")));
    EXPECT_EQ(c.ChangeFiles(), 2u);
    EXPECT_EQ(dir.Read("a.txt"), "f0\nb0\n");
    EXPECT_EQ(dir.Read("a.bak"), "foo\nboo\n");
    EXPECT_EQ(dir.Read("b.txt"), "bar\n");
    EXPECT_EQ(c.GetChangeFilesErrors(), nullptr);
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[0].file, dir.Path("a.txt"));
    EXPECT_EQ(recorder.events[1].matches, (std::vector<Part>{{"oo", 5}, {"o", 6}}));
    EXPECT_EQ(recorder.events[1].line, 2u);
}

TEST(ComponentFiles, AProblemIsRecordedWithAnsiStringTexts)
{
    FileTesting::Tree dir;
    dir.Write("a.txt", "foo\n");
    ASSERT_EQ(::mkdir(dir.Path("a.bak").c_str(), 0755), 0);  // the backup cannot be written there
    RegularExpression c(nullptr);
    c.SetExpression("o");
    c.SetFormatString("0");
    c.SetSaveExtension("bak");
    c.SetFilesToMatch(System::AnsiString(dir.Path("*.txt")));
    EXPECT_EQ(c.ChangeFiles(), 0u);
    EXPECT_EQ(dir.Read("a.txt"), "foo\n");
    const auto* problems = c.GetChangeFilesErrors();
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->size(), 1u);
    const Custom::FileChangeProblem& problem = problems->front();
    EXPECT_EQ(problem.Reason, Custom::BackupFailed);
    EXPECT_EQ(problem.FileName, System::AnsiString(dir.Path("a.bak")));
    EXPECT_TRUE(problem.Text.IsEmpty());
    EXPECT_NE(problem.SystemError, 0u);
}

TEST(ComponentFiles, ReadOnlyFilesAreToldByTheFrameworksAttributeQuery)
{
    FileTesting::Tree dir;
    dir.Write("w.txt", "x");
    dir.Write("r.txt", "x");
    ASSERT_EQ(::chmod(dir.Path("r.txt").c_str(), 0444), 0);
    RegularExpression c(nullptr);
    EXPECT_FALSE(c.ReadOnlyFile(dir.Path("w.txt")));
    EXPECT_TRUE(c.ReadOnlyFile(dir.Path("r.txt")));
    EXPECT_TRUE(c.ReadOnlyFile(dir.Path("missing.txt")));

    // A read-only file ends the walk before anything is changed.
    c.SetExpression("x");
    c.SetFormatString("y");
    c.SetFilesToMatch(System::AnsiString(dir.Path("r.txt")));
    EXPECT_EQ(c.ChangeFiles(), 0u);
    EXPECT_EQ(dir.Read("r.txt"), "x");
}

}  // namespace

namespace {

// The component's walks run its own compilation too: a Literals expression
// finds its text and nothing else, and Format answers inside the file event.
TEST(ComponentFiles, WalksFollowTheSyntaxOptionsAndFormatAnswersForTheFileMatch)
{
    using namespace ComponentTesting;
    FileTesting::Tree dir;
    dir.Write("a.txt", "abc a.c");
    RegexComponent::RegularExpression c(nullptr);
    Recorder recorder;
    std::vector<std::string> formats;
    recorder.during = [&](Custom* sender) {
        System::AnsiString out;
        sender->Format(out);
        formats.push_back(out.ToStdString());
    };
    c.OnGreppingFiles = System::Bind(&recorder, &Recorder::FileMatches);
    c.SetExpression("a.c");
    c.SetFormatString("<$&>");
    c.SetFilesToMatch(System::AnsiString(dir.Path("a.txt")));
    EXPECT_EQ(c.GrepFiles(), 2u);
    Custom::OptionSet options = c.ExpressionOptions;
    options << Custom::Literals;
    c.SetOptions(options);
    ASSERT_TRUE(c.ExpressionOptions.Contains(Custom::Literals));
    EXPECT_EQ(c.GrepFiles(), 1u);
    ASSERT_EQ(recorder.events.size(), 3u);
    EXPECT_EQ(recorder.events[2].matches, (std::vector<Part>{{"a.c", 4}}));
    EXPECT_EQ(formats, (std::vector<std::string>{"<abc>", "<a.c>", "<a.c>"}));
}

}  // namespace

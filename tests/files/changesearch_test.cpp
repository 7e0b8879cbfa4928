// ChangeFiles over files it searches again instead of collecting their
// matches: the same results as the collected rewrite, whatever the window a
// search reads (matches across its edges included), the prefix and suffix
// formats refused where only a window is at hand, and a rewrite past 4 GiB
// whose memory stays below the file's size. The file-operation templates are
// instantiated here so that the engine's test setting (SetRewriteWindow)
// reaches them.
#include "Regularexpressionclass.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Fileoperations.h"
#include "Filetesting.h"
#include "Regularexpressiontraits.h"

using RegexClass::RegularExpression;
using FileTesting::Tree;

// The templates instantiated in this program get their own slot holder, and
// the walk settings the tests use.
RegularExpressionTLSStack& RegexEngine::ObjectTraits<RegularExpression>::ThreadStack()
{
    static RegularExpressionTLSStack holder;
    return holder;
}

void RegexClass::ConfigureWalk(const RegularExpression* object, RegexEngine::RegEx& engine)
{
    engine.SetLineMode(object->GetLineMode());
}

bool RegexClass::AppendsBackupExtension(const RegularExpression*)
{
    return false;
}

namespace {

// Forces the searched rewrite with windows of `size` bytes while in scope.
struct ForcedWindow {
    explicit ForcedWindow(std::size_t size) { RegexEngine::SetRewriteWindow(size); }
    ~ForcedWindow() { RegexEngine::SetRewriteWindow(0); }
};

struct Result {
    unsigned changes;
    std::string content;
    std::size_t problems;
    int reason = -1;
};

Result Change(const std::string& content, const char* expression, const char* format, bool lineMode)
{
    Tree tree;
    const std::string file = tree.Write("data.txt", content);
    RegularExpression object;
    object.SetExpression(expression);
    object.SetFormatString(format);
    object.SetFilesToMatch(file);
    object.SetLineMode(lineMode);
    RegexEngine::AllocateStack(object);
    const unsigned changes = RegexEngine::ChangeFiles(object);
    const auto* problems = object.GetChangeFilesErrors();
    return {changes, tree.Read("data.txt"), problems == nullptr ? 0 : problems->size(),
            problems == nullptr ? -1 : static_cast<int>((*problems)[0].Reason)};
}

struct SearchRow {
    const char* label;
    std::string content;
    const char* expression;
    const char* format;
    std::size_t smallestWindow = 0;
};

TEST(SearchedChange, SameResultAsTheCollectedRewriteWhateverTheWindow)
{
    std::string longLines;
    for (int i = 0; i < 300; ++i)
        longLines += "line " + std::to_string(i) + (i % 7 == 0 ? " foo" : "") + " end\r\n";
    const SearchRow rows[] = {
        {"literal in many lines", longLines, "foo", "[$&]"},
        {"groups and line anchors", longLines, "^line (\\d+)", "L$1"},
        {"end of line before CRLF", longLines, "end$", "END"},
        {"match spanning lines", "a1\nb1 a2\nb2 " + std::string(50, '-') + " a3\nb3\n", "a(\\d)\\nb\\1", "<$1>"},
        {"matches longer than the window", std::string(40, 'x') + "y" + std::string(90, 'x'), "x{20,}", "X"},
        {"look-behind across an edge", std::string(30, '.') + "abc" + std::string(30, '.') + "abc", "(?<=ab)c", "C"},
        {"look-ahead across an edge", std::string(29, '.') + "ab" + std::string(40, '.') + "ab.", "b(?=\\.)", "B"},
        {"empty matches", "zzaz" + std::string(20, 'a') + "zz", "z*", "-"},
        // A match is taken once it ends a quarter of the window before the
        // window's end: the longer alternatives must fit in that quarter.
        {"alternatives of different lengths", "foo foobar " + std::string(25, ' ') + "foobarbaz", "foobarbaz|foobar|foo",
         "<$&>", 64},
        {"NUL bytes", std::string("a\0foo\0", 6) + std::string(20, '\0') + "foo", "foo", "bar"},
    };
    for (const SearchRow& row : rows) {
        for (bool lineMode : {false, true}) {
            const Result collected = Change(row.content, row.expression, row.format, lineMode);
            for (std::size_t window : {8u, 13u, 64u, 2048u}) {
                if (window < row.smallestWindow)
                    continue;
                const ForcedWindow forced(window);
                const Result searched = Change(row.content, row.expression, row.format, lineMode);
                const std::string label = std::string(row.label) + (lineMode ? " (lines)" : "") + ", window " +
                                          std::to_string(window);
                EXPECT_EQ(searched.content, collected.content) << label;
                EXPECT_EQ(searched.changes, collected.changes) << label;
                EXPECT_EQ(searched.problems, 0u) << label << " " << searched.reason;
            }
        }
    }
}

TEST(SearchedChange, DenseFileIsSearchedOnceTooMuchWouldBeCollected)
{
    // Several mebibytes of match and replacement texts: the mapped search.
    std::string content, expected;
    for (int i = 0; i < 400000; ++i) {
        content += "foo bar\n";
        expected += "quux bar\n";
    }
    const Result result = Change(content, "foo", "quux", true);
    EXPECT_EQ(result.changes, 400000u);
    EXPECT_EQ(result.problems, 0u);
    EXPECT_TRUE(result.content == expected);
}

TEST(SearchedChange, TextAroundTheMatchIsRefusedWhereOnlyAWindowIsAtHand)
{
    const ForcedWindow forced(64);
    for (const char* format : {"$`", "[$']", "${^PREMATCH}"}) {
        Tree tree;
        const std::string file = tree.Write("data.txt", "one foo two");
        RegularExpression object;
        object.SetExpression("foo");
        object.SetFormatString(format);
        object.SetFilesToMatch(file);
        RegexEngine::AllocateStack(object);
        EXPECT_EQ(RegexEngine::ChangeFiles(object), 0u) << format;
        EXPECT_EQ(tree.Read("data.txt"), "one foo two") << format;
        const auto* problems = object.GetChangeFilesErrors();
        ASSERT_NE(problems, nullptr) << format;
        ASSERT_EQ(problems->size(), 1u) << format;
        EXPECT_EQ((*problems)[0].Reason, RegularExpression::ReadFailed) << format;
        EXPECT_EQ((*problems)[0].SystemError, RegexPlatform::ValueTooLargeError()) << format;
    }
}

TEST(SearchedChange, FileChangedSinceTheWalkStaysAsItIs)
{
    const ForcedWindow forced(16);
    Tree tree;
    const std::string file = tree.Write("data.txt", "foo foo foo\n");
    RegularExpression object;
    object.SetExpression("foo");
    object.SetFormatString("bar");
    object.SetFilesToMatch(file);
    struct Handler {
        std::string file;
        int events = 0;
        void OnMatch(RegularExpression*, std::string, const RegexClass::REMatchInfo&, unsigned, bool&)
        {
            if (++events == 3) {
                // Same size, same modification time: only the matches tell.
                const struct stat before = FileTesting::StatOf(file);
                const int fd = ::open(file.c_str(), O_WRONLY);
                (void)!::pwrite(fd, "fox", 3, 4);
                const struct timespec times[2] = {before.st_atim, before.st_mtim};
                ::futimens(fd, times);
                ::close(fd);
            }
        }
    } handler{file};
    object.SetOnChangingFilesClosure(RegexClass::Bind(&handler, &Handler::OnMatch));
    RegexEngine::AllocateStack(object);
    EXPECT_EQ(RegexEngine::ChangeFiles(object), 0u);
    EXPECT_EQ(tree.Read("data.txt"), "foo fox foo\n");
    const auto* problems = object.GetChangeFilesErrors();
    ASSERT_NE(problems, nullptr);
    ASSERT_EQ(problems->size(), 1u);
    EXPECT_EQ((*problems)[0].Reason, RegularExpression::TextChanged);
    EXPECT_EQ(tree.List(), std::vector<std::string>{"data.txt"});
}

// ---- Past 4 GiB, in memory below the file's size ---------------------------------------

// The searched rewrite of a sparse file a little over 4 GiB, with a match
// near its start and one at its end, in a child whose address space is a
// quarter of the file: the file cannot be mapped, so it is read in windows
// (whole-buffer mode) or line blocks (line mode).
class Fixed final : public RegexEngine::RewriteFormatter {
public:
    std::string Format(const RegexEngine::RewriteMatch& match) override
    {
        return "<" + std::string(match.Data + match.Start, match.End - match.Start) + ">";
    }
};

std::string ReadAt(const std::string& file, std::uint64_t at, std::size_t size)
{
    std::string out(size, '?');
    const int fd = ::open(file.c_str(), O_RDONLY);
    const ssize_t got = ::pread(fd, &out[0], size, static_cast<off_t>(at));
    ::close(fd);
    out.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
    return out;
}

TEST(SearchedChange, FilePastFourGibibytesInBoundedMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address-space limits and sanitizers do not mix";
#endif
    const std::uint64_t size = (std::uint64_t(4) << 30) + 4096;
    for (bool lineMode : {false, true}) {
        Tree tree;
        const std::string file = tree.Path("big.log");
        {
            const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::pwrite(fd, "x needle\n", 9, 100), 9);
            ASSERT_EQ(::pwrite(fd, "\nlast needle\n", 13, static_cast<off_t>(size - 13)), 13);
            ::close(fd);
        }
        ASSERT_EQ(FileTesting::StatOf(file).st_size, static_cast<off_t>(size));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const struct rlimit limit = {std::uint64_t(1) << 30, std::uint64_t(1) << 30};
            if (::setrlimit(RLIMIT_AS, &limit) != 0)
                ::_exit(77);
            int code = 1;
            try {
                unsigned error = 0;
                const auto pattern = RegexEngine::CompilePattern("needle", false, error);
                Fixed formatter;
                RegexEngine::SearchedEdits edits(*pattern, lineMode ? RegexEngine::lineModeFlag : 0u, formatter);
                const RegexEngine::RewriteOutcome outcome = RegexEngine::RewriteFile(file, edits, std::string());
                if (!lineMode)
                    code = outcome.Replaced && outcome.Edits == 2 && outcome.Problems.empty() ? 0 : 1;
                else
                    // Its holes make one line of 4 GiB: more than line mode
                    // can hold without the mapping. Refused, not thrown.
                    code = !outcome.Replaced && outcome.Problems.size() == 1 &&
                                   outcome.Problems[0].Reason == RegexEngine::RewriteReadFailed &&
                                   outcome.Problems[0].SystemError == RegexPlatform::OutOfMemoryError()
                               ? 0
                               : 1;
            } catch (...) {
                code = 2;
            }
            ::_exit(code);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "died of signal " << WTERMSIG(status);
        if (WEXITSTATUS(status) == 77)
            GTEST_SKIP() << "cannot limit the address space";
        EXPECT_EQ(WEXITSTATUS(status), 0) << (lineMode ? "lines" : "whole");
        if (lineMode) {
            EXPECT_EQ(static_cast<std::uint64_t>(FileTesting::StatOf(file).st_size), size);
            EXPECT_EQ(ReadAt(file, size - 13, 13), "\nlast needle\n");
            EXPECT_EQ(tree.List(), std::vector<std::string>{"big.log"});
            continue;
        }
        EXPECT_EQ(static_cast<std::uint64_t>(FileTesting::StatOf(file).st_size), size + 4);
        EXPECT_EQ(ReadAt(file, 96, 16), std::string(4, '\0') + "x <needle>\n" + std::string(1, '\0'));
        EXPECT_EQ(ReadAt(file, size - 13, 17), std::string(2, '\0') + "\nlast <needle>\n");
        EXPECT_EQ(ReadAt(file, std::uint64_t(2) << 30, 8), std::string(8, '\0'));
        EXPECT_EQ(tree.List(), std::vector<std::string>{"big.log"});
    }
}

}  // namespace

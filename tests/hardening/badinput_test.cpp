// Bad input at every place it can enter: expressions that are empty, huge,
// deeply nested or hold NUL bytes; settings streams with option values
// outside the enumerations and counts or lengths that no stream holds; file
// specifications that name nothing, a directory, a device, a FIFO or a place
// the user may not enter. Each must end in a plain returned failure (or a
// plain result): no hang, no crash, no exception out of the library, no event
// for work that did not run and no file touched.
#include "Regularexpressionclass.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <sstream>
#include <string>

#include "Filetesting.h"
#include "Hardening.h"
#include "Regularexpression.h"

using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;
using FileTesting::Tree;
using Hardening::ChildOutcome;
using Hardening::Repeat;
using Hardening::RunInChild;

namespace {

// Counts every event of a class object.
struct Counter {
    int events = 0;
    void Matching(RegularExpression*, const REMatchInfo&, unsigned, unsigned) { ++events; }
    void Grepping(RegularExpression*, const REMatchInfo&, unsigned, unsigned, bool&) { ++events; }
    void FileMatches(RegularExpression*, std::string, const REMatchInfo&, unsigned, bool&) { ++events; }
    void FileFound(RegularExpression*, std::string, bool&) { ++events; }
    void AttachTo(RegularExpression& re)
    {
        re.SetOnMatchingClosure(RegexClass::Bind(this, &Counter::Matching));
        re.SetOnSearchingClosure(RegexClass::Bind(this, &Counter::Matching));
        re.SetOnGreppingClosure(RegexClass::Bind(this, &Counter::Grepping));
        re.SetOnMergingClosure(RegexClass::Bind(this, &Counter::Grepping));
        re.SetOnGreppingFilesClosure(RegexClass::Bind(this, &Counter::FileMatches));
        re.SetOnFindFilesClosure(RegexClass::Bind(this, &Counter::FileFound));
        re.SetOnChangingFilesClosure(RegexClass::Bind(this, &Counter::FileMatches));
    }
};

constexpr std::size_t Megabyte = 1024 * 1024;

// ---- Expressions ----------------------------------------------------------------------------

struct ExpressionRow {
    const char* label;
    std::string expression;
    bool compiles;
};

const ExpressionRow ExpressionRows[] = {
    {"empty", "", false},
    // The text is not empty: what stands before the NUL (nothing) is compiled.
    {"NUL first: the empty expression", std::string("\0abc", 4), true},
    {"NUL inside: cut there", std::string("a\0(", 3), true},
    {"1 MB of one letter", std::string(Megabyte, 'a'), true},
    {"1 MB of open parentheses", std::string(Megabyte, '('), false},
    {"1 MB of close parentheses", std::string(Megabyte, ')'), false},
    {"1 MB of open brackets", std::string(Megabyte, '['), false},
    {"1 MB of backslashes", std::string(Megabyte, '\\'), true},
    {"1 MB nested 350000 deep", Repeat("(", 349525) + "a" + Repeat(")", 349525), false},
    {"1 MB of alternatives", Repeat("ab|", Megabyte / 3) + "c", true},
    {"1 MB of stars", "a" + std::string(Megabyte, '*'), false},
    {"a repeat too large to count", "a{99999999999}", true},
    {"nested repeats", "((a{1000}){1000}){1000}", true},
    {"back reference to nothing", "\\9", false},
};

TEST(BadExpressions, EveryOperationFailsPlainlyOrWorks)
{
    Tree tree;
    const std::string file = tree.Write("a.txt", "aaa\nab c\n");
    for (const ExpressionRow& row : ExpressionRows) {
        RegularExpression re;
        Counter counter;
        counter.AttachTo(re);
        re.SetExpression(row.expression);
        re.SetStringToMatch("aaa\nab c\n");
        re.SetFormatString("<$&>");
        re.SetFilesToMatch(tree.Path("*.txt"));
        unsigned char code = 0;
        ASSERT_NO_THROW(code = re.ParseExpression()) << row.label;
        EXPECT_EQ(code == 0, row.compiles) << row.label << ": " << re.GetExpressionError();
        if (!row.expression.empty()) {
            EXPECT_EQ(re.GetExpressionError().empty(), row.compiles) << row.label << ": the engine's message";
        }
        std::string merged = "stale";
        bool match = false, all = false, search = false;
        unsigned grep = 0, found = 0, grepped = 0, changed = 0;
        ASSERT_NO_THROW({
            match = re.Match();
            all = re.MatchAll();
            search = re.Search();
            grep = re.Grep();
            re.Merge(merged);
            found = re.FindFiles();
            grepped = re.GrepFiles();
            changed = re.ChangeFiles();
        }) << row.label;
        if (!row.compiles) {
            EXPECT_FALSE(match || all || search) << row.label;
            EXPECT_EQ(grep + found + grepped + changed, 0u) << row.label;
            EXPECT_EQ(merged, "") << row.label;
            EXPECT_EQ(counter.events, 0) << row.label << ": events of work that did not run";
            EXPECT_EQ(tree.Read("a.txt"), "aaa\nab c\n") << row.label;
        } else {
            // Whatever matched was reported once per match.
            EXPECT_GE(counter.events, static_cast<int>(grep + found + grepped)) << row.label;
        }
        EXPECT_EQ(re.GetChangeFilesErrors(), nullptr) << row.label;
        FileTesting::WriteAll(file, "aaa\nab c\n");
    }
}

TEST(BadExpressions, TheComponentFailsPlainlyToo)
{
    for (const ExpressionRow& row : ExpressionRows) {
        RegexComponent::RegularExpression re(nullptr);
        re.SetExpression(System::AnsiString(row.expression.data(), row.expression.size()));
        re.SetStringToMatch("aaa\nab c\n");
        re.SetFormatString("<$&>");
        // The component's texts end at their first NUL.
        const bool compiles = row.compiles && row.expression.c_str()[0] != '\0';
        unsigned char code = 0;
        ASSERT_NO_THROW(code = re.ParseExpression()) << row.label;
        EXPECT_EQ(code == 0, compiles) << row.label;
        System::AnsiString merged("stale");
        ASSERT_NO_THROW({
            re.Search();
            re.Grep();
            re.Merge(merged);
        }) << row.label;
        if (!compiles) {
            EXPECT_FALSE(re.Search()) << row.label;
            EXPECT_EQ(re.Grep(), 0u) << row.label;
            EXPECT_EQ(merged.ToStdString(), "") << row.label;
        }
    }
}

// ---- Settings streams ------------------------------------------------------------------------

struct StreamRow {
    const char* label;
    std::string text;
    bool reads;
    std::function<void(RegularExpression&)> check;  // for a stream that reads
};

TEST(BadStreams, InvalidValuesAreRefusedWhole)
{
    const StreamRow rows[] = {
        // Values that name no option are refused, whatever their low byte.
        {"option 200 names no option", "1 1 200 1 0 0 0 2 ab 3 xAB 0 0 0", false, nullptr},
        {"option 267 names no option", "1 1 267 1 0 0 0 2 ab 3 xAB 0 0 0", false, nullptr},
        {"negative option values", "1 1 -1 2 -1 -246 0 0 2 ab 3 xab 0 0 0", false, nullptr},
        {"a version no writer wrote", "9 0 1 0 0 0 2 ab 3 xab 0 0 0", false, nullptr},
        {"a negative count", "1 -1 0 1 0 0 0 0 0 0 0 0", false, nullptr},
        {"a count far beyond the stream", "1 2147483647 0 1 2", false, nullptr},
        {"a count beyond any integer", "1 99999999999 0", false, nullptr},
        {"a length beyond the stream", "1 0 1 0 0 0 4294967295 abc", false, nullptr},
        {"a negative length", "1 0 1 0 0 0 -5 abc", false, nullptr},
        {"a flag that is neither 0 nor 1", "1 0 1 0 2 0 0 0 0 0 0", false, nullptr},
        {"no version", "x 0 1 0 0 0 0 0 0 0 0", false, nullptr},
        {"NUL bytes inside a string cut it", std::string("1 0 1 0 0 0 3 a\0( 0 0 0 0", 25), true,
         [](RegularExpression& re) {
             EXPECT_EQ(re.GetExpression(), "a");
             EXPECT_EQ(re.ParseExpression(), 0);
         }},
    };
    for (const StreamRow& row : rows) {
        RegularExpression re;
        re.SetExpression("kept");
        re.SetStringToMatch("kept");
        const RegularExpression before = re;
        std::istringstream in(row.text);
        ASSERT_NO_THROW(in >> re) << row.label;
        EXPECT_EQ(!in.fail(), row.reads) << row.label;
        if (row.reads) {
            SCOPED_TRACE(row.label);
            row.check(re);
        } else {
            EXPECT_TRUE(re == before) << row.label << ": a refused stream changes nothing";
            EXPECT_TRUE(re.Search()) << row.label;
        }
    }
}

// ---- File specifications -----------------------------------------------------------------------

struct SpecRow {
    const char* label;
    std::function<std::string(const Tree&)> pattern;
    bool nobody;      // run as the user nobody
    unsigned found;   // files FindFiles reports
};

TEST(BadFileSpecifications, NothingHangsNothingIsTouched)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to build the permission cases";
    const SpecRow rows[] = {
        {"empty", [](const Tree&) { return std::string(); }, false, 0},
        {"a missing directory", [](const Tree& t) { return t.Path("missing/*.txt"); }, false, 0},
        {"a mask naming nothing", [](const Tree& t) { return t.Path("*.none"); }, false, 0},
        {"a directory by its name", [](const Tree& t) { return t.Path("dir"); }, false, 0},
        {"a directory with a trailing slash", [](const Tree& t) { return t.Path("dir/"); }, false, 0},
        {"the null device", [](const Tree&) { return std::string("/dev/null"); }, true, 0},
        {"the zero device", [](const Tree&) { return std::string("/dev/zero"); }, true, 0},
        {"every device", [](const Tree&) { return std::string("/dev/*"); }, true, 0},
        {"a FIFO by its name", [](const Tree& t) { return t.Path("dir/fifo"); }, false, 0},
        {"a FIFO among files", [](const Tree& t) { return t.Path("dir/*"); }, false, 1},
        {"a directory the user may not enter", [](const Tree& t) { return t.Path("closed/*.txt"); }, true, 0},
        {"a file the user may not read", [](const Tree& t) { return t.Path("open/*.txt"); }, true, 0},
        {"a name with a NUL byte", [](const Tree& t) { return t.Path("dir/a.txt") + std::string(1, '\0') + "x"; },
         false, 1},
        {"a name of 64 KB", [](const Tree& t) { return t.Path(Repeat("x/", 32 * 1024) + "*.txt"); }, false, 0},
    };
    Tree tree;
    ::chmod(tree.Root().c_str(), 0755);
    tree.Directory("dir");
    tree.Write("dir/a.txt", "data");
    ASSERT_EQ(::mkfifo(tree.Path("dir/fifo").c_str(), 0666), 0);
    tree.Directory("closed");
    tree.Write("closed/a.txt", "data");
    ::chmod(tree.Path("closed").c_str(), 0700);
    tree.Directory("open");
    tree.Write("open/secret.txt", "data");
    ::chmod(tree.Path("open/secret.txt").c_str(), 0600);

    for (const SpecRow& row : rows) {
        const ChildOutcome outcome = RunInChild(
            [&](std::string& note) {
                if (row.nobody && !Hardening::BecomeNobody())
                    return Hardening::Unavailable;
                RegularExpression re;
                Counter counter;
                counter.AttachTo(re);
                // "^" matches in every file, also an empty one, and would
                // rewrite anything it reached.
                re.SetExpression("^");
                re.SetFormatString("changed ");
                re.SetFilesToMatch(row.pattern(tree));
                const unsigned found = re.FindFiles();
                const unsigned grepped = re.GrepFiles();
                const int events = counter.events;
                // Only where nothing was found is ChangeFiles let loose.
                const unsigned changed = found == 0 && grepped == 0 ? re.ChangeFiles() : 0;
                if (found != row.found || grepped != row.found || changed != 0 ||
                    events != static_cast<int>(2 * row.found) || counter.events != events ||
                    re.GetChangeFilesErrors() != nullptr)
                    note = "found " + std::to_string(found) + ", grepped " + std::to_string(grepped) +
                           ", changed " + std::to_string(changed) + ", events " + std::to_string(counter.events);
                return note.empty() ? 0 : 1;
            },
            60);
        EXPECT_TRUE(outcome.Succeeded()) << row.label << ": " << outcome.Describe();
        EXPECT_EQ(tree.Read("dir/a.txt"), "data") << row.label;
        EXPECT_EQ(tree.Read("closed/a.txt"), "data") << row.label;
        EXPECT_EQ(tree.Read("open/secret.txt"), "data") << row.label;
        EXPECT_TRUE(S_ISFIFO(FileTesting::LstatOf(tree.Path("dir/fifo")).st_mode)) << row.label;
        EXPECT_TRUE(S_ISCHR(FileTesting::StatOf("/dev/null").st_mode)) << row.label;
        EXPECT_EQ(tree.List("dir"), (std::vector<std::string>{"a.txt", "fifo"})) << row.label;
    }
}

}  // namespace

// grep on several threads: for every switch, the output, the diagnostics and
// the exit status of -j4 (and of the default) are those of -j1, byte for
// byte, over a tree of many small files and a few big ones, with a binary
// file, a file the engine gives up on and (where the user cannot read
// everything) an unreadable file and directory in the middle.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// Under the sanitizers the tool runs many times slower: smaller big files
// (still several read blocks each).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kBigLines = 5000;
#else
constexpr int kBigLines = 20000;
#endif

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "quorvex-parallel-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(path_, ignored))
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// The tool in `cwd`, standard output and error to files (none written past
// `sizeLimit` bytes when one is given: the tool is killed instead).
Result RunTool(const fs::path& cwd, const std::vector<std::string>& args, const fs::path& io,
               rlim_t sizeLimit = RLIM_INFINITY)
{
    const std::string out = (io / "out").string(), err = (io / "err").string();
    std::vector<std::string> text = {QUORVEX_CLI_PATH};
    text.insert(text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : text)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int fdOut = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int fdErr = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const struct rlimit limit = {sizeLimit, sizeLimit};
        if (::chdir(cwd.c_str()) != 0 || fdOut < 0 || fdErr < 0 || ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(121);
        ::dup2(fdOut, 1);
        ::dup2(fdErr, 2);
        ::setenv("LC_ALL", "C", 1);
        ::execv(argv[0], argv.data());
        ::_exit(122);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    Result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

// Empty when the texts are equal, else the first line where they differ
// (outputs are large: a whole-text comparison would print megabytes).
std::string FirstDifference(const std::string& a, const std::string& b)
{
    if (a == b)
        return std::string();
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    const std::size_t line = a.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t from = line == std::string::npos || at == 0 ? 0 : line + 1;
    const auto piece = [&](const std::string& s) { return s.substr(from, std::min<std::size_t>(200, s.size() - std::min(from, s.size()))); };
    return "line " + std::to_string(std::count(a.begin(), a.begin() + static_cast<long>(from), '\n') + 1) + ":\n  " +
           piece(a) + "\nvs\n  " + piece(b);
}

std::string Show(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& arg : args)
        text += " " + arg;
    return text;
}

// The tree: 240 small files over nested directories (some with matches,
// some without), three big ones among them, a binary file, and a file whose
// line makes the engine give up on the expression of the rows.
void MakeTree(const fs::path& root)
{
    for (int d = 0; d < 6; ++d) {
        for (int f = 0; f < 40; ++f) {
            std::string text;
            for (int line = 0; line < (f * 7 + d) % 23; ++line)
                text += (line + f) % 5 == 0 ? "word foo " + std::to_string(line * 37 + f) + "\n"
                                            : "plain text line " + std::string(1, char('a' + line % 26)) + "\n";
            WriteFile(root / ("d" + std::to_string(d)) / ("f" + std::to_string(f) + ".txt"), text);
        }
    }
    for (const char* big : {"d1/big.txt", "d3/sub/big.log", "d5/zbig.txt"}) {
        std::string text;
        for (int line = 0; line < kBigLines; ++line)
            text += line % 3 == 0 ? "big foo line " + std::to_string(line) + "\n" : "filler of a big file\n";
        WriteFile(root / big, text);
    }
    WriteFile(root / "d2/image.bin", std::string("foo 1\0\x01\x02 word 7\n", 17));
    WriteFile(root / "d4/hard.txt", "foo 1\nc" + std::string(30, 'a') + "!1\nfoo 2\n");
}

}  // namespace

TEST(ParallelGrep, SameOutputAsOneThread)
{
    TempDir dir, io;
    MakeTree(dir.Path() / "t");
    // With a user who cannot read everything: a file and a directory in the
    // middle of the walk that cannot be read (root reads them anyway).
    const bool locks = ::geteuid() != 0;
    if (locks) {
        WriteFile(dir.Path() / "t/d2/locked.txt", "foo 3\n");
        WriteFile(dir.Path() / "t/d3/closed/x.txt", "foo 4\n");
        fs::permissions(dir.Path() / "t/d2/locked.txt", fs::perms::none);
        fs::permissions(dir.Path() / "t/d3/closed", fs::perms::none);
    }
    // The expression gives up on d4/hard.txt (an error in the middle).
    const std::string hard = "(\\w+\\s?)*\\d$";
    const std::vector<std::vector<std::string>> rows = {
        {"-r", "foo", "t"},
        {"-rn", "foo", "t"},
        {"-rc", "foo", "t"},
        {"-rl", "foo", "t"},
        {"-rL", "foo", "t"},
        {"-rno", "[0-9]+", "t"},
        {"-rn", "-A2", "-B1", "foo", "t"},
        {"-rn", "-C3", "word", "t"},
        {"-r", "-A1", "--group-separator=##", "word", "t"},
        {"-r", "--json", "foo 1", "t"},
        {"-rm1", "foo", "t"},
        {"-rnv", "-m3", "foo", "t"},
        {"-rbh", "word", "t"},
        {"-rZl", "--include=*.txt", "foo", "t"},
        {"-rn", "--color=always", "fo+", "t"},
        {"-rnT", "word", "t"},
        {"-rn", hard, "t"},
        {"-rc", hard, "t"},
        {"-rq", "foo", "t"},
        {"-rq", "nowhere", "t"},
        {"-rs", "foo", "t"},
        {"-rna", "word", "t"},
        {"-rI", "word", "t"},
    };
    // Times in the JSON records differ from run to run.
    static const std::regex timing("\"(elapsed|elapsed_total)\":\\{[^}]*\\}|\"bytes_printed\":[0-9]+");
    for (const auto& row : rows) {
        std::vector<std::string> one = {"grep", "-j1"}, four = {"grep", "-j4"}, cores = {"grep"};
        for (auto* args : {&one, &four, &cores})
            args->insert(args->end(), row.begin(), row.end());
        const Result a = RunTool(dir.Path(), one, io.Path());
        ASSERT_TRUE(a.status == 0 || a.status == 1 || a.status == 2) << Show(one) << "\n" << a.err;
        for (const auto* args : {&four, &cores}) {
            const Result b = RunTool(dir.Path(), *args, io.Path());
            EXPECT_EQ(FirstDifference(std::regex_replace(a.out, timing, "T"), std::regex_replace(b.out, timing, "T")), "")
                << Show(*args);
            EXPECT_EQ(FirstDifference(a.err, b.err), "") << Show(*args);
            EXPECT_EQ(b.status, a.status) << Show(*args);
        }
    }
    // The rows see what they are about: the errors, the binary notice and
    // the separators between files.
    const Result errors = RunTool(dir.Path(), {"grep", "-j4", "-rn", hard, "t"}, io.Path());
    EXPECT_EQ(errors.status, 2);
    EXPECT_NE(errors.err.find("t/d4/hard.txt: matching stopped"), std::string::npos) << errors.err;
    EXPECT_NE(errors.err.find("t/d2/image.bin: binary file matches"), std::string::npos) << errors.err;
    if (locks) {
        EXPECT_NE(errors.err.find("t/d2/locked.txt: Permission denied"), std::string::npos) << errors.err;
        EXPECT_NE(errors.err.find("t/d3/closed: Permission denied"), std::string::npos) << errors.err;
    }
    const Result context = RunTool(dir.Path(), {"grep", "-j4", "-r", "-A1", "--group-separator=##", "word", "t"}, io.Path());
    EXPECT_NE(context.out.find("\n##\nt/d0/f10.txt:word"), std::string::npos);
}

// -q answers at the first selected line: no file after it is reported,
// though the workers may have searched ahead.
TEST(ParallelGrep, QuietStopsAtTheFirstMatchingFile)
{
    TempDir dir, io;
    WriteFile(dir.Path() / "t/a.txt", "nothing\n");
    WriteFile(dir.Path() / "t/b.txt", "foo 1\n");
    for (int i = 0; i < 50; ++i)
        WriteFile(dir.Path() / ("t/c" + std::to_string(i) + ".txt"), "c" + std::string(30, 'a') + "!1\n");
    for (const char* threads : {"-j1", "-j2", "-j4"}) {
        const Result quiet = RunTool(dir.Path(), {"grep", threads, "-rq", "(\\w+\\s?)*\\d$", "t"}, io.Path());
        EXPECT_EQ(quiet.status, 0) << threads;
        EXPECT_EQ(quiet.err, "") << threads;
        // Without -q every later file reports the engine giving up, in order.
        const Result all = RunTool(dir.Path(), {"grep", threads, "-r", "(\\w+\\s?)*\\d$", "t"}, io.Path());
        EXPECT_EQ(all.status, 2) << threads;
        EXPECT_EQ(all.out, "t/b.txt:foo 1\n") << threads;
        std::string expected;
        std::vector<std::string> names;
        for (int i = 0; i < 50; ++i)
            names.push_back("c" + std::to_string(i) + ".txt");
        std::sort(names.begin(), names.end());
        std::size_t at = 0;
        for (const std::string& name : names) {
            at = all.err.find("t/" + name + ": matching stopped", at);
            ASSERT_NE(at, std::string::npos) << threads << " " << name << "\n" << all.err;
        }
    }
}

// -j takes a count; a bad one is refused as a usage error.
TEST(ParallelGrep, ThreadCountIsChecked)
{
    TempDir dir, io;
    WriteFile(dir.Path() / "t/a.txt", "foo\n");
    EXPECT_EQ(RunTool(dir.Path(), {"grep", "-j", "x", "-r", "foo", "t"}, io.Path()).status, 2);
    EXPECT_EQ(RunTool(dir.Path(), {"grep", "--threads=-1", "-r", "foo", "t"}, io.Path()).status, 2);
    const Result zero = RunTool(dir.Path(), {"grep", "--threads", "0", "-r", "foo", "t"}, io.Path());
    EXPECT_EQ(zero.out, "t/a.txt:foo\n");
    EXPECT_EQ(zero.status, 0);
}

// Standard output redirected into the searched tree: that file is left out
// with a message (it would match its own lines again and again, filling the
// disk), on one thread and on several, in a walk and as an operand.
TEST(ParallelGrep, NeverReadsItsOwnOutput)
{
    TempDir tree;
    std::string lines, walked, named;
    for (int i = 0; i < 20000; ++i) {  // more output than one write buffer
        lines += "x " + std::to_string(i) + "\n";
        walked += "./a:x " + std::to_string(i) + "\n";
        named += "a:x " + std::to_string(i) + "\n";
    }
    WriteFile(tree.Path() / "a", lines);
    const struct {
        std::vector<std::string> args;
        std::string out, err;
    } rows[] = {
        {{"grep", "-j1", "-r", "x", "."}, walked, "quorvex: ./out: input file is also the output\n"},
        {{"grep", "-j4", "-r", "x", "."}, walked, "quorvex: ./out: input file is also the output\n"},
        {{"grep", "-j1", "x", "a", "out"}, named, "quorvex: out: input file is also the output\n"},
    };
    for (const auto& row : rows) {
        // The tool's output and errors go to "out" and "err" in the tree.
        const Result r = RunTool(tree.Path(), row.args, tree.Path(), 16 << 20);
        EXPECT_EQ(r.status, 2) << Show(row.args);
        EXPECT_EQ(r.err, row.err) << Show(row.args);
        EXPECT_EQ(FirstDifference(r.out, row.out), "") << Show(row.args);
    }
}

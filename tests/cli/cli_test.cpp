// Runs the quorvex binary on trees made by each test and checks its output,
// exit status, and what it does to the files.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "quorvex-cli-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path_, ignored);
    }
    const fs::path& Path() const { return path_; }
    void Write(const std::string& name, const std::string& text) const { WriteFile(path_ / name, text); }
    std::string Read(const std::string& name) const { return ReadFile(path_ / name); }
    bool Exists(const std::string& name) const { return fs::exists(path_ / name); }
    // Every path under the directory with its content, to prove nothing moved.
    std::string Snapshot() const
    {
        std::vector<std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(path_)) {
            std::string line = fs::relative(entry.path(), path_).string();
            if (entry.is_regular_file())
                line += "=" + ReadFile(entry.path());
            entries.push_back(line);
        }
        std::sort(entries.begin(), entries.end());
        std::string all;
        for (const std::string& line : entries)
            all += line + "\n";
        return all;
    }

private:
    fs::path path_;
};

struct RunOptions {
    std::string input;
    fs::path cwd;
    std::string stdoutPath;    // instead of capturing (for example /dev/full)
    rlim_t fileSizeLimit = 0;  // 0: none
    std::string program;       // another program (found on PATH) instead of quorvex
    bool asNobody = false;     // run as user and group 65534 (when started as root)
    rlim_t memoryLimit = 0;    // address space, 0: none
    std::string locale = "C";  // LC_ALL of the run
    std::vector<std::pair<std::string, std::string>> environment;  // set in the child
};

// The tool and the class library it loads, copied into a directory of mode
// 0755 under the temporary directory, for runs as another user: the build tree
// may lie where only its owner can enter (a clone under /root), and the
// tool's run path names the build tree. The copy runs with LD_LIBRARY_PATH
// naming that directory, which the loader searches before the run path.
// Empty when the copy cannot be made.
class StagedTool {
public:
    static const StagedTool& Get()
    {
        static const StagedTool staged;
        return staged;
    }
    ~StagedTool()
    {
        std::error_code ignored;
        if (!dir_.empty())
            fs::remove_all(dir_, ignored);
    }
    const std::string& Program() const { return program_; }
    const std::string& Directory() const { return dir_; }

private:
    StagedTool()
    {
        std::string pattern = (fs::temp_directory_path() / "quorvex-tool-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            return;
        dir_ = pattern;
        std::error_code error;
        const fs::path program = fs::path(dir_) / "quorvex";
        fs::copy_file(QUORVEX_CLI_PATH, program, error);
        if (!error)
            fs::copy_file(QUORVEX_CLI_LIBRARY_PATH, fs::path(dir_) / QUORVEX_CLI_LIBRARY_SONAME, error);
        if (!error)
            fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec, error);
        if (!error)
            program_ = program.string();
    }
    std::string dir_;
    std::string program_;
};

// Runs the tool with the arguments; standard input from a file, standard
// output and error captured through files (no pipe can fill up).
Result RunTool(const std::vector<std::string>& args, const RunOptions& options = RunOptions())
{
    TempDir io;
    io.Write("in", options.input);
    std::string in = (io.Path() / "in").string();
    std::string out = options.stdoutPath.empty() ? (io.Path() / "out").string() : options.stdoutPath;
    std::string err = (io.Path() / "err").string();

    const bool otherUser = options.asNobody && ::getuid() == 0;
    std::string program = options.program.empty() ? QUORVEX_CLI_PATH : options.program;
    if (otherUser && options.program.empty())
        program = StagedTool::Get().Program();
    std::vector<std::string> argvText = {program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvText)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t child = ::fork();
    if (child == 0) {
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0)
            ::_exit(120);
        int fdIn = ::open(in.c_str(), O_RDONLY);
        int fdOut = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int fdErr = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fdIn < 0 || fdOut < 0 || fdErr < 0)
            ::_exit(121);
        ::dup2(fdIn, 0);
        ::dup2(fdOut, 1);
        ::dup2(fdErr, 2);
        if (otherUser && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(123);
        if (otherUser && options.program.empty())
            ::setenv("LD_LIBRARY_PATH", StagedTool::Get().Directory().c_str(), 1);
        if (options.memoryLimit != 0) {
            struct rlimit limit = {options.memoryLimit, options.memoryLimit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        if (options.fileSizeLimit != 0) {
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
            struct rlimit limit = {options.fileSizeLimit, options.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::setenv("LC_ALL", options.locale.c_str(), 1);
        for (const auto& variable : options.environment)
            ::setenv(variable.first.c_str(), variable.second.c_str(), 1);
        ::execvp(argv[0], argv.data());
        ::_exit(122);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    Result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (options.stdoutPath.empty())
        result.out = io.Read("out");
    result.err = io.Read("err");
    return result;
}

Result RunIn(const TempDir& dir, const std::vector<std::string>& args, const std::string& input = "",
             const std::string& program = "")
{
    RunOptions options;
    options.cwd = dir.Path();
    options.input = input;
    options.program = program;
    return RunTool(args, options);
}

std::string SortedLines(std::string text)
{
    // NUL bytes after file names (-Z) end a line of their own.
    for (std::size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at + 5))
        text.replace(at, 1, "<NUL>\n");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

std::string Show(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& arg : args)
        text += " '" + arg + "'";
    return text;
}

// The tree most tests search.
void MakeTree(const TempDir& dir)
{
    dir.Write("a.txt", "alpha beta\ngamma alpha\n");
    dir.Write("b.txt", "nothing here\n");
    dir.Write("sub/c.txt", "alpha\n");
    dir.Write("sub/d.log", "ALPHA\n");
    dir.Write("dots.txt", "axb a.b A.B\n");
}

struct OutputRow {
    std::vector<std::string> args;
    std::string input;
    std::string out;
    int status;
};

void CheckRows(const TempDir& dir, const std::vector<OutputRow>& rows)
{
    for (const OutputRow& row : rows) {
        Result result = RunIn(dir, row.args, row.input);
        EXPECT_EQ(result.out, row.out) << "quorvex" << Show(row.args) << "\nstderr: " << result.err;
        EXPECT_EQ(result.status, row.status) << "quorvex" << Show(row.args) << "\nstderr: " << result.err;
    }
}

TEST(CliGrep, OutputFormatAndSwitches)
{
    TempDir dir;
    MakeTree(dir);
    CheckRows(dir, {
        {{"grep", "alpha", "a.txt"}, "", "alpha beta\ngamma alpha\n", 0},
        {{"grep", "-n", "alpha", "a.txt"}, "", "1:alpha beta\n2:gamma alpha\n", 0},
        {{"grep", "-n", "--no-line-number", "alpha", "a.txt"}, "", "alpha beta\ngamma alpha\n", 0},
        {{"grep", "-n", "alpha", "a.txt", "b.txt"}, "", "a.txt:1:alpha beta\na.txt:2:gamma alpha\n", 0},
        {{"grep", "-rn", "alpha", "."}, "", "./a.txt:1:alpha beta\n./a.txt:2:gamma alpha\n./sub/c.txt:1:alpha\n", 0},
        {{"grep", "-r", "alpha"}, "", "a.txt:alpha beta\na.txt:gamma alpha\nsub/c.txt:alpha\n", 0},
        {{"grep", "-ri", "alpha", "sub/"}, "", "sub/c.txt:alpha\nsub/d.log:ALPHA\n", 0},
        {{"grep", "-c", "alpha", "a.txt", "b.txt"}, "", "a.txt:2\nb.txt:0\n", 0},
        {{"grep", "-c", "alpha", "b.txt"}, "", "0\n", 1},
        {{"grep", "-rc", "alpha", "."}, "", "./a.txt:2\n./b.txt:0\n./dots.txt:0\n./sub/c.txt:1\n./sub/d.log:0\n", 0},
        {{"grep", "-rl", "alpha", "."}, "", "./a.txt\n./sub/c.txt\n", 0},
        {{"grep", "-rl", "-m", "1", "alpha", "."}, "", "./a.txt\n./sub/c.txt\n", 0},
        {{"grep", "-r", "-m", "1", "alpha", "."}, "", "./a.txt:alpha beta\n./sub/c.txt:alpha\n", 0},
        {{"grep", "-m", "1", "alpha", "a.txt", "sub/c.txt"}, "", "a.txt:alpha beta\nsub/c.txt:alpha\n", 0},
        {{"grep", "-m", "0", "alpha", "a.txt"}, "", "", 1},
        {{"grep", "-b", "gamma", "a.txt"}, "", "11:gamma alpha\n", 0},
        {{"grep", "-n", "gamma (alpha)", "a.txt"}, "", "2:gamma alpha\n", 0},
        {{"grep", "-h", "-r", "alpha", "sub"}, "", "alpha\n", 0},
        {{"grep", "-H", "alpha", "sub/c.txt"}, "", "sub/c.txt:alpha\n", 0},
        {{"grep", "alpha", "sub/*.txt"}, "", "sub/c.txt:alpha\n", 0},
        {{"grep", "-ri", "alpha", "*.log"}, "", "sub/d.log:ALPHA\n", 0},
        {{"grep", "-F", "-o", "a.b", "dots.txt"}, "", "a.b\n", 0},
        {{"grep", "-F", "-i", "-o", "a.b", "dots.txt"}, "", "a.b\nA.B\n", 0},
        {{"grep", "-o", "a.b", "dots.txt"}, "", "axb\na.b\n", 0},
        {{"grep", "-e", "-x", "a.txt"}, "", "", 1},
        {{"grep", "zzz", "a.txt"}, "", "", 1},
        {{"grep", "-q", "alpha", "a.txt"}, "", "", 0},
        {{"grep", "-n", "beta"}, "x\nbeta\n", "2:beta\n", 0},
        {{"grep", "-c", "a"}, "banana\nbread\nnone\n", "2\n", 0},
        {{"grep", "--color=always", "alpha", "sub/c.txt"}, "", "\33[01;31m\33[Kalpha\33[m\33[K\n", 0},
        {{"grep", "--color=never", "alpha", "sub/c.txt"}, "", "alpha\n", 0},
        {{"grep", "-E", "-G", "alpha\\|zzz", "a.txt"}, "", "alpha beta\ngamma alpha\n", 0},  // the last one wins
        {{"grep", "-G", "-P", "alpha\\|zzz", "a.txt"}, "", "", 1},
        // Each expression keeps its own group numbers (grep -P takes only one).
        {{"grep", "-e", "(a)\\1", "-e", "(b)\\1"}, "aa\nbb\nab\n", "aa\nbb\n", 0},
        {{"grep", "-e", "(?<x>a)\\k<x>", "-e", "(b)(c)\\2"}, "aa\nbcc\nbcb\n", "aa\nbcc\n", 0},
        {{"grep", "--color", "never", "a.txt", "b.txt"}, "", "", 1},  // --color takes no separate value
        {{"grep", "-o", "beta.*", "a.txt"}, "", "beta\n", 0},
        {{"grep", "-n", "-U", "beta\\ngamma", "a.txt"}, "", "1:alpha beta\n2:gamma alpha\n", 0},
        {{"grep", "-c", "beta\\ngamma", "a.txt"}, "", "0\n", 1},
        {{"grep", "-v", "b"}, "a\nb\nc", "a\nc\n", 0},
        {{"grep", "-H", "--label=in", "b", "-", "b.txt"}, "b\n", "in:b\n", 0},
        {{"grep", "-e", "gamma", "-e", "nothing", "a.txt", "b.txt"}, "", "a.txt:gamma alpha\nb.txt:nothing here\n", 0},
    });
}

// In a UTF-8 locale text is UTF-8: the same output as GNU grep -P where it
// agrees (dot, bracket expressions, case folding, \x{...}), as ripgrep for
// Unicode \w and \b; --no-unicode and the C locale work on bytes.
TEST(CliGrep, UnicodeInUtf8Locale)
{
    TempDir dir;
    dir.Write("u.txt", "café\ncrème brûlée\nÉCOLE\nété t\nΣίσυφος\n");
    const auto run = [&](const std::vector<std::string>& args, const std::string& program,
                         const std::string& locale) {
        RunOptions options;
        options.cwd = dir.Path();
        options.program = program;
        options.locale = locale;
        return RunTool(args, options);
    };
    const struct {
        std::vector<std::string> args;
        const char* peer;  // the program that agrees
    } rows[] = {
        {{"-o", "."}, "grep"},
        {{"-o", "[éè]"}, "grep"},
        {{"-i", "école"}, "grep"},
        {{"-io", "σ"}, "grep"},
        {{"-o", "\\x{e9}."}, "grep"},
        {{"-o", "\\bt\\b"}, "rg"},
        {{"-o", "\\w+"}, "rg"},
        {{"-ow", "t"}, "rg"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {"grep"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        args.push_back("u.txt");
        const Result ours = run(args, "", "C.UTF-8");
        std::vector<std::string> peer = row.args;
        if (std::string(row.peer) == "grep")
            peer.insert(peer.begin(), "-P");
        peer.push_back("u.txt");
        const Result theirs = run(peer, row.peer, "C.UTF-8");
        if (theirs.status == 122 || theirs.status == 127)
            continue;  // the peer is not installed
        EXPECT_EQ(ours.out, theirs.out) << row.args.back() << " against " << row.peer;
        EXPECT_EQ(ours.status, theirs.status) << row.args.back();
    }
    EXPECT_EQ(run({"grep", "-o", ".", "u.txt"}, "", "C").out.substr(0, 12), "c\na\nf\n\xC3\n\xA9\nc\n");
    EXPECT_EQ(run({"grep", "--no-unicode", "-c", "-i", "école", "u.txt"}, "", "C.UTF-8").status, 1);
    EXPECT_EQ(run({"replace", "[éè]", "e", "u.txt"}, "", "C.UTF-8").status, 0);
    EXPECT_EQ(dir.Read("u.txt"), "cafe\ncreme brûlee\nÉCOLE\nete t\nΣίσυφος\n");
    // grep -P's \p{..} are the Unicode categories, not byte mode's POSIX
    // classes: numbers beyond the digits, no tab among the separators.
    dir.Write("n.txt", "x\xC2\xB2\n\ty\n\xC2\xBD\n");
    EXPECT_EQ(run({"grep", "-o", "\\p{N}", "n.txt"}, "", "C.UTF-8").out, "\xC2\xB2\n\xC2\xBD\n");
    EXPECT_EQ(run({"grep", "-c", "[\\p{Zs}\\p{Z}]", "n.txt"}, "", "C.UTF-8").out, "0\n");
    EXPECT_EQ(run({"grep", "-o", "\\p{^N}\\P{Zs}", "n.txt"}, "", "C.UTF-8").out, "x\xC2\xB2\n\ty\n");
}

// A file with a UTF-16 byte-order mark is searched as its UTF-8 transcoding
// in Unicode mode, as ripgrep does, and as bytes with --no-unicode; replace
// leaves it unchanged and says why when it holds a match.
TEST(CliGrep, Utf16FilesInUnicodeMode)
{
    using namespace std::string_literals;
    TempDir dir;
    const std::string little = "\xFF\xFE" "\xC9\0c\0o\0l\0e\0\n\0=\xD8\0\xDE \0x\0\n\0"s;
    const std::string big = "\xFE\xFF" "\0\xE9\0c\0o\0l\0e"s;
    dir.Write("le.txt", little);
    dir.Write("be.txt", big);
    const auto run = [&](const std::vector<std::string>& args, const std::string& program) {
        RunOptions options;
        options.cwd = dir.Path();
        options.program = program;
        options.locale = "C.UTF-8";
        return RunTool(args, options);
    };
    const Result ours = run({"grep", "-n", "-i", "école|x", "le.txt"}, "");
    EXPECT_EQ(ours.out, "1:\xC3\x89" "cole\n2:\xF0\x9F\x98\x80 x\n");
    EXPECT_EQ(ours.status, 0);
    const Result theirs = run({"-n", "-i", "école|x", "le.txt"}, "rg");
    if (theirs.status != 127) {
        EXPECT_EQ(ours.out, theirs.out);
    }
    EXPECT_EQ(run({"grep", "-o", "é....", "be.txt"}, "").out, "\xC3\xA9" "cole\n");
    EXPECT_EQ(run({"grep", "--no-unicode", "-c", "cole", "le.txt"}, "").status, 1);

    const Result replaced = run({"replace", "-i", "école", "ecole", "le.txt", "be.txt"}, "");
    EXPECT_NE(replaced.err.find("UTF-16"), std::string::npos) << replaced.err;
    EXPECT_EQ(replaced.status, 2);
    EXPECT_EQ(dir.Read("le.txt"), little);
    EXPECT_EQ(dir.Read("be.txt"), big);
    EXPECT_EQ(run({"replace", "zzz", "y", "le.txt"}, "").status, 1);  // no match: nothing to say
}

// The same switches and expressions given to GNU grep -P (LC_ALL=C) and to
// quorvex grep on one tree: the same lines (sorted, since grep lists
// directories in their own order) and the same exit status.
TEST(CliGrep, SameAsGnuGrep)
{
    TempDir dir;
    dir.Write("t/a.txt", "foo bar\nbaz\n\nfoo\nbarfoo baz\nfood\n");
    dir.Write("t/nofinal.txt", "one foo\ntwo\nthree fo");
    dir.Write("t/sub/b.log", "a foo b\nFOO\nxx\nyy\nzz\nfoo foo\n");
    dir.Write("t/sub/deep/c.txt", "nothing here\n");
    dir.Write("t/.hidden/d.txt", "foo in hidden\n");
    dir.Write("t/st*r.txt", "foo star\n");  // a name taken literally
    dir.Write("t/stxr.txt", "foo other\n");
    fs::create_symlink("sub/b.log", dir.Path() / "t/lnk.txt");  // -r leaves links out, -R follows them
    fs::create_symlink("sub", dir.Path() / "t/dl");
    if (RunIn(dir, {"--version"}, "", "grep").status != 0)
        GTEST_SKIP() << "GNU grep is not installed";
    const std::vector<std::vector<std::string>> rows = {
        {"-rn", "foo", "t"},
        {"-rc", "foo", "t"},
        {"-rl", "foo", "t"},
        {"-rL", "foo", "t"},
        {"-rv", "foo", "t"},
        {"-rnv", "-m2", "foo", "t"},
        {"-rn", "-C1", "foo", "t"},
        {"-n", "-A1", "-B2", "xx", "t/sub/b.log"},
        {"-n", "-C1", "foo", "t/a.txt", "t/sub/b.log"},
        {"-ro", "fo+\\w*", "t"},
        {"-rw", "fo", "t"},
        {"-rwn", "foo", "t"},
        {"-rx", "foo", "t"},
        {"-rnb", "foo", "t"},
        {"-rbo", "ba.", "t"},
        {"-ri", "FOO", "t"},
        {"-rh", "foo", "t"},
        {"-Hn", "foo", "t/a.txt"},
        {"-rlZ", "foo", "t"},
        {"-r", "--include=*.txt", "foo", "t"},
        {"-r", "--exclude=*.txt", "foo", "t"},
        {"-r", "--exclude-dir=sub", "foo", "t"},
        {"-rn", "^$", "t"},
        {"-rn", "o$", "t"},
        {"-rc", "", "t"},
        {"-n", "foo", "t/a.txt", "t/nofinal.txt"},
        {"-rn", "\\bba\\w+", "t"},
        {"-rc", "-m1", "foo", "t"},
        {"-rno", "(?<=foo )\\w+", "t"},
        {"-rn", "foo|zz", "t"},
        {"-rn", "^f.*d$", "t"},
        {"-q", "foo", "t/a.txt"},
        {"-q", "absent", "t/a.txt"},
        {"-s", "foo", "t/missing.txt", "t/a.txt"},
        {"-c", "foo", "t/sub/deep/c.txt"},
        {"--color=always", "-n", "foo", "t/a.txt", "t/sub/b.log"},
        {"-R", "foo", "t"},
        {"-Rc", "foo", "t"},
        {"foo", "t/st*r.txt"},
        {"foo", "t/lnk.txt", "t/dl/b.log"},
        {"-no", "-C1", "foo", "t/sub/b.log"},  // context only groups the matches
        {"-o", "-A1", "foo", "t/a.txt"},
        {"foo", "/dev/null", "t/a.txt"},
        {"-r", "--exclude-dir=sub", "foo", "t/sub", "t/a.txt"},  // an operand directory is excluded too
        {"-r", "--exclude-dir=sub", "foo", "t/sub/"},
    };
    for (const auto& args : rows) {
        std::vector<std::string> ours = {"grep"};
        ours.insert(ours.end(), args.begin(), args.end());
        std::vector<std::string> theirs = {"-P"};
        theirs.insert(theirs.end(), args.begin(), args.end());
        const Result mine = RunIn(dir, ours);
        const Result gnu = RunIn(dir, theirs, "", "grep");
        EXPECT_EQ(SortedLines(mine.out), SortedLines(gnu.out)) << "grep" << Show(args) << "\nstderr: " << mine.err;
        EXPECT_EQ(mine.status, gnu.status) << "grep" << Show(args) << "\nstderr: " << mine.err;
    }
}

// -c counts the lines holding a match without handing out matches: the same
// counts as GNU grep for files and standard input, with the text twice on a
// line, CRLF and blank lines, no final line feed, NUL bytes, and lines that
// straddle the 64 KiB reads.
TEST(CliGrep, CountsAsGnuGrep)
{
    TempDir dir;
    std::string dense;
    for (int i = 0; dense.size() < 300000; ++i)
        dense += i % 7 == 0 ? "an an\r\n" : i % 5 == 0 ? "\n" : i % 3 == 0 ? "no match here, a long line\n" : "ban x\n";
    dense += "an";  // no final line feed
    dir.Write("dense.txt", dense);
    dir.Write("bin.dat", std::string("an\0an\0\0x\nan\n", 13));
    dir.Write("z.dat", std::string("an\0x\0an an\0", 11));
    if (RunIn(dir, {"--version"}, "", "grep").status != 0)
        GTEST_SKIP() << "GNU grep is not installed";
    const std::vector<std::vector<std::string>> rows = {
        {"-c", "an"},   {"-cv", "an"},     {"-c", "^b"},     {"-cv", "^b"}, {"-ci", "AN"}, {"-c", "a[n]"},
        {"-c", "n\\s*$"}, {"-c", "an|x"}, {"-cw", "an"}, {"-cx", "ban x"}, {"-c", ""},
    };
    for (const char* file : {"dense.txt", "bin.dat"}) {
        for (const auto& row : rows) {
            std::vector<std::string> args = row;
            args.push_back(file);
            std::vector<std::string> ours = {"grep"};
            ours.insert(ours.end(), args.begin(), args.end());
            args.insert(args.begin(), "-P");
            const Result gnu = RunIn(dir, args, "", "grep");
            const Result mine = RunIn(dir, ours);
            EXPECT_EQ(mine.out, gnu.out) << "grep" << Show(args);
            EXPECT_EQ(mine.status, gnu.status) << "grep" << Show(args);
            // The same bytes through a pipe.
            ours.back() = "-";
            EXPECT_EQ(RunIn(dir, ours, dir.Read(file)).out, gnu.out) << "grep" << Show(args) << " on standard input";
        }
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{"-cz", "an", "z.dat"},
                                                  std::vector<std::string>{"-czv", "^an$", "z.dat"},
                                                  std::vector<std::string>{"-c", "--binary-files=without-match", "an", "bin.dat"}}) {
        std::vector<std::string> ours = {"grep"};
        ours.insert(ours.end(), args.begin(), args.end());
        const Result gnu = RunIn(dir, args, "", "grep");
        const Result mine = RunIn(dir, ours);
        EXPECT_EQ(mine.out, gnu.out) << "grep" << Show(args);
        EXPECT_EQ(mine.status, gnu.status) << "grep" << Show(args);
    }
}

// Switches and syntaxes given the same to GNU grep and to quorvex grep (no
// -P here): getopt's rules, -E/-G/-F, several expressions, file selection,
// output forms. Same lines (sorted), same standard error for the rows that
// check it, same exit status.
TEST(CliGrep, SwitchesAsGnuGrep)
{
    TempDir dir;
    dir.Write("t/a.txt", "foo bar\na|b\naa\nbb\nab+\nx{2}\n(x)\nfoo\n\ttab\nq^r$s\n");
    dir.Write("t/sub/b.log", "foo\n1\n2\n3\n4\nfoo\n");
    dir.Write("t/sub/c.txt", "FOO\n");
    dir.Write("t/bin.dat", std::string("x\0foo\n", 6));
    dir.Write("list", "aa\nbb\n");
    dir.Write("ex", "*.log\n\n");
    if (RunIn(dir, {"--version"}, "", "grep").status != 0)
        GTEST_SKIP() << "GNU grep is not installed";
    struct Row {
        std::vector<std::string> args;
        std::string input;
        bool sameErrors;
    };
    const std::vector<Row> rows = {
        {{"-G", "a\\|b", "t/a.txt"}, "", false},
        {{"-E", "a|b", "t/a.txt"}, "", false},
        {{"-G", "b+", "t/a.txt"}, "", false},
        {{"-G", "\\(x\\)", "t/a.txt"}, "", false},
        {{"-G", "(x)", "t/a.txt"}, "", false},
        {{"-E", "x{2}", "t/a.txt"}, "", false},
        {{"-G", "x{2}", "t/a.txt"}, "", false},
        {{"-G", "q^r$s", "t/a.txt"}, "", false},
        {{"-E", "^(fo|aa)", "t/a.txt"}, "", false},
        {{"-G", "[\\|]", "t/a.txt"}, "", false},
        {{"-E", "-e", "(a)\\1", "-e", "(b)\\1", "t/a.txt"}, "", false},
        {{"-x", "-E", "a+|b+", "t/a.txt"}, "", false},
        {{"-F", "-e", "aa\nbb", "t/a.txt"}, "", false},
        {{"-e", "aa\nbb", "t/a.txt"}, "", false},
        {{"-f", "list", "t/a.txt"}, "", false},
        {{"-f", "-", "t/a.txt"}, "bb\nfoo\n", false},
        {{"--ignore", "FOO", "t/a.txt"}, "", true},
        {{"-hH", "-m1", "-m2", "foo", "t/a.txt"}, "", true},
        {{"-r", "-H", "-h", "foo", "t"}, "", true},
        {{"-lc", "foo", "t/a.txt"}, "", true},
        {{"-lL", "foo", "t/a.txt", "t/sub/c.txt"}, "", true},
        {{"--color", "foo", "t/a.txt"}, "", true},
        {{"--color=always", "--color=never", "foo", "t/a.txt"}, "", true},
        {{"-y", "FOO", "t/a.txt"}, "", true},
        {{"-i", "--no-ignore-case", "FOO", "t/sub/c.txt"}, "", true},
        {{"-1", "-n", "^2$", "t/sub/b.log"}, "", true},
        {{"-A1", "--group-separator=::", "^[13]$", "t/sub/b.log"}, "", true},
        {{"-A1", "--no-group-separator", "^[13]$", "t/sub/b.log"}, "", true},
        {{"-Tn", "-H", "foo", "t/sub/b.log"}, "", true},
        {{"-Tb", "foo", "t/a.txt"}, "", true},
        {{"-r", "--exclude-from=ex", "foo", "t"}, "", true},
        {{"--exclude=t/*.txt", "foo", "t/a.txt", "t/sub/b.log"}, "", true},
        {{"--include=*.log", "foo", "t/a.txt", "t/sub/b.log"}, "", true},
        {{"-r", "--exclude=sub/*.txt", "-i", "foo", "t"}, "", true},
        {{"-d", "skip", "foo", "t", "t/a.txt"}, "", true},
        {{"-d", "recurse", "-c", "foo", "t"}, "", true},
        {{"-D", "skip", "foo", "/dev/null", "t/a.txt"}, "", true},
        {{"-I", "-r", "foo", "t"}, "", true},
        {{"foo", "t/bin.dat"}, "", true},
        {{"-A", "x", "foo", "t/a.txt"}, "", true},
        {{"-C", "-1", "foo", "t/a.txt"}, "", true},
        {{"-r", "foo", "--", "-e", "t"}, "", false},
    };
    for (const Row& row : rows) {
        std::vector<std::string> ours = {"grep"};
        ours.insert(ours.end(), row.args.begin(), row.args.end());
        const Result mine = RunIn(dir, ours, row.input);
        const Result gnu = RunIn(dir, row.args, row.input, "grep");
        EXPECT_EQ(SortedLines(mine.out), SortedLines(gnu.out)) << "grep" << Show(row.args) << "\nstderr: " << mine.err;
        EXPECT_EQ(mine.status, gnu.status) << "grep" << Show(row.args) << "\nstderr: " << mine.err;
        std::string theirs = gnu.err;
        for (std::size_t at = theirs.find("grep: "); at != std::string::npos; at = theirs.find("grep: ", at + 9))
            theirs.replace(at, 6, "quorvex: ");
        if (row.sameErrors) {
            EXPECT_EQ(mine.err, theirs) << "grep" << Show(row.args);
        }
    }
}

// grep -P's dialect: the constructs the engine spells differently give what
// GNU grep -P gives.
TEST(CliGrep, PerlDialectAsGnuGrep)
{
    TempDir dir;
    dir.Write("p.txt", "abc\nxbcx\naXa\nabab\na.b*c\nabcdefghijjk\nA1\n\x08x\n(x\n");
    if (RunIn(dir, {"--version"}, "", "grep").status != 0)
        GTEST_SKIP() << "GNU grep is not installed";
    const std::vector<std::vector<std::string>> rows = {
        {"-o", "a\\Nc"},
        {"-c", "\\N"},
        {"(?P<n>a)b(?P=n)"},
        {"(?P<n>ab)(?P>n)"},
        {"(a)b\\g{-1}"},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)\\10"},  // group ten
        {"\\101"},                                  // fewer groups: octal, the letter A
        {"-o", "(?<=a|bc)x"},
        {"-o", "(?<=x|ab)c"},
        {"-o", "(?<!a|xb)c"},
        {"-o", "(?<=(a)|(bc))x\\1"},
        {"\\Qa.b*\\E"},
        {"\\Q(x"},
        {"-o", "\\p{Lu}\\P{Lu}"},
        {"(?C1)X"},
    };
    for (const auto& args : rows) {
        std::vector<std::string> ours = {"grep"};
        ours.insert(ours.end(), args.begin(), args.end());
        ours.push_back("p.txt");
        std::vector<std::string> theirs = {"-P"};
        theirs.insert(theirs.end(), args.begin(), args.end());
        theirs.push_back("p.txt");
        const Result mine = RunIn(dir, ours);
        const Result gnu = RunIn(dir, theirs, "", "grep");
        EXPECT_EQ(mine.out, gnu.out) << "grep" << Show(args) << "\nstderr: " << mine.err;
        EXPECT_EQ(mine.status, gnu.status) << "grep" << Show(args) << "\nstderr: " << mine.err;
    }
    const Result refused = RunIn(dir, {"grep", "[\\N]", "p.txt"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("\\N is not supported inside brackets"), std::string::npos) << refused.err;
}

// A long line under an expression that backtracks deep: matched up to a
// bound; beyond it the file is named and the others are still searched.
TEST(CliGrep, DeepBacktrackingIsBounded)
{
    TempDir dir;
    std::string line;
    for (std::size_t i = 0; i < 100000; ++i)
        line += (i * 7919 % 13) < 6 ? 'a' : 'b';
    dir.Write("long.txt", line + "X\n");
    dir.Write("huge.txt", line + line + line + line + line + line + line + line + "X\n");
    dir.Write("small.txt", "abX\n");
    const Result fits = RunIn(dir, {"grep", "-c", "(a|b)*X", "long.txt", "small.txt"});
    EXPECT_EQ(fits.status, 0) << fits.err;
    EXPECT_EQ(fits.out, "long.txt:1\nsmall.txt:1\n");
    const Result beyond = RunIn(dir, {"grep", "-c", "(a|b)*X", "huge.txt", "small.txt"});
    EXPECT_EQ(beyond.status, 2);
    EXPECT_NE(beyond.err.find("quorvex: huge.txt: matching stopped: "), std::string::npos) << beyond.err;
    EXPECT_EQ(beyond.out, "small.txt:1\n");
}

// GREP_COLORS and GREP_COLOR read as GNU grep reads them: the same bytes.
TEST(CliGrep, ColoursAsGnuGrep)
{
    TempDir dir;
    dir.Write("a.txt", "one\nfoo bar foo\nthree\n");
    if (RunIn(dir, {"--version"}, "", "grep").status != 0)
        GTEST_SKIP() << "GNU grep is not installed";
    const std::vector<std::pair<std::string, std::string>> environments = {
        {"GREP_COLORS", "ms=04;32:fn=1:ln=33:bn=34:se=35"},
        {"GREP_COLORS", "sl=1:cx=2:mt=7"},
        {"GREP_COLORS", "ne:fn="},
        {"GREP_COLOR", "7"},
    };
    for (const auto& variable : environments) {
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"--color=always", "-Hnb", "-C1", "foo", "a.txt"},
              std::vector<std::string>{"--color=always", "-c", "foo", "a.txt", "a.txt"}}) {
            RunOptions options;
            options.cwd = dir.Path();
            options.environment = {variable};
            std::vector<std::string> ours = {"grep"};
            ours.insert(ours.end(), args.begin(), args.end());
            const Result mine = RunTool(ours, options);
            options.program = "grep";
            const Result gnu = RunTool(args, options);
            EXPECT_EQ(mine.out, gnu.out) << variable.first << "=" << variable.second << Show(args);
            EXPECT_EQ(mine.err.empty(), gnu.err.empty()) << variable.first << "=" << variable.second << mine.err;
        }
    }
}

TEST(CliGrep, BinaryFiles)
{
    TempDir dir;
    dir.Write("bin.dat", std::string("a\0foo\n", 6));
    CheckRows(dir, {
        {{"grep", "foo", "bin.dat"}, "", "", 0},  // the notice goes to standard error
        {{"grep", "-a", "foo", "bin.dat"}, "", std::string("a\0foo\n", 6), 0},
        {{"grep", "--binary-files=text", "-c", "foo", "bin.dat"}, "", "1\n", 0},
        {{"grep", "-c", "foo", "bin.dat"}, "", "1\n", 0},
        {{"grep", "--binary-files=without-match", "foo", "bin.dat"}, "", "", 1},
        {{"grep", "zzz", "bin.dat"}, "", "", 1},
        {{"replace", "foo", "bar", "bin.dat"}, "", "0 replacements in 0 files; 1 binary file skipped; -a to include\n", 1},
        {{"replace", "zzz", "bar", "bin.dat"}, "", "0 replacements in 0 files\n", 1},
    });
    EXPECT_EQ(dir.Read("bin.dat"), std::string("a\0foo\n", 6));
    CheckRows(dir, {{{"replace", "-a", "foo", "bar", "bin.dat"}, "", "1 replacement in 1 file\n", 0}});
    EXPECT_EQ(dir.Read("bin.dat"), std::string("a\0bar\n", 6));
}

// --json against ripgrep's own --json for the same search (timings and the
// byte counts of the output left out).
TEST(CliGrep, JsonAsRipgrepWritesIt)
{
    TempDir dir;
    dir.Write("j.txt", "foo bar\nbaz\nfoo foo\n");
    dir.Write("k.txt", "x\xff foo\n");
    // Escapes at the edges of plain runs; bytes past the first eight (read a
    // word at a time) that are valid or not UTF-8.
    dir.Write("e.txt", "\"q\" \\ t\tc\x01 foo\x7f\"\n12345678\xc3\xa9 foo\n123456789abc\xc3 foo\nfoo\\\n"
                       "0123456789abcdef\xf0\x9f\x98\x80" "foo\xed\xa0\x80\n");
    const std::vector<std::string> args = {"--json", "-C1", "foo", "j.txt", "k.txt", "e.txt"};
    std::vector<std::string> ours = {"grep"};
    ours.insert(ours.end(), args.begin(), args.end());
    const Result mine = RunIn(dir, ours);
    EXPECT_EQ(mine.status, 0) << mine.err;
    EXPECT_NE(mine.out.find("{\"type\":\"match\",\"data\":{\"path\":{\"text\":\"k.txt\"},\"lines\":{\"bytes\":"
                            "\"eP8gZm9vCg==\"},\"line_number\":1,\"absolute_offset\":0,\"submatches\":[{\"match\":"
                            "{\"text\":\"foo\"},\"start\":3,\"end\":6}]}}\n"),
              std::string::npos)
        << mine.out;
    std::vector<std::string> theirs = {"-j1"};
    theirs.insert(theirs.end(), args.begin(), args.end());
    const Result rg = RunIn(dir, theirs, "", "rg");
    if (rg.status == 127 || rg.status == 122)
        GTEST_SKIP() << "ripgrep is not installed";
    const auto normalise = [](const std::string& text) {
        static const std::regex timing("\"(elapsed|elapsed_total)\":\\{[^}]*\\}|\"bytes_printed\":[0-9]+");
        return SortedLines(std::regex_replace(text, timing, "T"));
    };
    EXPECT_EQ(normalise(mine.out), normalise(rg.out));
}

// What the tool cannot read it says, as grep does, and the exit status is 2
// (with -s too: it silences the messages, not the status).
TEST(CliTruth, UnreadableFilesAreReported)
{
    if (::getuid() == 0 && StagedTool::Get().Program().empty())
        GTEST_SKIP() << "the tool cannot be copied where the user nobody may run it";
    TempDir dir;
    dir.Write("t/ok.txt", "foo\n");
    dir.Write("t/secret.txt", "foo\n");
    dir.Write("t/locked/x.txt", "foo\n");
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec |
                                    fs::perms::group_read | fs::perms::others_read);
    if (::getuid() == 0) {
        // Root reads everything: the tool runs as nobody, who owns the tree.
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
            ASSERT_EQ(::lchown(entry.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown(dir.Path().c_str(), 65534, 65534), 0);
    }
    fs::permissions(dir.Path() / "t/secret.txt", fs::perms::none);
    fs::permissions(dir.Path() / "t/locked", fs::perms::none);
    struct Row {
        std::vector<std::string> args;
        std::string out;
        std::vector<std::string> errs;  // each must appear; none: stderr empty
        int status;
    };
    const std::vector<Row> rows = {
        {{"grep", "-r", "foo", "t"},
         "t/ok.txt:foo\n",
         {"quorvex: t/secret.txt: Permission denied\n", "quorvex: t/locked: Permission denied\n"},
         2},
        {{"grep", "-rs", "foo", "t"}, "t/ok.txt:foo\n", {}, 2},
        {{"grep", "-rq", "foo", "t"}, "", {}, 0},
        {{"grep", "-rc", "zzz", "t"}, "t/ok.txt:0\n", {"t/secret.txt: Permission denied"}, 2},
        {{"grep", "foo", "t/secret.txt"}, "", {"quorvex: t/secret.txt: Permission denied\n"}, 2},
        {{"replace", "-r", "foo", "bar", "t"}, "1 replacement in 1 file\n", {"t/secret.txt: Permission denied"}, 2},
    };
    for (const Row& row : rows) {
        RunOptions options;
        options.cwd = dir.Path();
        options.asNobody = true;
        const Result result = RunTool(row.args, options);
        EXPECT_EQ(result.out, row.out) << "quorvex" << Show(row.args) << "\nstderr: " << result.err;
        EXPECT_EQ(result.status, row.status) << "quorvex" << Show(row.args) << "\nstderr: " << result.err;
        if (row.errs.empty()) {
            EXPECT_EQ(result.err, "") << "quorvex" << Show(row.args);
        }
        for (const std::string& err : row.errs)
            EXPECT_NE(result.err.find(err), std::string::npos) << "quorvex" << Show(row.args) << "\nstderr: " << result.err;
    }
    fs::permissions(dir.Path() / "t/locked", fs::perms::owner_all);
    EXPECT_EQ(dir.Read("t/ok.txt"), "bar\n");
    EXPECT_EQ(dir.Read("t/locked/x.txt"), "foo\n");
}

// A file larger than the memory the tool may use: grep reads it in blocks;
// replace finds its first line, then a line longer than the memory there is
// (its NULs): the search failed part way, so the file stays as it was and the
// others are changed.
TEST(CliTruth, FileTooLargeForMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory does not fit under an address-space limit";
#endif
    TempDir dir;
    dir.Write("small.txt", "foo\n");
    dir.Write("big.txt", "foo\n");
    fs::resize_file(dir.Path() / "big.txt", std::uintmax_t(1) << 30);  // sparse: no disk space used
    RunOptions options;
    options.cwd = dir.Path();
    options.memoryLimit = rlim_t(512) << 20;
    struct Row {
        std::vector<std::string> args;
        std::string out;
        int status;
        std::string err;
    };
    // grep reads in blocks: memory does not follow the file (its NULs end
    // lines there, as binary data).
    for (const Row& row : std::vector<Row>{
             {{"grep", "foo", "big.txt", "small.txt"}, "small.txt:foo\n", 0, "quorvex: big.txt: binary file matches\n"},
             {{"replace", "foo", "bar", "big.txt", "small.txt"},
              "1 replacement in 1 file; 1 of 2 files with matches not changed\n", 2,
              "quorvex: big.txt: matching stopped: out of memory"}}) {
        const Result result = RunTool(row.args, options);
        EXPECT_EQ(result.out, row.out) << result.err;
        EXPECT_EQ(result.status, row.status) << result.err;
        EXPECT_NE(result.err.find(row.err), std::string::npos) << result.err;
        // The engine's reason is not a backup name.
        EXPECT_EQ(result.err.find("old content is kept"), std::string::npos) << result.err;
    }
    EXPECT_EQ(dir.Read("small.txt"), "bar\n");
    EXPECT_EQ(fs::file_size(dir.Path() / "big.txt"), std::uintmax_t(1) << 30);
    std::ifstream big(dir.Path() / "big.txt", std::ios::binary);
    char head[5] = {};
    big.read(head, 5);
    EXPECT_EQ(std::string(head, 5), std::string("foo\n\0", 5));
}

// A file past 4 GiB (sparse: its holes read as NUL bytes) is changed exactly
// at its matches, one near its start and one at its end.
TEST(CliReplace, FilePastFourGibibytes)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "too large for the sanitizers' memory";
#endif
    TempDir dir;
    const std::uint64_t size = (std::uint64_t(4) << 30) + 4096;
    const std::string file = (dir.Path() / "big.log").string();
    {
        const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "x needle\n", 9, 100), 9);
        ASSERT_EQ(::pwrite(fd, "\nlast needle\n", 13, static_cast<off_t>(size - 13)), 13);
        ::close(fd);
    }
    const auto readAt = [&](std::uint64_t at, std::size_t count) {
        std::string out(count, '?');
        const int fd = ::open(file.c_str(), O_RDONLY);
        const ssize_t got = ::pread(fd, &out[0], count, static_cast<off_t>(at));
        ::close(fd);
        out.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
        return out;
    };
    RunOptions options;
    options.cwd = dir.Path();
    const Result result = RunTool({"replace", "-a", "needle", "pin", "big.log"}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "2 replacements in 1 file\n") << result.err;
    EXPECT_EQ(fs::file_size(file), size - 6);
    EXPECT_EQ(readAt(96, 12), std::string(4, '\0') + "x pin\n" + std::string(2, '\0'));
    EXPECT_EQ(readAt(size - 19, 13), std::string(3, '\0') + "\nlast pin\n");
    EXPECT_EQ(readAt(std::uint64_t(2) << 30, 8), std::string(8, '\0'));
}

// --diff keeps what it holds bounded: a file it cannot show whole is named,
// never shown in part.
TEST(CliReplace, DiffOfAFileTooLargeToShowIsRefused)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "too large for the sanitizers' memory";
#endif
    TempDir dir;
    const std::uint64_t size = (std::uint64_t(2) << 30) + 4096;
    const std::string file = (dir.Path() / "big.log").string();
    {
        const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "x needle\n", 9, 100), 9);
        ASSERT_EQ(::pwrite(fd, "\nlast needle\n", 13, static_cast<off_t>(size - 13)), 13);
        ::close(fd);
    }
    RunOptions options;
    options.cwd = dir.Path();
    struct Row {
        std::vector<std::string> args;
        std::string err;
    };
    for (const Row& row : std::vector<Row>{
             {{"replace", "--diff", "-a", "needle", "pin", "big.log"},
              "quorvex: big.log: too large for --diff (matches past 2 GiB): not shown\n"},
             {{"replace", "--diff", "-a", "-U", "needle", "pin", "big.log"},
              "quorvex: big.log: too large for --diff -U (over 256 MiB): not shown\n"}}) {
        const Result result = RunTool(row.args, options);
        EXPECT_EQ(result.status, 2) << row.args[3];
        EXPECT_EQ(result.out, "") << row.args[3];
        EXPECT_EQ(result.err.substr(0, row.err.size()), row.err) << row.args[3];
    }
    EXPECT_EQ(fs::file_size(file), size) << "nothing changed";
}

TEST(CliGrep, LargeOutputIsComplete)
{
    // Far more output than one buffer holds: nothing may be lost or doubled
    // where the buffer is written out.
    TempDir dir;
    std::string text;
    std::string expected;
    for (int i = 0; i < 60000; ++i) {
        std::string word = "w" + std::to_string(i);
        text += word + " filler\n";
        expected += std::to_string(i + 1) + ":" + word + " filler\n";
    }
    dir.Write("big.txt", text);
    Result result = RunIn(dir, {"grep", "-n", "w\\d+", "big.txt"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out == expected) << "output of " << result.out.size() << " bytes, expected "
                                        << expected.size();
}

struct ErrorRow {
    std::vector<std::string> args;
    int status;
    std::string err;  // must appear in standard error
    std::string out;  // exact standard output
};

// A FIFO named as an operand is read as a stream, as grep reads it; the
// writer gives up after a few seconds if nobody opens it for reading.
TEST(CliErrors, PipeNamedAsAnOperandIsRead)
{
    TempDir dir;
    const std::string fifo = (fs::path(dir.Path()) / "p").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (int tries = 0; tries < 500; ++tries) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                const char text[] = "one\ntwo alpha\n";
                const bool whole = ::write(fd, text, sizeof text - 1) == static_cast<ssize_t>(sizeof text - 1);
                ::close(fd);
                ::_exit(whole ? 0 : 1);
            }
            ::usleep(10000);
        }
        ::_exit(2);
    }
    const Result result = RunIn(dir, {"grep", "-n", "alpha", "p"});
    int status = 0;
    ::waitpid(writer, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the tool never opened the pipe";
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "2:two alpha\n");
}

TEST(CliErrors, ExitCodesAndMessages)
{
    TempDir dir;
    MakeTree(dir);
    dir.Write("garbage.cfg", "this is not a settings file");
    dir.Write("mx.txt", "ok\n" + std::string(60, 'x') + "\n");
    const std::vector<ErrorRow> rows = {
        {{"grep", "(", "a.txt"}, 2, "quorvex: bad expression: ", ""},
        {{"grep", "-F", "(", "a.txt"}, 1, "", ""},
        {{"search", "a[", "abc"}, 2, "quorvex: bad expression: ", ""},
        {{"merge", "(x", "y", "abc"}, 2, "quorvex: bad expression: ", ""},
        {{"replace", "(", "x", "a.txt"}, 2, "quorvex: bad expression: ", ""},
        {{"search", "", "abc"}, 2, "quorvex: empty expression", ""},
        {{"grep", "alpha", "missing.txt"}, 2, "quorvex: missing.txt: No such file or directory", ""},
        {{"grep", "alpha", "nodir/*.txt"}, 2, "nodir: No such file or directory", ""},
        {{"grep", "alpha", "sub"}, 2, "quorvex: sub: Is a directory", ""},
        // (The look-ahead, not the `y`: the automaton prefilter skips lines
        // without a `y`, which cannot match, before the engine would give up.)
        {{"grep", "(x+x+)+(?=y)", "mx.txt"}, 2, "quorvex: mx.txt: matching stopped: ", ""},
        {{"replace", "(x+x+)+(?=y)", "z", "mx.txt"}, 2, "quorvex: mx.txt: matching stopped: ", ""},
        {{"grep", "alpha", "/dev/null", "a.txt"}, 0, "", "a.txt:alpha beta\na.txt:gamma alpha\n"},  // as grep reads it
        {{"replace", "alpha", "x", "/dev/null"}, 2, "quorvex: /dev/null: not a regular file", ""},
        {{"grep", "alpha", "missing.txt", "a.txt"}, 2, "missing.txt", "a.txt:alpha beta\na.txt:gamma alpha\n"},
        {{"grep", "-q", "alpha", "missing.txt", "a.txt"}, 0, "missing.txt", ""},
        {{"grep", "--syntax", "basic", "alpha\\|zzz", "a.txt"}, 0, "", "alpha beta\ngamma alpha\n"},
        {{"grep", "-A", "x", "alpha", "a.txt"}, 2, "quorvex: x: invalid context length argument", ""},
        {{"grep", "-m", "1x", "alpha", "a.txt"}, 2, "quorvex: invalid max count", ""},
        {{"grep", "--i", "alpha", "a.txt"}, 2, "option '--i' is ambiguous", ""},
        {{"grep", "--frob", "alpha", "a.txt"}, 2, "unrecognized option '--frob'", ""},
        {{"grep", "-d", "walk", "alpha", "a.txt"}, 2, "'walk' for '--directories'", ""},
        {{"grep", "alpha", "a.txt", "-e"}, 2, "option requires an argument -- 'e'", ""},
        {{"grep", "--syntax", "weird", "alpha", "a.txt"}, 2, "weird", ""},
        {{"grep", "--color=sometimes", "alpha", "a.txt"}, 2, "sometimes", ""},
        {{"grep", "-m", "-3", "alpha", "a.txt"}, 2, "quorvex:", ""},
        {{}, 2, "quorvex:", ""},
        {{"frobnicate"}, 2, "quorvex: unknown subcommand 'frobnicate'", ""},
        {{"search"}, 2, "missing EXPR", ""},
        {{"search", "a", "b", "c"}, 2, "quorvex:", ""},
        {{"replace", "a", "b"}, 2, "missing FILES", ""},
        {{"replace", "a"}, 2, "missing FORMAT", ""},
        {{"grep", "--settings", "nothere.cfg", "a.txt"}, 2, "nothere.cfg: No such file", ""},
        {{"grep", "--settings", "garbage.cfg", "a.txt"}, 2, "garbage.cfg: not a settings file", ""},
        {{"search", "--save-settings", "nodir/s.cfg", "a", "a"}, 2, "nodir/s.cfg: cannot write", ""},
    };
    for (const ErrorRow& row : rows) {
        Result result = RunIn(dir, row.args);
        EXPECT_EQ(result.status, row.status) << "quorvex" << Show(row.args) << "\nstderr: " << result.err;
        EXPECT_NE(result.err.find(row.err), std::string::npos)
            << "quorvex" << Show(row.args) << "\nstderr: " << result.err;
        EXPECT_EQ(result.out, row.out) << "quorvex" << Show(row.args);
    }
}

TEST(CliErrors, WriteErrorOnStandardOutput)
{
    TempDir dir;
    MakeTree(dir);
    RunOptions options;
    options.cwd = dir.Path();
    options.stdoutPath = "/dev/full";
    Result result = RunTool({"grep", "alpha", "a.txt"}, options);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("write error"), std::string::npos) << result.err;
}

TEST(CliText, SubcommandsOnStringsAndStandardInput)
{
    TempDir dir;
    CheckRows(dir, {
        {{"search", "b+", "abbbc"}, "", "bbb\n", 0},
        {{"search", "-b", "b+", "abbbc"}, "", "1:bbb\n", 0},
        {{"search", "x", "abc"}, "", "", 1},
        {{"search", "-n", "c"}, "ab\nabc", "2:c\n", 0},
        {{"search", "-i", "ABC", "xabcx"}, "", "abc\n", 0},
        {{"search", "--shortest", "a|ab", "ab"}, "", "a\n", 0},
        {{"search", "a|ab", "ab"}, "", "ab\n", 0},
        {{"search", "--syntax", "literal", "a+", "aaa a+"}, "", "a+\n", 0},
        {{"search", "--syntax", "basic", "a\\{2\\}", "caaat"}, "", "aa\n", 0},
        {{"search", "--syntax", "extended", "a{2}", "caaat"}, "", "aa\n", 0},
        {{"search", "--format", "[$2|$1]", "(\\w+)@(\\w+)", "mail bob@host now"}, "", "[host|bob]\n", 0},
        {{"search", "--not-empty", "a*", "bbb"}, "", "", 1},
        {{"search", "a*", "bbb"}, "", "\n", 0},
        {{"search", "--continuous", "b", "ab"}, "", "", 1},
        {{"search", "--not-beginning-of-line", "^a", "ab"}, "", "", 1},
        {{"search", "--not-end-of-line", "b$", "ab"}, "", "", 1},
        {{"search", "--dot-not-newline", "a.b", "a\nb"}, "", "", 1},
        {{"search", "a.b", "a\nb"}, "", "a\nb\n", 0},
        {{"search", "-q", "b", "abc"}, "", "", 0},
        {{"match", "ab", "abc"}, "", "ab\n", 0},
        {{"match", "b", "abc"}, "", "", 1},
        {{"match-all", "ab", "abc"}, "", "", 1},
        {{"match-all", "a|ab", "ab"}, "", "ab\n", 0},
        {{"match-all", "abc"}, "abc\n", "abc\n", 0},
        {{"grep-text", "a", "banana"}, "", "a\na\na\n", 0},
        {{"grep-text", "-c", "a", "banana"}, "", "3\n", 0},
        {{"grep-text", "-m", "2", "a", "banana"}, "", "a\na\n", 0},
        {{"grep-text", "-b", "a", "banana"}, "", "1:a\n3:a\n5:a\n", 0},
        {{"grep-text", "-n", "b"}, "ab\nb\n", "1:b\n2:b\n", 0},
        {{"grep-text", "--format", "<$1>", "(\\d)", "a1b2"}, "", "<1>\n<2>\n", 0},
        {{"grep-text", "z", "banana"}, "", "", 1},
        {{"merge", "b", "X", "abcb"}, "", "XX\n", 0},
        {{"merge", "--copy", "b", "X", "abcb"}, "", "aXcX\n", 0},
        {{"merge", "(a)(b)", "$2$1", "ab"}, "", "ba\n", 0},
        {{"merge", "--copy", "o", "", "foo boo"}, "", "f b\n", 0},
        {{"merge", "x", "y", "abc"}, "", "", 1},
        {{"merge", "--copy", "x", "y", "abc"}, "", "abc\n", 1},
        {{"merge", "--copy", "(\\w)-(\\w)", "$2-$1"}, "a-b\nno\nc-d", "b-a\nno\nd-c", 0},
        {{"merge", "(\\d+)", "<$1>"}, "x1\ny\nz22\n", "<1>\n<22>\n", 0},
        {{"merge", "--copy", "^", "> "}, "one\ntwo\n", "> one\n> two\n", 0},
        {{"merge", "-f", "Y", "--copy", "b", "abc"}, "", "aYc\n", 0},
        // -z: NUL ends each record; a line feed is an ordinary byte of one.
        {{"merge", "-z", "--copy", "(\\w)-(\\w)", "$2-$1"}, std::string("a-b\nc\0d-e", 9),
         std::string("b-a\nc\0e-d", 9), 0},
        {{"merge", "-z", "b+", "X"}, std::string("abb\0c\0b\0", 8), std::string("X\0X\0", 4), 0},
    });
}

TEST(CliReplace, DryRunTouchesNothing)
{
    TempDir dir;
    MakeTree(dir);
    const std::string before = dir.Snapshot();
    Result result = RunIn(dir, {"replace", "-r", "--dry-run", "alph(a)", "omeg$1", "."});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out,
              "./a.txt:1:alpha => omega\n./a.txt:2:alpha => omega\n./sub/c.txt:1:alpha => omega\n"
              "3 replacements in 2 files (dry run: nothing was changed)\n");
    EXPECT_EQ(dir.Snapshot(), before);

    Result none = RunIn(dir, {"replace", "--dry-run", "zzz", "y", "a.txt"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(dir.Snapshot(), before);
}

TEST(CliReplace, ChangesFilesAndReportsSummary)
{
    TempDir dir;
    MakeTree(dir);
    Result result = RunIn(dir, {"replace", "-r", "alph(a)", "omeg$1", "."});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "3 replacements in 2 files\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(dir.Read("a.txt"), "omega beta\ngamma omega\n");
    EXPECT_EQ(dir.Read("sub/c.txt"), "omega\n");
    EXPECT_EQ(dir.Read("sub/d.log"), "ALPHA\n");
    EXPECT_EQ(dir.Read("b.txt"), "nothing here\n");
    EXPECT_FALSE(dir.Exists("a.bak"));

    Result again = RunIn(dir, {"replace", "-r", "alpha", "x", "."});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.out, "0 replacements in 0 files\n");
}

// --diff prints what replace would change; applied with patch -p1 to a copy
// of the tree, it gives exactly the tree that replace really changes.
TEST(CliReplace, DiffAppliesAsPatch)
{
    TempDir preview, real, patched;
    std::string many;
    for (int i = 1; i <= 30; ++i)
        many += (i % 9 == 0 ? "the foo line " : "plain line ") + std::to_string(i) + "\n";
    for (const TempDir* dir : {&preview, &real, &patched}) {
        dir->Write("t/many.txt", many);
        dir->Write("t/first.txt", "foo at the start\nmiddle\nend foo");
        dir->Write("t/sub/none.txt", "nothing\n");
        dir->Write("t/sub/two.txt", "a\nfoo foo\n");
    }
    const std::string before = preview.Snapshot();
    const Result diff = RunIn(preview, {"replace", "--diff", "-r", "fo(o)", "B$1$1", "t"});
    EXPECT_EQ(diff.status, 0) << diff.err;
    EXPECT_EQ(preview.Snapshot(), before);
    EXPECT_NE(diff.out.find("--- a/t/first.txt\n+++ b/t/first.txt\n@@ -1,3 +1,3 @@\n-foo at the start\n+Boo at the"),
              std::string::npos)
        << diff.out;
    EXPECT_NE(diff.out.find("-end foo\n\\ No newline at end of file\n+end Boo\n\\ No newline at end of file\n"),
              std::string::npos)
        << diff.out;
    EXPECT_EQ(RunIn(real, {"replace", "-r", "fo(o)", "B$1$1", "t"}).status, 0);
    patched.Write("change.diff", diff.out);
    const Result patch = RunIn(patched, {"-p1", "-s", "-i", "change.diff"}, "", "patch");
    if (patch.status == 127 || patch.status == 122)
        GTEST_SKIP() << "patch is not installed";
    EXPECT_EQ(patch.status, 0) << patch.out << patch.err;
    fs::remove(patched.Path() / "change.diff");
    EXPECT_EQ(patched.Snapshot(), real.Snapshot());
    // The names carry no "." component: git apply takes the diff as it is.
    const Result dotted = RunIn(preview, {"replace", "--diff", "-r", "fo(o)", "X", "./t/./sub"});
    EXPECT_NE(dotted.out.find("--- a/t/sub/two.txt\n+++ b/t/sub/two.txt\n"), std::string::npos) << dotted.out;
}

// A replacement sees the text around its match (look-behind, \b): in the
// preview and in the change.
TEST(CliReplace, ReplacementSeesItsContext)
{
    TempDir dir;
    dir.Write("f.txt", "foo bar\nbar\n");
    const Result diff = RunIn(dir, {"replace", "--diff", "(?<=foo )bar", "BAZ", "f.txt"});
    EXPECT_NE(diff.out.find("-foo bar\n+foo BAZ\n"), std::string::npos) << diff.out;
    const Result change = RunIn(dir, {"replace", "(?<=foo )bar", "BAZ", "f.txt"});
    EXPECT_EQ(change.status, 0) << change.err;
    EXPECT_EQ(dir.Read("f.txt"), "foo BAZ\nbar\n");
}

TEST(CliReplace, FormatsLiteralsAndDeletion)
{
    TempDir dir;
    dir.Write("mail.txt", "bob@old and amy@old\n");
    dir.Write("dots.txt", "axb a.b\n");
    dir.Write("del.txt", "keep DROP keep DROP\n");
    dir.Write("lines.txt", "one\ntwo\nthree\n");
    CheckRows(dir, {
        {{"replace", "o$", "0", "lines.txt"}, "", "1 replacement in 1 file\n", 0},
        {{"replace", "-U", "one\\ntw", "X", "lines.txt"}, "", "1 replacement in 1 file\n", 0},
        {{"replace", "(\\w+)@old", "$1@new", "mail.txt"}, "", "2 replacements in 1 file\n", 0},
        {{"replace", "-F", "a.b", "X", "dots.txt"}, "", "1 replacement in 1 file\n", 0},
        {{"replace", " ?DROP", "", "del.txt"}, "", "2 replacements in 1 file\n", 0},
    });
    EXPECT_EQ(dir.Read("mail.txt"), "bob@new and amy@new\n");
    EXPECT_EQ(dir.Read("dots.txt"), "axb X\n");
    EXPECT_EQ(dir.Read("del.txt"), "keep keep\n");
    EXPECT_EQ(dir.Read("lines.txt"), "X0\nthree\n");
}

// FORMAT in Perl's replacement syntax (and sed's \1): the file replace
// writes is the one sed -E writes for the same change.
TEST(CliReplace, FormatsAsSedWritesThem)
{
    TempDir dir;
    const std::string text = "print(x) and y\nabcdefghijk\n";
    if (RunIn(dir, {"--version"}, "", "sed").status != 0)
        GTEST_SKIP() << "sed is not installed";
    struct Row {
        std::string expression, format;  // for quorvex
        std::string sedScript;           // the same change for sed -E
    };
    const std::vector<Row> rows = {
        {"print\\((\\w)\\)", "print($1)", "s/print\\((\\w)\\)/print(\\1)/g"},
        {"(y)$", "$1 ? yes : no", "s/(y)$/\\1 ? yes : no/g"},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", "${11}${10}-$1", "s/(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)/kj-a/"},
        {"(y)", "\\1\\1 $ 5", "s/(y)/\\1\\1 $ 5/"},
        {"(x)\\)", "[$&]\\t", "s/(x)\\)/[&]\\t/"},
        {"and", "1\\n2", "s/and/1\\n2/"},
    };
    for (const Row& row : rows) {
        dir.Write("ours.txt", text);
        dir.Write("theirs.txt", text);
        const Result mine = RunIn(dir, {"replace", row.expression, row.format, "ours.txt"});
        const Result sed = RunIn(dir, {"-E", "-i", row.sedScript, "theirs.txt"}, "", "sed");
        EXPECT_EQ(sed.status, 0) << row.sedScript << sed.err;
        EXPECT_EQ(mine.status, 0) << row.format << mine.err;
        EXPECT_EQ(dir.Read("ours.txt"), dir.Read("theirs.txt")) << row.expression << " -> " << row.format;
    }
    // The conditional syntax behind its switch.
    dir.Write("c.txt", "ab b\n");
    EXPECT_EQ(RunIn(dir, {"replace", "--conditional-format", "(a)?b", "(?1A:B)", "c.txt"}).status, 0);
    EXPECT_EQ(dir.Read("c.txt"), "A B\n");
}

TEST(CliReplace, BackupKeepsTheOldContent)
{
    TempDir dir;
    dir.Write("notes.txt", "colour and colour\n");
    dir.Write("notes.bak", "an older backup\n");
    dir.Write("plain", "colour\n");
    Result result = RunIn(dir, {"replace", "--backup", "bak", "colour", "color", "notes.txt", "plain"});
    EXPECT_EQ(result.status, 0) << result.err;
    // The extension is appended, as sed -i.bak names its backups.
    EXPECT_EQ(dir.Read("notes.txt"), "color and color\n");
    EXPECT_EQ(dir.Read("notes.txt.bak"), "colour and colour\n");
    EXPECT_EQ(dir.Read("notes.bak"), "an older backup\n");
    EXPECT_EQ(dir.Read("plain"), "color\n");
    EXPECT_EQ(dir.Read("plain.bak"), "colour\n");
    dir.Write(".bashrc", "colour\n");
    EXPECT_EQ(RunIn(dir, {"replace", "--backup=bak", "colour", "color", ".bashrc"}).status, 0);
    EXPECT_EQ(dir.Read(".bashrc.bak"), "colour\n");
}

TEST(CliReplace, UnsafeRunsAreRefusedBeforeAnythingChanges)
{
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"read-only file", {"replace", "-r", "old", "new", "."}, "ro.txt: read-only file"},
        {"backup onto the file itself", {"replace", "--backup", "bak", "old", "new", "same.txt"}, "is the file itself"},
        {"backup-named file with a match", {"replace", "-r", "--backup", "bak", "old", "new", "keep"},
         "carries the backup extension"},
        {"one file under two names", {"replace", "old", "new", "same.txt", "link.txt"}, "the same file as"},
        {"hard-linked names in one tree", {"replace", "-r", "old", "new", "hl"}, "the same file as"},
        {"an empty save extension", {"replace", "--backup", "", "old", "new", "same.txt"},
         "--backup needs an extension"},
        {"a save extension that is a path", {"replace", "--backup", "d/../same.md", "old", "new", "same.txt"},
         "may not hold a path separator"},
        {"a line feed in a name", {"replace", "old", "new", "lf\nx.txt"}, "'lf'$'\\n''x.txt': read-only file"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.Write("same.txt", "old\n");
        dir.Write("same.md", "old\n");
        dir.Write("keep/a.txt", "old\n");
        dir.Write("keep/a2.bak", "old\n");
        fs::create_symlink("same.txt", dir.Path() / "link.txt");
        if (std::string(c.what) == "backup onto the file itself")
            fs::create_symlink("same.txt", dir.Path() / "same.txt.bak");
        if (std::string(c.what) == "read-only file") {
            dir.Write("ro.txt", "old\n");
            fs::permissions(dir.Path() / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
        }
        dir.Write("keep/a.md", "old\n");
        dir.Write("hl/a1.txt", "old\n");
        dir.Write("hl/m.txt", "old\n");
        fs::create_hard_link(dir.Path() / "hl/a1.txt", dir.Path() / "hl/z.txt");
        dir.Write("lf\nx.txt", "old\n");
        fs::permissions(dir.Path() / "lf\nx.txt", fs::perms::owner_read);
        const std::string before = dir.Snapshot();
        Result result = RunIn(dir, c.args);
        EXPECT_EQ(result.status, 2) << c.what << ": " << result.err;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.what << ": " << result.err;
        EXPECT_NE(result.err.find("nothing was changed"), std::string::npos) << c.what << ": " << result.err;
        EXPECT_EQ(dir.Snapshot(), before) << c.what;
    }
}

TEST(CliReplace, FileInUseIsLeftUnchanged)
{
    TempDir dir;
    dir.Write("log.txt", "old\n");
    const std::string name = (dir.Path() / "log.txt").string();
    {
        const int probe = ::open(name.c_str(), O_RDWR);
        const bool leases = probe >= 0 && ::fcntl(probe, F_SETLEASE, F_WRLCK) == 0;
        ::close(probe);
        if (!leases)
            GTEST_SKIP() << "no write leases on the file system of " << dir.Path();
    }
    // A writer keeps the file open, as a logger does.
    const int writer = ::open(name.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(writer, 0);
    Result result = RunIn(dir, {"replace", "old", "new", "log.txt"});
    ASSERT_EQ(::write(writer, "late\n", 5), 5);
    ::close(writer);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("log.txt: in use by another process"), std::string::npos) << result.err;
    EXPECT_EQ(dir.Read("log.txt"), "old\nlate\n");
}

TEST(CliReplace, ProblemRecordsAreReadableLines)
{
    // A file size limit makes the write of the rewritten copy fail: the
    // problem is reported as file, reason, position and system error, the
    // file keeps its content, and the exit status is 2.
    TempDir dir;
    const std::string big(40000, 'x');
    dir.Write("big.txt", "old" + big + "\n");
    RunOptions options;
    options.cwd = dir.Path();
    options.fileSizeLimit = 8192;
    Result result = RunTool({"replace", "old", "new", "big.txt"}, options);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find(": WriteFailed at byte "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "0 replacements in 0 files; 1 of 1 file with matches not changed\n");
    EXPECT_EQ(dir.Read("big.txt"), "old" + big + "\n");
}

TEST(CliSettings, SavedSettingsRoundTrip)
{
    TempDir dir;
    MakeTree(dir);
    Result first = RunIn(dir, {"grep", "-i", "--syntax", "literal", "--save-settings", "s.cfg", "A.B", "dots.txt"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "axb a.b A.B\n");
    // The expression is kept with its length in front of it.
    EXPECT_NE(dir.Read("s.cfg").find(" 3 A.B "), std::string::npos) << dir.Read("s.cfg");

    // Same expression, options and files, all from the settings.
    Result second = RunIn(dir, {"grep", "--settings", "s.cfg"});
    EXPECT_EQ(second.out, first.out) << second.err;
    EXPECT_EQ(second.status, 0);
    // Another subcommand reads them too; positionals are then operands.
    CheckRows(dir, {
        {{"search", "--settings", "s.cfg", "x A.b y"}, "", "A.b\n", 0},
        {{"grep", "--settings", "s.cfg", "a.txt"}, "", "", 1},
        {{"grep", "--settings", "s.cfg", "-e", "GAMMA", "a.txt"}, "", "gamma alpha\n", 0},
    });

    // A replacement with its format and backup extension, replayed as a dry run.
    Result saved = RunIn(dir, {"replace", "--dry-run", "--backup", "orig", "--save-settings", "r.cfg", "-r",
                               "al(p)ha", "<$1>", "sub"});
    EXPECT_EQ(saved.status, 0) << saved.err;
    Result replay = RunIn(dir, {"replace", "--settings", "r.cfg", "--dry-run"});
    EXPECT_EQ(replay.out, saved.out);
    Result real = RunIn(dir, {"replace", "--settings", "r.cfg"});
    EXPECT_EQ(real.status, 0) << real.err;
    EXPECT_EQ(dir.Read("sub/c.txt"), "<p>\n");
    EXPECT_EQ(dir.Read("sub/c.txt.orig"), "alpha\n");
}

TEST(CliHelp, ToolAndEverySubcommand)
{
    Result top = RunTool({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char* sub : {"grep", "replace", "search", "match", "match-all", "grep-text", "merge"}) {
        EXPECT_NE(top.out.find(sub), std::string::npos) << sub;
        Result help = RunTool({sub, "--help"});
        EXPECT_EQ(help.status, 0) << sub;
        EXPECT_NE(help.out.find("--syntax"), std::string::npos) << sub << ":\n" << help.out;
        EXPECT_NE(help.out.find("--settings"), std::string::npos) << sub;
    }
    EXPECT_NE(RunTool({"grep", "--help"}).out.find("--max-count"), std::string::npos);
    EXPECT_NE(RunTool({"replace", "--help"}).out.find("--dry-run"), std::string::npos);
    Result version = RunTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("quorvex ") + QUORVEX_VERSION_TEXT + "\n");
}

}  // namespace

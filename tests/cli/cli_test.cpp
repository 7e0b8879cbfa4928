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

    std::vector<std::string> argvText = {options.program.empty() ? QUORVEX_CLI_PATH : options.program};
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
        if (options.asNobody && ::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(123);
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
        {{"grep", "--color", "never", "alpha", "sub/c.txt"}, "", "alpha\n", 0},
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

TEST(CliGrep, BinaryFiles)
{
    TempDir dir;
    dir.Write("bin.dat", std::string("a\0foo\n", 6));
    CheckRows(dir, {
        {{"grep", "foo", "bin.dat"}, "", "Binary file bin.dat matches\n", 0},
        {{"grep", "-a", "foo", "bin.dat"}, "", std::string("a\0foo\n", 6), 0},
        {{"grep", "--binary-files=text", "-c", "foo", "bin.dat"}, "", "1\n", 0},
        {{"grep", "-c", "foo", "bin.dat"}, "", "1\n", 0},
        {{"grep", "--binary-files=without-match", "foo", "bin.dat"}, "", "", 1},
        {{"grep", "zzz", "bin.dat"}, "", "", 1},
        {{"replace", "foo", "bar", "bin.dat"}, "", "0 replacements in 0 files\n", 1},
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
    const std::vector<std::string> args = {"--json", "-C1", "foo", "j.txt", "k.txt"};
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

// A file larger than the memory the tool may use is reported and skipped;
// the others are searched and changed, and the exit status is 2.
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
    for (const auto& row : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"grep", "foo", "big.txt", "small.txt"}, "small.txt:foo\n"},
             {{"replace", "foo", "bar", "big.txt", "small.txt"}, "1 replacement in 1 file\n"}}) {
        const Result result = RunTool(row.first, options);
        EXPECT_EQ(result.out, row.second) << result.err;
        EXPECT_EQ(result.status, 2) << result.err;
        EXPECT_EQ(result.err, "quorvex: big.txt: out of memory\n");
    }
    EXPECT_EQ(dir.Read("small.txt"), "bar\n");
    EXPECT_EQ(fs::file_size(dir.Path() / "big.txt"), std::uintmax_t(1) << 30);
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
        {{"grep", "(x+x+)+y", "mx.txt"}, 2, "quorvex: mx.txt: matching stopped: ", ""},
        {{"replace", "(x+x+)+y", "z", "mx.txt"}, 2, "quorvex: mx.txt: matching stopped: ", ""},
        {{"grep", "alpha", "/dev/null", "a.txt"}, 0, "", "a.txt:alpha beta\na.txt:gamma alpha\n"},  // as grep reads it
        {{"replace", "alpha", "x", "/dev/null"}, 2, "quorvex: /dev/null: not a regular file", ""},
        {{"grep", "alpha", "missing.txt", "a.txt"}, 2, "missing.txt", "a.txt:alpha beta\na.txt:gamma alpha\n"},
        {{"grep", "-q", "alpha", "missing.txt", "a.txt"}, 0, "missing.txt", ""},
        {{"grep", "--syntax", "basic", "alpha", "a.txt"}, 2, "normal syntax", ""},
        {{"grep", "--syntax", "weird", "alpha", "a.txt"}, 2, "weird", ""},
        {{"grep", "--color=sometimes", "alpha", "a.txt"}, 2, "sometimes", ""},
        {{"grep", "-m", "-3", "alpha", "a.txt"}, 2, "quorvex:", ""},
        {{}, 2, "quorvex:", ""},
        {{"frobnicate"}, 2, "quorvex:", ""},
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

TEST(CliReplace, BackupKeepsTheOldContent)
{
    TempDir dir;
    dir.Write("notes.txt", "colour and colour\n");
    dir.Write("notes.bak", "an older backup\n");
    dir.Write("plain", "colour\n");
    Result result = RunIn(dir, {"replace", "--backup", "bak", "colour", "color", "notes.txt", "plain"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(dir.Read("notes.txt"), "color and color\n");
    EXPECT_EQ(dir.Read("notes.bak"), "colour and colour\n");
    EXPECT_EQ(dir.Read("plain"), "color\n");
    EXPECT_EQ(dir.Read("plain.bak"), "colour\n");
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
        {"two backups of one name",
         {"replace", "--backup", "bak", "old", "new", "same.txt", "same.md"},
         "would overwrite the backup of"},
        {"backup-named file with a match", {"replace", "-r", "--backup", "bak", "old", "new", "keep"},
         "carries the backup extension"},
        {"one file under two names", {"replace", "old", "new", "same.txt", "link.txt"}, "the same file as"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.Write("same.txt", "old\n");
        dir.Write("same.md", "old\n");
        dir.Write("keep/a.txt", "old\n");
        dir.Write("keep/a2.bak", "old\n");
        fs::create_symlink("same.txt", dir.Path() / "link.txt");
        if (std::string(c.what) == "read-only file") {
            dir.Write("ro.txt", "old\n");
            fs::permissions(dir.Path() / "ro.txt", fs::perms::owner_read | fs::perms::group_read);
        }
        const std::string before = dir.Snapshot();
        Result result = RunIn(dir, c.args);
        EXPECT_EQ(result.status, 2) << c.what << ": " << result.err;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << c.what << ": " << result.err;
        EXPECT_NE(result.err.find("nothing was changed"), std::string::npos) << c.what << ": " << result.err;
        EXPECT_EQ(dir.Snapshot(), before) << c.what;
    }
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
    EXPECT_EQ(dir.Read("sub/c.orig"), "alpha\n");
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

// The tool on inputs that arrive over time or never end, and on inputs larger
// than memory: standard input and pipes fed by a writer process, positions
// past 2, 4 and 5 GiB generated on the fly (no disk), sparse files, and line
// ends that a line reader gets wrong.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct Outcome {
    int status = -1;
    std::string out;
    bool writerCut = false;  // the tool closed its input before the writer was done
};

// Sends bytes into the tool's standard input through `send`, which reports
// whether the reader is still there; `output` is what the tool printed so far
// (brought up to date by each call of `send`, an empty one included).
using Send = std::function<bool(const char*, std::size_t)>;
using Writer = std::function<void(const Send& send, const std::string& output)>;

// Runs the tool with `args`, standard input from `writer` through a pipe,
// standard output through a pipe (or a terminal with `terminal`), collected
// whole. `onOutput` sees the output as it arrives while the writer runs.
Outcome RunPiped(const std::vector<std::string>& args, const Writer& writer, rlim_t memoryLimit = 0,
             bool terminal = false, const char* locale = "C")
{
    ::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2] = {-1, -1};
    EXPECT_EQ(::pipe(in), 0);
    int master = -1;
    std::string slaveName;
    if (terminal) {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master, 0);
        EXPECT_EQ(::grantpt(master), 0);
        EXPECT_EQ(::unlockpt(master), 0);
        slaveName = ::ptsname(master);
    } else {
        EXPECT_EQ(::pipe(out), 0);
    }
    std::vector<std::string> argvText = {QUORVEX_CLI_PATH};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvText)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(in[0], 0);
        if (terminal) {
            const int slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY);
            ::dup2(slave, 1);
        } else {
            ::dup2(out[1], 1);
        }
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        for (int fd = 3; fd < 64; ++fd)
            ::close(fd);
        if (memoryLimit != 0) {
            struct rlimit limit = {memoryLimit, memoryLimit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        ::setenv("LC_ALL", locale, 1);
        ::execv(argv[0], argv.data());
        ::_exit(122);
    }
    ::close(in[0]);
    const int reader = terminal ? master : out[0];
    if (!terminal)
        ::close(out[1]);
    // The output is drained on the side while the writer runs, so that
    // neither end can block the other.
    Outcome run;
    std::string collected;
    const auto drain = [&](int timeout) {
        struct pollfd p = {reader, POLLIN, 0};
        while (::poll(&p, 1, timeout) > 0) {
            char buffer[65536];
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n <= 0)
                return false;
            collected.append(buffer, static_cast<std::size_t>(n));
            timeout = 0;
        }
        return true;
    };
    writer(
        [&](const char* data, std::size_t size) {
        drain(0);
        while (size > 0) {
            drain(0);
            const ssize_t n = ::write(in[1], data, size);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                run.writerCut = errno == EPIPE;
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
        },
        collected);
    ::close(in[1]);
    while (drain(-1)) {
    }
    ::close(reader);
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = collected;
    return run;
}

// Lines of 4096 bytes ("." padding), with "needle" at the start of the lines
// whose index is in `needles`, `lines` lines in all: 4096 * lines bytes.
Writer Generated(std::uint64_t lines, std::vector<std::uint64_t> needles)
{
    return [lines, needles](const Send& send, const std::string&) {
        constexpr std::size_t kLine = 4096, kPerBlock = 256;
        std::string block;
        for (std::size_t i = 0; i < kPerBlock; ++i)
            block += std::string(kLine - 1, '.') + "\n";
        std::string marked;
        for (std::uint64_t first = 0; first < lines; first += kPerBlock) {
            const std::uint64_t count = std::min<std::uint64_t>(kPerBlock, lines - first);
            const std::string* piece = &block;
            for (const std::uint64_t n : needles) {
                if (n >= first && n < first + count) {
                    if (piece == &block)
                        marked = block;
                    marked.replace(static_cast<std::size_t>(n - first) * kLine, 6, "needle");
                    piece = &marked;
                }
            }
            if (!send(piece->data(), static_cast<std::size_t>(count) * kLine))
                return;
        }
    };
}

Writer Text(const std::string& text)
{
    return [text](const Send& send, const std::string&) { send(text.data(), text.size()); };
}

// A temporary directory, removed with everything in it.
struct TempDir {
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "quorvex-stream-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

Outcome RunOnFile(const std::vector<std::string>& args, const std::string& file, rlim_t memoryLimit = 0)
{
    std::vector<std::string> all = args;
    all.push_back(file);
    return RunPiped(all, Text(""), memoryLimit);
}

}  // namespace

TEST(CliStream, PositionsPastTwoFourAndFiveGibibytesThroughAPipe)
{
    constexpr std::uint64_t kLine = 4096;
    const std::uint64_t a = (std::uint64_t(1) << 31) / kLine + 3;
    const std::uint64_t b = (std::uint64_t(1) << 32) / kLine + 5;
    const std::uint64_t c = (std::uint64_t(5) << 30) / kLine + 7;
    const std::uint64_t lines = c + 10;
    std::string numbered, json;
    for (const std::uint64_t n : {a, b, c})
        numbered += std::to_string(n + 1) + ":" + std::to_string(n * kLine) + ":needle" +
                    std::string(kLine - 7, '.') + "\n";
    // Memory far below the input's size: nothing may follow the input.
    const rlim_t limit = kSanitized ? 0 : rlim_t(256) << 20;
    struct Row {
        std::vector<std::string> args;
        std::string out;
    };
    const Row rows[] = {
        {{"grep", "-c", "needle"}, "3\n"},
        {{"grep", "-v", "-c", "needle"}, std::to_string(lines - 3) + "\n"},
        {{"grep", "-n", "-b", "needle"}, numbered},
    };
    for (const Row& row : rows) {
        const Outcome run = RunPiped(row.args, Generated(lines, {a, b, c}), limit);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, row.out) << row.args[1];
    }
    const Outcome run = RunPiped({"grep", "--json", "needle"}, Generated(lines, {a, b, c}), limit);
    for (const std::uint64_t n : {a, b, c})
        EXPECT_NE(run.out.find("\"line_number\":" + std::to_string(n + 1) +
                               ",\"absolute_offset\":" + std::to_string(n * kLine) + ","),
                  std::string::npos)
            << n;
}

TEST(CliStream, MultilineMatchesThroughAPipeInBoundedMemory)
{
    // -U over a pipe: a match on every fourth line, each spanning two lines.
    // The lines are handed out window by window, never the whole input at
    // once (the memory limit is below the input's size).
    constexpr std::uint64_t kLine = 4096;
    const std::uint64_t lines = (std::uint64_t(320) << 20) / kLine;
    std::vector<std::uint64_t> needles;
    for (std::uint64_t n = 1; n + 1 < lines; n += 4)
        needles.push_back(n);
    const rlim_t limit = kSanitized ? 0 : rlim_t(256) << 20;
    const Outcome run = RunPiped({"grep", "-U", "-c", "needle\\.*\\n\\."}, Generated(lines, needles), limit);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::to_string(needles.size()) + "\n");
    const Outcome last = RunPiped({"grep", "-U", "-n", "-o", "needle\\.*\\n\\."}, Generated(lines, {lines - 2}), limit);
    EXPECT_EQ(last.status, 0);
    EXPECT_EQ(last.out, std::to_string(lines - 1) + ":needle" + std::string(kLine - 7, '.') + "\n.\n");
}

TEST(CliStream, SparseFilePastFourGibibytes)
{
    // Its holes read as NUL bytes: binary data, whose NULs end lines, so
    // memory stays small however long the run of them.
    TempDir dir;
    const fs::path file = dir.path / "sparse";
    {
        std::ofstream out(file, std::ios::binary);
        out << "start\n";
    }
    const std::uint64_t at = (std::uint64_t(9) << 29) + 11;  // 4.5 GiB and a bit
    fs::resize_file(file, at);
    {
        std::ofstream out(file, std::ios::binary | std::ios::app);
        out << "\nneedle\n";
    }
    const rlim_t limit = kSanitized ? 0 : rlim_t(256) << 20;
    const Outcome count = RunOnFile({"grep", "-c", "needle"}, file.string(), limit);
    EXPECT_EQ(count.out, "1\n");
    const Outcome binary = RunOnFile({"grep", "needle"}, file.string(), limit);
    // The notice goes to standard error; a match still gives status 0.
    EXPECT_EQ(binary.out, "");
    EXPECT_EQ(binary.status, 0);
}

TEST(CliStream, OutputArrivesBeforeTheWriterEnds)
{
    // The writer sends a line and waits for its output (as long as need be)
    // before it sends the next one and ends: any waiting for the end of the
    // input would hang here until the bound below and fail.
    struct Row {
        std::vector<std::string> args;
        bool terminal;
        std::string first;
    };
    const Row rows[] = {
        {{"grep", "--line-buffered", "line"}, false, "line one"},
        {{"grep", "--color=never", "line"}, true, "line one"},
        {{"merge", "--line-buffered", "--copy", "one", "1"}, false, "line 1"},
        {{"merge", "--copy", "one", "1"}, true, "line 1"},
    };
    for (const Row& row : rows) {
        bool arrived = false;
        const Outcome run = RunPiped(
            row.args,
            [&](const Send& send, const std::string& output) {
                send("line one\n", 9);
                // A bound only for a failure: 60 s.
                for (int i = 0; i < 1200 && !arrived; ++i) {
                    send("", 0);
                    arrived = output.find(row.first) != std::string::npos;
                    if (!arrived)
                        ::usleep(50000);
                }
                send("line two\n", 9);
            },
            0, row.terminal);
        EXPECT_TRUE(arrived) << row.args[0] << (row.terminal ? " to a terminal" : "") << ": " << run.out;
        EXPECT_NE(run.out.find("two"), std::string::npos) << run.out;
    }
}

TEST(CliStream, EndlessInputEndsWithTheFirstAnswer)
{
    // yes | quorvex grep -m1 y, and the other options that need one line.
    const Writer endless = [](const Send& send, const std::string&) {
        const std::string block = [] {
            std::string s;
            for (int i = 0; i < 32768; ++i)
                s += "y\n";
            return s;
        }();
        for (std::uint64_t sent = 0; sent < (std::uint64_t(8) << 30); sent += block.size())
            if (!send(block.data(), block.size()))
                return;
    };
    struct Row {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const Row rows[] = {
        {{"grep", "-m1", "y"}, "y\n", 0},
        {{"grep", "-q", "y"}, "", 0},
        {{"grep", "-l", "y"}, "(standard input)\n", 0},
    };
    for (const Row& row : rows) {
        const Outcome run = RunPiped(row.args, endless);
        EXPECT_TRUE(run.writerCut) << row.args[1];
        EXPECT_EQ(run.out, row.out) << row.args[1];
        EXPECT_EQ(run.status, row.status) << row.args[1];
    }
}

TEST(CliStream, FilesAndPipesGiveTheSameLines)
{
    const std::string longLine = std::string(20 << 20, 'q') + "z";
    std::string acrossWindow;
    for (int line = 0; line < 8191; ++line)
        acrossWindow += std::string(1023, '.') + "\n";
    acrossWindow += std::string(1018, 'x') + "needle\nthread\nend\n";
    struct Row {
        std::vector<std::string> args;
        std::string input;
        std::string out;
    };
    const Row rows[] = {
        {{"grep", "-c", "^$"}, "a\n\n\nb\n\n", "3\n"},
        {{"grep", "-v", "-c", "^$"}, "a\n\n\nb\n\n", "2\n"},
        {{"grep", "-n", "^done"}, "progress 10%\rdone\ndone\n", "2:done\n"},
        {{"grep", "-n", "^b"}, "a\fb\nb\n", "2:b\n"},
        {{"grep", "-n", "done$"}, "x done\r\n", "1:x done\r\n"},
        {{"grep", "-n", "c$"}, "a\nbc", "2:bc\n"},
        {{"grep", "-c", "z$"}, "a\n" + longLine + "\nz", "2\n"},
        {{"grep", "-c", "b"}, std::string("a\0b\nb\n", 6), "2\n"},
        {{"grep", "-z", "^b$"}, std::string("a\0b\nc\0b", 7), std::string("b\0", 2)},
        {{"grep", "-a", "-n", "b"}, std::string("a\0b\nb", 5), std::string("1:a\0b\n2:b\n", 10)},
        // -U: matches spanning lines, every line they touch printed.
        {{"grep", "-U", "-n", "b\\nc"}, "a\nb\nc\nd\n", "2:b\n3:c\n"},
        {{"grep", "-U", "-v", "b\\nc"}, "a\nb\nc\nd\n", "a\nd\n"},
        {{"grep", "-U", "-n", "-C1", "c\\nd"}, "a\nb\nc\nd\ne\nf\n", "2-b\n3:c\n4:d\n5-e\n"},
        {{"grep", "-U", "-n", "-A1", "b\\nc|e"}, "a\nb\nc\nd\ne\nf\n", "2:b\n3:c\n4-d\n5:e\n6-f\n"},
        {{"grep", "-U", "-c", "\\n\\n"}, "a\n\n\nb\n\n", "2\n"},
        {{"grep", "-U", "-c", "-v", "\\n\\n"}, "a\n\n\nb\n\n", "1\n"},
        {{"grep", "-U", "-o", "-n", "b\\nc"}, "a\nb\nc\nd\n", "2:b\nc\n"},
        {{"grep", "-U", "-n", "c$"}, "a\nbc", "2:bc\n"},
        // Across the edge of a pipe's first window (8 MiB): found whole.
        {{"grep", "-U", "-b", "-o", "needle\\nthread"}, acrossWindow, "8388602:needle\nthread\n"},
        {{"grep", "-U", "-n", "-B1", "e\\nthr"}, acrossWindow,
         "8191-" + std::string(1023, '.') + "\n8192:" + std::string(1018, 'x') + "needle\n8193:thread\n"},
    };
    TempDir dir;
    for (const Row& row : rows) {
        const fs::path file = dir.path / "input";
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << row.input;
        }
        const Outcome piped = RunPiped(row.args, Text(row.input));
        const Outcome onFile = RunOnFile(row.args, file.string());
        EXPECT_EQ(piped.out, row.out) << row.args.back();
        EXPECT_EQ(onFile.out, row.out) << row.args.back();
    }
}

// Lines end only at a line feed: `^` only at a line's start, `$` only at its
// end or before the carriage return of a CRLF line, which is searched without
// it first, then whole for the matches that reach past it. The same in byte mode and
// Unicode mode (é keeps the ASCII twin out), over files and pipes.
TEST(CliStream, LinesEndOnlyAtLineFeeds)
{
    struct Row {
        std::string expression;
        std::string input;
        std::string count;  // grep -c
        std::string only;   // grep -o
    };
    const Row rows[] = {
        {"^$", "a\r\nb\r\n", "0\n", ""},
        {"^$", "\xC3\xA9\r\n\r\n\n", "2\n", ""},  // a blank CRLF line is blank
        {"^done", "progress 10%\rdone\n", "0\n", ""},
        {"^done", "\xC3\xA9 10%\rdone\n", "0\n", ""},
        {"^b", "a\fb\nb\n", "1\n", "b\n"},
        {"b$", "b\rc\n\xC3\xA9 b\fc\n", "0\n", ""},
        {"done$", "x done\r\n\xC3\xA9 done\r\n", "2\n", "done\ndone\n"},
        {"a\r", "xa\r\n\xC3\xA9" "a\r\n", "2\n", "a\r\na\r\n"},  // the CR itself
        {"\r$", "x\r\n\xC3\xA9\r\ny\n", "2\n", "\r\n\r\n"},
        {"a.", "xa\r\n", "1\n", "a\r\n"},
        {"\\s$", "a \r\n\xC3\xA9 \r\n", "2\n", " \n\r\n \n\r\n"},  // before the CR, then the CR
        {".*", "ab\r\n", "1\n", "ab\n"},
        {"b|\r", "b\r\n", "1\n", "b\n\r\n"},
    };
    TempDir dir;
    const fs::path file = dir.path / "input";
    for (const Row& row : rows) {
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out << row.input;
        }
        for (const char* locale : {"C", "C.UTF-8"}) {
            for (const bool counted : {true, false}) {
                const std::vector<std::string> args = {"grep", "-a", counted ? "-c" : "-o", row.expression};
                const std::string& expected = counted ? row.count : row.only;
                std::vector<std::string> onFile = args;
                onFile.push_back(file.string());
                EXPECT_EQ(RunPiped(args, Text(row.input), 0, false, locale).out, expected)
                    << row.expression << " " << args[2] << " piped, " << locale;
                EXPECT_EQ(RunPiped(onFile, Text(""), 0, false, locale).out, expected)
                    << row.expression << " " << args[2] << " on a file, " << locale;
            }
        }
    }
    // replace: `^` never after a carriage return inside a line, `$` before a
    // CRLF's carriage return and at the line's end.
    const struct {
        const char* expression;
        const char* format;
        std::string changed;
    } edits[] = {
        {"^", "# ", "# a\rb\r\n# \xC3\xA9\rc\n"},
        {"$", ";", "a\rb;\r;\n\xC3\xA9\rc;\n"},  // $ before the CR and at the line's end
    };
    for (const auto& edit : edits) {
        for (const char* locale : {"C", "C.UTF-8"}) {
            {
                std::ofstream out(file, std::ios::binary | std::ios::trunc);
                out << "a\rb\r\n\xC3\xA9\rc\n";
            }
            EXPECT_EQ(RunPiped({"replace", edit.expression, edit.format, file.string()}, Text(""), 0, false, locale)
                          .status,
                      0);
            std::ifstream in(file, std::ios::binary);
            const std::string changed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            EXPECT_EQ(changed, edit.changed) << edit.expression << " " << locale;
        }
    }
}

TEST(CliStream, FileWhoseSizeReadsZero)
{
    const Outcome run = RunOnFile({"grep", "^Name:"}, "/proc/self/status");
    EXPECT_EQ(run.out, "Name:\tquorvex\n");
}

TEST(CliStream, ContextAcrossBlocksAsGrepHasIt)
{
    // Many blocks of short lines, some empty: context before and after a
    // selected line reaches into the block before or after it.
    std::mt19937 random(17);
    const char* const words[] = {"alpha", "beta", "lantern", "x", "", "needle y", "zz"};
    std::string text;
    for (int line = 0; line < 200000; ++line) {
        const unsigned count = random() % 12;
        for (unsigned w = 0; w < count; ++w)
            text += std::string(w ? " " : "") + words[random() % 7];
        text += '\n';
    }
    TempDir dir;
    const fs::path file = dir.path / "lines";
    {
        std::ofstream out(file, std::ios::binary);
        out << text;
    }
    const std::vector<std::vector<std::string>> rows = {
        {"grep", "-n", "-B2", "-A3", "needle"}, {"grep", "-b", "-B5", "needle"}, {"grep", "-n", "-B30", "needle"},
        {"grep", "-v", "-B3", "-n", "a"},       {"grep", "-C7", "-n", "x"},      {"grep", "-n", "-C1", "-m50", "needle"},
    };
    for (const auto& args : rows) {
        const Outcome ours = RunOnFile(args, file.string());
        std::vector<std::string> gnu(args.begin() + 1, args.end());
        std::string command = "LC_ALL=C grep";
        for (const std::string& arg : gnu)
            command += " '" + arg + "'";
        command += " '" + file.string() + "'";
        std::string expected;
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            expected.append(buffer, n);
        ::pclose(pipe);
        EXPECT_EQ(ours.status, 0) << command;
        EXPECT_TRUE(ours.out == expected) << command << ": " << ours.out.size() << " bytes against " << expected.size();
    }
}

// Benchmarks of the command-line tool on a generated corpus: `quorvex grep
// -rn` (line mode, whole lines written) against GNU `grep -rn` and `rg -n`
// with the same pattern (LC_ALL=C, output to a file: GNU grep stops at the
// first match when its output is /dev/null), and against the library's own
// GrepFiles in line mode with a handler that reads each match's line and
// text. The library runs twice: in this process, and in a process of its own
// (this program started again with --library-grep), so that the tool's
// overhead (option handling, formatting and writing every match) is measured
// against a baseline that pays the same process start. The ratios are
// printed at the end. QUORVEX_BENCH_CLI_MB sets the corpus size (default
// 64 MB); QUORVEX_CLI names the tool (default: ../cli/quorvex beside this
// program).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "Regularexpressionclass.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Pattern {
    const char* name;
    const char* expression;  // the same text for both tools (ERE and normal syntax agree here)
    bool icase;
};
// The kinds of pattern of the search benchmark (bench_files): a literal, a
// case-insensitive word, an alternation and a class-heavy expression.
const Pattern kPatterns[] = {
    {"literal", "quorum", false},
    {"icase", "quorum", true},
    {"alternation", "north|south|east|west", false},
    {"classes", "[A-Z][a-z]+ [0-9]{2,4}", false},
};
constexpr int kPatternCount = sizeof kPatterns / sizeof kPatterns[0];

fs::path& CorpusDir()
{
    static fs::path dir;
    return dir;
}

std::string& ToolPath()
{
    static std::string path;
    return path;
}

// Best time of each (tool, pattern), in seconds.
std::map<std::string, double>& Best()
{
    static std::map<std::string, double> best;
    return best;
}

void Record(const std::string& key, double seconds)
{
    auto found = Best().find(key);
    if (found == Best().end() || seconds < found->second)
        Best()[key] = seconds;
}

// Text of mixed words: one line in about 40 holds "quorum", one in about 60
// a date; every line feed counts for the line numbers.
void MakeCorpus(const fs::path& dir, std::size_t megabytes)
{
    static const char* const words[] = {"alpha", "river", "stone", "Quorum", "window", "light", "market",
                                        "signal", "paper", "engine", "garden", "silver", "number", "forest",
                                        "north", "eastern", "Harbour"};
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> word(0, sizeof words / sizeof words[0] - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> sizeKb(16, 1024);
    const std::size_t total = megabytes << 20;
    std::size_t written = 0;
    for (int file = 0; written < total; ++file) {
        fs::path sub = dir / ("d" + std::to_string(file % 12)) / ("e" + std::to_string(file % 3));
        fs::create_directories(sub);
        std::size_t size = static_cast<std::size_t>(sizeKb(random)) << 10;
        std::string text;
        text.reserve(size + 128);
        while (text.size() < size) {
            int words_in_line = 6 + percent(random) % 8;
            for (int w = 0; w < words_in_line; ++w) {
                text += words[word(random)];
                text += ' ';
            }
            int roll = percent(random);
            if (roll < 2)
                text += "quorum ";
            else if (roll < 4)
                text += "on 2023-0" + std::to_string(1 + roll) + " ";
            else if (roll < 6)
                text += "Dock " + std::to_string(100 + roll) + " ";
            text += "end\n";
        }
        std::ofstream(sub / ("f" + std::to_string(file) + ".txt"), std::ios::binary) << text;
        written += text.size();
    }
}

double CpuSeconds(const struct rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Processor time of this process so far, all threads included.
double OwnCpuSeconds()
{
    struct rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

// Runs a program with its standard output written to a file (GNU grep stops
// at the first match when its output is /dev/null, so a real file keeps the
// comparison honest). Returns the exit status.
int RunDrained(const std::vector<std::string>& args, std::size_t& bytes, double& cpuSeconds)
{
    const std::string output = CorpusDir().string() + ".out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& arg : copy)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = {"LC_ALL=C", "PATH=/usr/bin:/bin"};
    std::vector<char*> envp;
    for (std::string& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t child = -1;
    int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    struct rusage usage = {};
    ::wait4(child, &status, 0, &usage);
    cpuSeconds = CpuSeconds(usage);
    std::error_code error;
    bytes = static_cast<std::size_t>(fs::file_size(output, error));
    fs::remove(output, error);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// The library's GrepFiles over the corpus with a handler that reads what a
// grep needs (file name, line, match text). Returns the number of matches.
unsigned LibraryGrep(const char* expression, bool icase, const std::string& dir, std::size_t& checksum)
{
    struct Sink {
        void OnMatch(RegexClass::RegularExpression*, std::string file, const RegexClass::REMatchInfo& m,
                     unsigned line, bool&)
        {
            total += file.size() + m.front().Text.size() + line;
        }
        std::size_t total = 0;
    } sink;
    RegexClass::RegularExpression re;
    re.SetExpression(expression);
    if (icase)
        re.AddExpressionOption(RegexClass::RegularExpression::CaseInsensitive);
    re.SetFilesToMatch(dir + "/*");
    re.SetDirectoryRecursion(true);
    re.SetLineMode(true);
    re.SetOnGreppingFilesClosure(RegexClass::Bind(&sink, &Sink::OnMatch));
    unsigned matches = re.GrepFiles();
    checksum = sink.total;
    return matches;
}

void BM_LibraryGrepFiles(benchmark::State& state)
{
    const Pattern& p = kPatterns[state.range(0)];
    unsigned matches = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double cpu = OwnCpuSeconds();
        std::size_t checksum = 0;
        matches = LibraryGrep(p.expression, p.icase, CorpusDir().string(), checksum);
        benchmark::DoNotOptimize(checksum);
        Record(std::string("library/") + p.name, Seconds(std::chrono::steady_clock::now() - start));
        Record(std::string("library-cpu/") + p.name, OwnCpuSeconds() - cpu);
    }
    state.counters["matches"] = matches;
    state.SetLabel(p.name);
}

std::string& SelfPath()
{
    static std::string path;
    return path;
}

void BM_LibraryGrepFilesProcess(benchmark::State& state)
{
    const Pattern& p = kPatterns[state.range(0)];
    std::vector<std::string> args = {SelfPath(), "--library-grep", p.expression, p.icase ? "1" : "0",
                                     CorpusDir().string()};
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double cpu = 0;
        int status = RunDrained(args, bytes, cpu);
        double seconds = Seconds(std::chrono::steady_clock::now() - start);
        if (status != 0) {
            state.SkipWithError("the library run failed");
            return;
        }
        Record(std::string("process/") + p.name, seconds);
        Record(std::string("process-cpu/") + p.name, cpu);
    }
    state.SetLabel(p.name);
}

enum class Program { Tool, Gnu, Ripgrep };

void RunTool(benchmark::State& state, Program program)
{
    const Pattern& p = kPatterns[state.range(0)];
    std::vector<std::string> args;
    if (program == Program::Gnu)
        args = {"grep", "-rn", "-E"};
    else if (program == Program::Ripgrep)
        args = {"rg", "-n", "--no-heading"};
    else
        args = {ToolPath(), "grep", "-rn"};
    if (p.icase)
        args.push_back("-i");
    args.push_back(p.expression);
    args.push_back(CorpusDir().string());
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        double cpu = 0;
        int status = RunDrained(args, bytes, cpu);
        double seconds = Seconds(std::chrono::steady_clock::now() - start);
        if (status != 0) {
            state.SkipWithError("the program failed");
            return;
        }
        const std::string key = program == Program::Gnu ? "gnu" : program == Program::Ripgrep ? "rg" : "tool";
        Record(key + "/" + p.name, seconds);
        Record(key + "-cpu/" + p.name, cpu);
    }
    state.counters["output_MB"] = static_cast<double>(bytes) / (1 << 20);
    state.SetLabel(p.name);
}

void BM_ToolGrep(benchmark::State& state)
{
    RunTool(state, Program::Tool);
}
void BM_GnuGrep(benchmark::State& state)
{
    RunTool(state, Program::Gnu);
}
void BM_Ripgrep(benchmark::State& state)
{
    RunTool(state, Program::Ripgrep);
}

BENCHMARK(BM_LibraryGrepFiles)->DenseRange(0, kPatternCount - 1)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibraryGrepFilesProcess)
    ->DenseRange(0, kPatternCount - 1)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ToolGrep)->DenseRange(0, kPatternCount - 1)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GnuGrep)->DenseRange(0, kPatternCount - 1)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Ripgrep)->DenseRange(0, kPatternCount - 1)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string DefaultSelfPath()
{
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
}

std::string DefaultToolPath()
{
    fs::path self = DefaultSelfPath();
    if (self.empty())
        return "quorvex";
    return (self.parent_path().parent_path() / "cli" / "quorvex").string();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--library-grep") {
        std::size_t checksum = 0;
        unsigned matches = LibraryGrep(argv[2], std::string(argv[3]) == "1", argv[4], checksum);
        std::printf("%u %zu\n", matches, checksum);
        return 0;
    }
    SelfPath() = DefaultSelfPath();
    benchmark::Initialize(&argc, argv);
    const char* tool = std::getenv("QUORVEX_CLI");
    ToolPath() = tool != nullptr ? tool : DefaultToolPath();
    if (::access(ToolPath().c_str(), X_OK) != 0) {
        std::fprintf(stderr, "bench_cli: no quorvex tool at %s (build quorvex_cli or set QUORVEX_CLI)\n",
                     ToolPath().c_str());
        return 1;
    }
    const char* size = std::getenv("QUORVEX_BENCH_CLI_MB");
    std::size_t megabytes = size != nullptr ? std::strtoul(size, nullptr, 10) : 64;
    if (megabytes == 0)
        megabytes = 1;
    char pattern[] = "/tmp/quorvex-bench-cli-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    CorpusDir() = pattern;
    MakeCorpus(CorpusDir(), megabytes);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Wall-clock ratios suffer when other work shares the machine; the
    // processor-time ratios (user + system, all threads) much less so.
    std::printf("\nquorvex grep -rn over %zu MB (best of 5 runs each; wall clock, then processor time):\n",
                megabytes);
    for (const Pattern& p : kPatterns) {
        auto find = [&](const std::string& key) {
            auto it = Best().find(key + "/" + p.name);
            return it == Best().end() ? 0.0 : it->second;
        };
        auto ratio = [&](const char* what, const std::string& a, const std::string& b, const char* note) {
            double x = find(a), y = find(b), cx = find(a + "-cpu"), cy = find(b + "-cpu");
            if (x > 0 && y > 0 && cx > 0 && cy > 0)
                std::printf("  %-12s %-52s wall %.3f   cpu %.3f%s\n", p.name, what, x / y, cx / cy, note);
        };
        ratio("tool / library GrepFiles (line mode) in a process", "tool", "process", "   (target <= 1.10)");
        ratio("tool / library GrepFiles in this process", "tool", "library", "");
        ratio("quorvex grep -rn / GNU grep -rn", "tool", "gnu", "");
        ratio("quorvex grep -rn / rg -n", "tool", "rg", "");
    }
    std::error_code ignored;
    fs::remove_all(CorpusDir(), ignored);
    return 0;
}

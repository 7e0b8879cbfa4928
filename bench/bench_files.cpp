// The file half's speed: GrepFiles through the class and through the engine
// object against the floor (map each file, bare regex_search loop), GNU grep,
// ChangeFiles against sed -i, and the peak memory of a GrepFiles walk.
//
// The corpus is generated here, in a temporary directory: about 200 MB of text
// in a few hundred files of mixed sizes (QUORVEX_BENCH_MB sets the size,
// QUORVEX_BENCH_ITERATIONS the runs per case). Ratios are printed at the end.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/regex.hpp>

#include "Benchcorpus.h"
#include "RegEx.h"
#include "Regularexpressionclass.h"

namespace {

struct Pattern {
    const char* name;
    const char* expression;  // the engine's normal syntax
    bool icase;
    const char* grepArguments;  // the same search for GNU grep
};

const Pattern patterns[] = {
    {"literal", "people", false, "-F people"},
    {"icase", "watson", true, "-i -F watson"},
    {"alternation", "north|south|east|west", false, "-E 'north|south|east|west'"},
    {"classes", "[A-Z][a-z]+ [0-9]{2,4}", false, "-E '[A-Z][a-z]+ [0-9]{2,4}'"},
};

// ---- The floor: map each file, bare regex_search loop ------------------------

std::size_t FloorCount(const boost::regex& e)
{
    std::size_t matches = 0;
    for (const auto& name : corpusFiles) {
        const int fd = ::open(name.c_str(), O_RDONLY);
        struct stat st;
        ::fstat(fd, &st);
        const std::size_t size = static_cast<std::size_t>(st.st_size);
        void* map = size ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
        ::close(fd);
        if (map == MAP_FAILED)
            continue;
        const char* first = static_cast<const char*>(map);
        const char* last = first + size;
        boost::cmatch m;
        for (const char* p = first;
             p < last && boost::regex_search(p, last, m, e, p == first ? boost::match_default : boost::match_prev_avail);
             p = m[0].second)
            ++matches;
        if (map)
            ::munmap(map, size);
    }
    return matches;
}

void BM_Floor(benchmark::State& state, const Pattern* p)
{
    const boost::regex e(p->expression, p->icase ? boost::regex::normal | boost::regex::icase : boost::regex::normal);
    std::size_t matches = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(matches = FloorCount(e));
    state.counters["matches"] = double(matches);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(corpusBytes));
}

// ---- The engine object directly ----------------------------------------------

std::uint64_t lineSum = 0, textBytes = 0;

bool EngineCallback(const char*, const RegexEngine::RegEx& engine)
{
    lineSum += engine.Line();
    textBytes += engine.What(0).size();
    return true;
}

void BM_Engine(benchmark::State& state, const Pattern* p, unsigned threads)
{
    RegexEngine::RegEx engine;
    engine.SetSearchThreads(threads);
    engine.SetExpression(p->expression, p->icase);
    unsigned matches = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(matches = engine.GrepFiles(EngineCallback, corpus + "/*.txt", true, 0));
    state.counters["matches"] = matches;
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(corpusBytes));
}

// ---- The class library ----------------------------------------------------

void ClassHandler(RegexClass::RegularExpression*, std::string, const RegexClass::REMatchInfo& matches,
                  unsigned line, bool&)
{
    lineSum += line;
    textBytes += matches[0].Text.size();
}

unsigned ClassGrep(const Pattern& p, const std::string& files)
{
    RegexClass::RegularExpression re;
    re.SetExpression(p.expression);
    if (p.icase)
        re.AddExpressionOption(RegexClass::RegularExpression::CaseInsensitive);
    re.SetFilesToMatch(files);
    re.SetDirectoryRecursion(true);
    re.SetOnGreppingFiles(ClassHandler);
    return re.GrepFiles();
}

void BM_Class(benchmark::State& state, const Pattern* p)
{
    unsigned matches = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(matches = ClassGrep(*p, corpus + "/*.txt"));
    state.counters["matches"] = matches;
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(corpusBytes));
}

// ---- GNU grep --------------------------------------------------------------

void BM_Grep(benchmark::State& state, const Pattern* p)
{
    const std::string command =
        std::string("LC_ALL=C grep -rc --include='*.txt' ") + p->grepArguments + " " + corpus + " > /dev/null";
    for (auto _ : state)
        Run(command);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(corpusBytes));
}

// ---- ChangeFiles against sed -i ---------------------------------------------

const std::string changeFrom = "people", changeTo = "persons";

void FreshCopy()
{
    Run("rm -rf " + root + "/copy && cp -r " + corpus + " " + root + "/copy && cat " + root +
        "/copy/*/*.txt > /dev/null");
}

void BM_ChangeFiles(benchmark::State& state)
{
    unsigned changes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FreshCopy();
        state.ResumeTiming();
        RegexClass::RegularExpression re;
        re.SetExpression(changeFrom);
        re.SetFormatString(changeTo);
        re.SetSaveExtension("");
        re.SetFilesToMatch(root + "/copy/*.txt");
        re.SetDirectoryRecursion(true);
        benchmark::DoNotOptimize(changes = re.ChangeFiles());
        if (re.GetChangeFilesErrors() != nullptr)
            state.SkipWithError("ChangeFiles reported problems");
    }
    state.counters["changes"] = changes;
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(corpusBytes));
}

void BM_Sed(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        FreshCopy();
        state.ResumeTiming();
        Run("find " + root + "/copy -name '*.txt' -exec sed -i 's/" + changeFrom + "/" + changeTo + "/g' {} +");
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(corpusBytes));
}

// ---- Peak memory, measured in a fresh process ------------------------------

long ReadHighWater()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// Child mode: one class GrepFiles over `files`; prints the peak RSS (KiB)
// before and after.
int RssChild(const std::string& files, bool engineOnly)
{
    const long before = ReadHighWater();
    if (engineOnly) {
        RegexEngine::RegEx engine;
        engine.SetExpression(patterns[0].expression, false);
        engine.GrepFiles(EngineCallback, files, true, 0);
    } else {
        ClassGrep(patterns[0], files);
    }
    std::printf("%ld %ld\n", before, ReadHighWater());
    return 0;
}

bool MeasureRss(const std::string& files, bool engineOnly, long& before, long& after)
{
    const std::string command = "/proc/" + std::to_string(::getpid()) + "/exe --rss-child " + files +
                                (engineOnly ? " engine" : " class");
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    const bool ok = std::fscanf(pipe, "%ld %ld", &before, &after) == 2;
    ::pclose(pipe);
    return ok;
}

// Keeps each run's real time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(::isatty(1) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs)
            if (!run.error_occurred)
                seconds[run.run_name.function_name] = run.GetAdjustedRealTime() / 1e3;  // ms to s
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

double Ratio(const RatioReporter& r, const std::string& a, const std::string& b)
{
    const auto x = r.seconds.find(a), y = r.seconds.find(b);
    return x == r.seconds.end() || y == r.seconds.end() || y->second == 0 ? -1 : x->second / y->second;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--rss-child")
        return RssChild(argv[2], std::string(argv[3]) == "engine");

    const char* mb = std::getenv("QUORVEX_BENCH_MB");
    const std::size_t target = std::size_t(mb ? std::max(1, std::atoi(mb)) : 200) * 1048576;
    if (const char* n = std::getenv("QUORVEX_BENCH_ITERATIONS"))
        iterations = std::max(1, std::atoi(n));
    MakeCorpus(target);
    std::printf("corpus: %zu files, %.1f MB, largest file %.1f MB, in %s\n", corpusFiles.size(),
                double(corpusBytes) / 1048576, double(largestFile) / 1048576, corpus.c_str());

    auto tune = [](benchmark::internal::Benchmark* b) {
        // Whole-corpus runs; real time, since the look-ahead works on other threads.
        b->Iterations(iterations)->UseRealTime()->Unit(benchmark::kMillisecond);
    };
    for (const auto& p : patterns) {
        const std::string n = p.name;
        tune(benchmark::RegisterBenchmark(("Floor/" + n).c_str(), BM_Floor, &p));
        tune(benchmark::RegisterBenchmark(("EngineOneThread/" + n).c_str(), BM_Engine, &p, 1u));
        tune(benchmark::RegisterBenchmark(("Engine/" + n).c_str(), BM_Engine, &p, 0u));
        tune(benchmark::RegisterBenchmark(("Class/" + n).c_str(), BM_Class, &p));
        tune(benchmark::RegisterBenchmark(("Grep/" + n).c_str(), BM_Grep, &p));
    }
    tune(benchmark::RegisterBenchmark("ChangeFiles", BM_ChangeFiles));
    tune(benchmark::RegisterBenchmark("Sed", BM_Sed));

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nRatios (time / time; below 1 is faster):\n");
    for (const auto& p : patterns) {
        const std::string n = p.name;
        std::printf("  %-12s class/floor %.2f  engine/floor %.2f  engine-one-thread/floor %.2f  "
                    "class/grep %.2f  floor/grep %.2f\n",
                    n.c_str(), Ratio(reporter, "Class/" + n, "Floor/" + n), Ratio(reporter, "Engine/" + n, "Floor/" + n),
                    Ratio(reporter, "EngineOneThread/" + n, "Floor/" + n), Ratio(reporter, "Class/" + n, "Grep/" + n),
                    Ratio(reporter, "Floor/" + n, "Grep/" + n));
    }
    std::printf("  ChangeFiles/sed -i %.2f\n", Ratio(reporter, "ChangeFiles", "Sed"));

    long before = 0, after = 0, before2 = 0, after2 = 0;
    if (MeasureRss(corpus + "/*.txt", false, before, after) && MeasureRss(doubleCorpus + "/*.txt", false, before2, after2))
        std::printf("Peak RSS of class GrepFiles: corpus %.1f MB (%.1f MB at start), twice the files %.1f MB "
                    "(%.1f MB at start); largest file %.1f MB\n",
                    after / 1024.0, before / 1024.0, after2 / 1024.0, before2 / 1024.0, double(largestFile) / 1048576);
    Run("rm -rf " + root);
    return 0;
}

// Search speed for everyday expressions over the file benchmark's corpus:
// GrepFiles through the class (a handler reading the line and the match text),
// the engine object's walk in line mode, and the quorvex tool (`grep -rno`), against GNU grep (`grep -rno`, LC_ALL=C)
// and ripgrep (`rg -no`), every tool writing its output to a file; ChangeFiles
// against `sed -i -E`; the peak memory of a GrepFiles walk.
//
// Each case runs QUORVEX_BENCH_ITERATIONS times (default 3) on a warm cache;
// the shortest wall time counts. QUORVEX_BENCH_MB sets the corpus size,
// QUORVEX_TOOL the tool (default: the one built beside this program),
// QUORVEX_BENCH_ONLY a text: only the expressions holding it are timed.
// `bench_search --corpus-only` makes the corpus, prints its directory and
// leaves it (under a temporary directory the caller removes: the parent).
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "Benchcorpus.h"
#include "RegEx.h"
#include "Regularexpressionclass.h"

namespace {

struct Pattern {
    const char* expression;  // the engine's normal syntax; also what grep -E and rg take
    bool icase;
};

const Pattern patterns[] = {
    {"lantern", false},
    {"lantern", true},
    {"foo|bar|baz", false},
    {"[A-Z][a-z]+ing\\b", false},
    {"\\w+ing\\b", false},
    {"(\\w+)@\\w+\\.example", false},
    {"TODO.*", false},
    {"colou?r", false},
    {"[a-z]{3}[0-9]{3}", false},
    {"[0-9a-f]{12}", false},
};

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (const char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

double Seconds(const std::function<void()>& run)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < iterations; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

std::uint64_t lineSum = 0, textBytes = 0;

void Handler(RegexClass::RegularExpression*, std::string, const RegexClass::REMatchInfo& matches, unsigned line,
             bool&)
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
    re.SetOnGreppingFiles(Handler);
    return re.GrepFiles();
}

bool EngineHandler(const char*, const RegexEngine::RegEx& engine)
{
    lineSum += engine.Line();
    textBytes += engine.What(0).size();
    return true;
}

// The engine object's walk in line mode (what the tool's line-by-line search
// runs on).
unsigned EngineLines(const Pattern& p, const std::string& files)
{
    RegexEngine::RegEx engine;
    engine.SetLineMode(true);
    engine.SetExpression(p.expression, p.icase);
    return engine.GrepFiles(EngineHandler, files, true, 0);
}

long Lines(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    long n = 0;
    std::string line;
    while (std::getline(in, line))
        ++n;
    return n;
}

long HighWater()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--rss-child") {
        ClassGrep(patterns[4], argv[2]);
        std::printf("%ld\n", HighWater());
        return 0;
    }
    const char* mb = std::getenv("QUORVEX_BENCH_MB");
    const std::size_t target = std::size_t(mb ? std::max(1, std::atoi(mb)) : 200) * 1048576;
    if (const char* n = std::getenv("QUORVEX_BENCH_ITERATIONS"))
        iterations = std::max(1, std::atoi(n));
    std::string self(4096, '\0');
    self.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::readlink("/proc/self/exe", &self[0], self.size()))));
    const char* toolEnv = std::getenv("QUORVEX_TOOL");
    const std::string tool = toolEnv ? toolEnv : self.substr(0, self.rfind('/')) + "/../cli/quorvex";

    if (argc == 2 && std::string(argv[1]) == "--corpus-only") {
        MakeCorpus(target);
        std::printf("%s\n", corpus.c_str());
        return 0;
    }
    MakeCorpus(target);
    std::printf("corpus: %zu files, %.1f MB, largest file %.1f MB; best of %d runs, wall time\n", corpusFiles.size(),
                double(corpusBytes) / 1048576, double(largestFile) / 1048576, iterations);
    const std::string out = root + "/out.txt";

    std::printf("\n%-24s %8s %8s %8s %8s %8s | %8s %8s %8s %8s | %8s %8s %8s %8s\n", "expression", "class s", "lines s",
                "tool s", "grep s", "rg s", "class/gr", "lines/gr", "tool/gr", "rg/gr", "matches", "in lines", "tool -o",
                "grep -o");
    const char* only = std::getenv("QUORVEX_BENCH_ONLY");  // run only expressions containing this text
    for (const auto& p : patterns) {
        if (only != nullptr && std::string(p.expression).find(only) == std::string::npos)
            continue;
        const std::string label = std::string(p.icase ? "-i " : "") + p.expression;
        const std::string icase = p.icase ? "-i " : "";
        unsigned matches = 0;
        unsigned lineMatches = 0;
        const double cls = Seconds([&] { matches = ClassGrep(p, corpus + "/*.txt"); });
        const double lns = Seconds([&] { lineMatches = EngineLines(p, corpus + "/*.txt"); });
        const double tl = Seconds([&] {
            Run(tool + " grep -rno " + icase + "-e " + Quote(p.expression) + " " + corpus + " > " + out + "; true");
        });
        const long toolMatches = Lines(out);
        const double gr = Seconds(
            [&] { Run("LC_ALL=C grep -rno -E " + icase + "-e " + Quote(p.expression) + " " + corpus + " > " + out + "; true"); });
        const long grepMatches = Lines(out);
        const double rg =
            Seconds([&] { Run("rg -no " + icase + "-e " + Quote(p.expression) + " " + corpus + " > " + out + "; true"); });
        std::printf("%-24s %8.3f %8.3f %8.3f %8.3f %8.3f | %8.2f %8.2f %8.2f %8.2f | %8u %8u %8ld %8ld\n", label.c_str(),
                    cls, lns, tl, gr, rg, cls / gr, lns / gr, tl / gr, rg / gr, matches, lineMatches, toolMatches,
                    grepMatches);
        std::fflush(stdout);
    }

    // ChangeFiles against sed -i -E on fresh copies of the corpus.
    const std::string from = "[A-Z][a-z]+ing\\b";
    auto fresh = [&] {
        Run("rm -rf " + root + "/copy && cp -r " + corpus + " " + root + "/copy && cat " + root +
            "/copy/*/*.txt > /dev/null");
    };
    double change = std::numeric_limits<double>::max(), sed = change;
    unsigned changes = 0;
    for (int i = 0; i < iterations; ++i) {
        fresh();
        const auto start = std::chrono::steady_clock::now();
        RegexClass::RegularExpression re;
        re.SetExpression(from);
        re.SetFormatString("<$0>");
        re.SetSaveExtension("");
        re.SetFilesToMatch(root + "/copy/*.txt");
        re.SetDirectoryRecursion(true);
        changes = re.ChangeFiles();
        change = std::min(change, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (re.GetChangeFilesErrors() != nullptr)
            std::printf("ChangeFiles reported problems\n");
    }
    for (int i = 0; i < iterations; ++i) {
        fresh();
        const auto start = std::chrono::steady_clock::now();
        Run("find " + root + "/copy -name '*.txt' -exec sed -i -E " + Quote("s/" + from + "/<&>/g") + " {} +");
        sed = std::min(sed, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("\nChangeFiles %s -> <$0>: %.3f s (returned %u), sed -i -E: %.3f s, ratio %.2f\n", from.c_str(),
                change, changes, sed, change / sed);

    // Peak memory of a GrepFiles walk, in a fresh process.
    FILE* pipe = ::popen((self + " --rss-child " + corpus + "/*.txt").c_str(), "r");
    long peak = -1;
    if (pipe != nullptr) {
        if (std::fscanf(pipe, "%ld", &peak) != 1)
            peak = -1;
        ::pclose(pipe);
    }
    std::printf("Peak RSS of a class GrepFiles walk (%s): %.1f MB; largest file %.1f MB\n", patterns[4].expression,
                peak / 1024.0, double(largestFile) / 1048576);
    Run("rm -rf " + root);
    return 0;
}

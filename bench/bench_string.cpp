// Speed of the string operations against the engine used directly, in the
// same process: Grep with a handler against a bare counting regex_grep loop
// (and its growth with four times the input), Search on a short subject
// against regex_search with a reused result, and Merge without a handler
// against regex_replace into a string. The baselines use the same effective
// match flags as the object (leftmost-longest), so the ratios show the cost
// of the object itself. Ratios are printed after the runs, from the CPU time
// of the fastest repetition of each side (the machine may be shared).
//
// Grep is measured twice. The lists handed to OnGrepping hold, for every
// match, the suffix: all the rest of the subject. Copying it makes Grep with
// a handler quadratic in the subject, so that case runs on small subjects
// only. The same Grep with lists that carry the suffix's position but not its
// text ("lean lists", an object type of this file) shows the cost of
// everything else at full size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <boost/regex.hpp>

#include "Objectmatching.h"
#include "Regularexpressionclass.h"
#include "Regularexpressiontraits.h"

// The class's object with lists that leave out the suffix text.
struct LeanObject : RegexClass::RegularExpression {};

template <>
struct RegexEngine::ObjectTraits<LeanObject> : RegexEngine::ObjectTraits<RegexClass::RegularExpression> {
    static constexpr bool SuffixText = false;
};

namespace {

using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;

constexpr auto kFlags = boost::regex_constants::match_posix;

// About one match every 16 bytes: "id" followed by digits, in lines of text.
std::string MakeText(std::size_t bytes)
{
    static const char* const words[] = {"alpha", "beta", "gamma", "delta", "omega", "kappa"};
    std::string text;
    text.reserve(bytes + 64);
    unsigned n = 1;
    while (text.size() < bytes) {
        text += words[n % 6];
        text += " id";
        text += std::to_string(n * 7919u % 100000u);
        text += (n % 5 == 0) ? "\n" : " ";
        ++n;
    }
    text.resize(bytes);
    return text;
}

const std::string& Text16() { static const std::string t = MakeText(16u << 20); return t; }
const std::string& Text64() { static const std::string t = MakeText(64u << 20); return t; }
const char* const kGrepExpression = "id[0-9]+";

// ---- Grep ----------------------------------------------------------------

unsigned long long gSink = 0;

void CountingHandler(RegularExpression*, const REMatchInfo& matches, unsigned line, unsigned, bool&)
{
    gSink += line + matches[0].Text.size();
}

template <class Object>
void GrepObject(benchmark::State& state, const std::string& text)
{
    Object re;
    re.SetExpression(kGrepExpression);
    re.SetStringToMatch(text);
    re.SetOnGrepping(&CountingHandler);
    re.ParseExpression();
    unsigned count = 0;
    for (auto _ : state) {
        count = RegexEngine::Grep(re);
        benchmark::DoNotOptimize(count);
    }
    state.counters["matches"] = count;
}

void GrepBaseline(benchmark::State& state, const std::string& text)
{
    const boost::regex e(kGrepExpression);
    unsigned count = 0;
    for (auto _ : state) {
        count = 0;
        boost::regex_grep(
            [&count](const boost::cmatch&) {
                ++count;
                return true;
            },
            text.data(), text.data() + text.size(), e, kFlags);
        benchmark::DoNotOptimize(count);
    }
    state.counters["matches"] = count;
}

const std::string& Text256K() { static const std::string t = MakeText(256u << 10); return t; }
const std::string& Text1M() { static const std::string t = MakeText(1u << 20); return t; }

void BM_Grep_Baseline_16MB(benchmark::State& s) { GrepBaseline(s, Text16()); }
void BM_Grep_LeanLists_16MB(benchmark::State& s) { GrepObject<LeanObject>(s, Text16()); }
void BM_Grep_LeanLists_64MB(benchmark::State& s) { GrepObject<LeanObject>(s, Text64()); }
void BM_Grep_Baseline_1MB(benchmark::State& s) { GrepBaseline(s, Text1M()); }
void BM_Grep_Object_256KB(benchmark::State& s) { GrepObject<RegularExpression>(s, Text256K()); }
void BM_Grep_Object_1MB(benchmark::State& s) { GrepObject<RegularExpression>(s, Text1M()); }

// ---- Search --------------------------------------------------------------

const char* const kSearchExpression = "([a-z]+)@([a-z]+)\\.org";
// 64 bytes, the address at the end.
const std::string& ShortSubject()
{
    static const std::string s = [] {
        const std::string core = "send the nightly report to builds@quorvex.org";
        return std::string(64 - core.size(), ' ') + core;
    }();
    return s;
}

void BM_Search_Object_64B(benchmark::State& state)
{
    RegularExpression re;
    re.SetExpression(kSearchExpression);
    re.SetStringToMatch(ShortSubject());
    re.ParseExpression();
    for (auto _ : state)
        benchmark::DoNotOptimize(re.Search());
}

void BM_Search_Baseline_64B(benchmark::State& state)
{
    const boost::regex e(kSearchExpression);
    const std::string& subject = ShortSubject();
    boost::cmatch m;
    for (auto _ : state)
        benchmark::DoNotOptimize(boost::regex_search(subject.data(), subject.data() + subject.size(), m, e, kFlags));
}

// ---- Merge ---------------------------------------------------------------

const std::string& MergeText() { static const std::string t = MakeText(4u << 20); return t; }
const char* const kMergeExpression = "id([0-9]+)";
const char* const kMergeFormat = "#$1";

void BM_Merge_Object_4MB(benchmark::State& state)
{
    RegularExpression re;
    re.SetExpression(kMergeExpression);
    re.SetStringToMatch(MergeText());
    re.SetFormatString(kMergeFormat);
    re.SetMergeCopy(true);
    re.ParseExpression();
    std::string out;
    for (auto _ : state) {
        re.Merge(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes_out"] = static_cast<double>(out.size());
}

void BM_Merge_Baseline_4MB(benchmark::State& state)
{
    const boost::regex e(kMergeExpression);
    const std::string& text = MergeText();
    const std::string format = kMergeFormat;
    std::string out;
    for (auto _ : state) {
        out.clear();
        boost::regex_replace(std::back_inserter(out), text.data(), text.data() + text.size(), e, format,
                             kFlags | boost::regex_constants::format_all);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes_out"] = static_cast<double>(out.size());
}

constexpr int kRepetitions = 5;

BENCHMARK(BM_Grep_Baseline_16MB)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_Grep_LeanLists_16MB)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_Grep_LeanLists_64MB)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Grep_Baseline_1MB)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_Grep_Object_256KB)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_Grep_Object_1MB)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_Search_Baseline_64B)->Repetitions(kRepetitions);
BENCHMARK(BM_Search_Object_64B)->Repetitions(kRepetitions);
BENCHMARK(BM_Merge_Baseline_4MB)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);
BENCHMARK(BM_Merge_Object_4MB)->Unit(benchmark::kMillisecond)->Repetitions(kRepetitions);

// Shows the runs as usual and remembers the fastest repetition of each.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            // Seconds per iteration, whatever the display unit.
            const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
            auto& best = fastest_[run.run_name.function_name];
            best = best == 0 ? seconds : std::min(best, seconds);
        }
    }

    void PrintRatio(const char* what, const char* measured, const char* baseline, double target) const
    {
        const auto m = fastest_.find(measured);
        const auto b = fastest_.find(baseline);
        if (m == fastest_.end() || b == fastest_.end())
            return;
        const double ratio = m->second / b->second;
        std::printf("ratio %-44s %6.3f  (target <= %.2f: %s)\n", what, ratio, target,
                    ratio <= target ? "met" : "MISSED");
    }

private:
    std::map<std::string, double> fastest_;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    reporter.PrintRatio("Grep, handler, full lists / regex_grep (1 MB)", "BM_Grep_Object_1MB", "BM_Grep_Baseline_1MB",
                        1.5);
    reporter.PrintRatio("Grep, full lists, 1 MB / 256 KB (linearity)", "BM_Grep_Object_1MB", "BM_Grep_Object_256KB",
                        4.4);
    reporter.PrintRatio("Grep, handler, lean lists / regex_grep (16 MB)", "BM_Grep_LeanLists_16MB",
                        "BM_Grep_Baseline_16MB", 1.5);
    reporter.PrintRatio("Grep, lean lists, 64 MB / 16 MB (linearity)", "BM_Grep_LeanLists_64MB",
                        "BM_Grep_LeanLists_16MB", 4.4);
    reporter.PrintRatio("Search / regex_search, reused result (64 B)", "BM_Search_Object_64B",
                        "BM_Search_Baseline_64B", 1.5);
    reporter.PrintRatio("Merge without handler / regex_replace (4 MB)", "BM_Merge_Object_4MB",
                        "BM_Merge_Baseline_4MB", 1.1);
    benchmark::Shutdown();
    return 0;
}

// Speed of the literal probe (LiteralFinder::Search) on ordinary text: the
// search benchmark's generated text (words drawn with a skew, capitals,
// numbers, rare extras), searched in 64 KiB blocks as the streaming searcher
// hands them out, for the literals of the search benchmark's expressions
// (single, case-folded, several). glibc's memmem over the same blocks is the
// baseline for a single text. CPU time counts (the machine may be shared).
#include <benchmark/benchmark.h>

#include <cstring>
#include <locale>
#include <string>
#include <vector>

// Only the text generator of the corpus header is used here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-variable"
#include "Benchcorpus.h"
#pragma GCC diagnostic pop
#include "Literalfinder.h"

namespace {

using RegexEngine::LiteralFinder;

constexpr std::size_t kBlock = 64 * 1024;

const std::string& Text()
{
    static const std::string text = [] {
        std::mt19937 random(2024);
        const auto words = MakeVocabulary(random);
        return MakeText(16 * 1024 * 1024, words, random);
    }();
    return text;
}

struct CountingSink final : RegexEngine::MatchSink {
    std::size_t count = 0;
    bool Take(const std::uint64_t*) override
    {
        ++count;
        return true;
    }
};

void Search(benchmark::State& state, std::vector<std::string> texts, bool icase)
{
    const std::string& text = Text();
    const auto finder = LiteralFinder::ForTexts(texts, icase, std::locale::classic());
    std::size_t matches = 0;
    for (auto _ : state) {
        CountingSink sink;
        for (std::size_t at = 0; at < text.size(); at += kBlock)
            finder->Search(text.data() + at, std::min(kBlock, text.size() - at), sink, false, true);
        matches = sink.count;
        benchmark::DoNotOptimize(matches);
    }
    state.counters["matches"] = static_cast<double>(matches);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void Memmem(benchmark::State& state, std::string needle)
{
    const std::string& text = Text();
    std::size_t matches = 0;
    for (auto _ : state) {
        matches = 0;
        for (std::size_t at = 0; at < text.size(); at += kBlock) {
            const char* p = text.data() + at;
            const char* const end = p + std::min(kBlock, text.size() - at);
            while (const void* found = ::memmem(p, static_cast<std::size_t>(end - p), needle.data(), needle.size())) {
                ++matches;
                p = static_cast<const char*>(found) + needle.size();
            }
        }
        benchmark::DoNotOptimize(matches);
    }
    state.counters["matches"] = static_cast<double>(matches);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

BENCHMARK_CAPTURE(Memmem, lantern, std::string("lantern"))->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Search, lantern, std::vector<std::string>{"lantern"}, false)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Search, lantern_icase, std::vector<std::string>{"lantern"}, true)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Memmem, TODO, std::string("TODO"))->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Search, TODO, std::vector<std::string>{"TODO"}, false)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Search, example, std::vector<std::string>{".example"}, false)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Memmem, ing, std::string("ing"))->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Search, ing, std::vector<std::string>{"ing"}, false)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Search, foo_bar_baz, std::vector<std::string>{"foo", "bar", "baz"}, false)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Search, colour_color, std::vector<std::string>{"colour", "color"}, false)->MeasureProcessCPUTime();
BENCHMARK_CAPTURE(Search, watson_icase, std::vector<std::string>{"watson", "holmes"}, true)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();

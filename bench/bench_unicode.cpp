// Speed of the Unicode (UTF-8) mode against byte mode: Grep without a
// handler (a count of every match) over the same ASCII text, and the Unicode
// mode alone over multilingual UTF-8 text. Compare each Unicode/... run with
// its Bytes/... twin on the same pattern.
#include <benchmark/benchmark.h>

#include <string>

#include "Regularexpressionclass.h"

namespace {

using RegexClass::RegularExpression;

std::string MakeText(std::size_t bytes, const char* const* words, unsigned count)
{
    std::string text;
    text.reserve(bytes + 64);
    unsigned n = 1;
    while (text.size() < bytes) {
        text += words[n * 7919u % count];
        text += " id";
        text += std::to_string(n * 7919u % 100000u);
        text += (n % 5 == 0) ? "\n" : " ";
        ++n;
    }
    // Cut at a line end so that the multilingual text stays valid UTF-8.
    text.resize(text.rfind('\n', bytes) + 1);
    return text;
}

const std::string& Ascii()
{
    static const char* const words[] = {"alpha", "beta", "gamma", "delta", "omega", "kappa", "Ecole", "sigma"};
    static const std::string text = MakeText(8u << 20, words, 8);
    return text;
}

const std::string& Multilingual()
{
    static const char* const words[] = {"crème", "brûlée", "école", "ÉCOLE", "радость", "глубость",
                                        "Σίσυφος", "αβγ",   "日本語", "中文",  "alpha",  "über"};
    static const std::string text = MakeText(8u << 20, words, 12);
    return text;
}

void Count(benchmark::State& state, const std::string& text, const char* expression, bool unicode, bool icase)
{
    RegularExpression re;
    re.SetUnicode(unicode);
    re.SetExpression(expression);
    if (icase)
        re.AddExpressionOption(RegularExpression::CaseInsensitive);
    re.SetStringToMatch(text);
    unsigned matches = 0;
    for (auto _ : state) {
        matches = re.Grep();
        benchmark::DoNotOptimize(matches);
    }
    state.counters["matches"] = matches;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

struct Pattern {
    const char* name;
    const char* expression;
    bool icase;
};
const Pattern kAsciiPatterns[] = {
    {"literal", "omega", false}, {"class", "id[0-9]+", false}, {"word", "\\w+a\\b", false},
    {"icase", "ecole", true},    {"dot", "g.m", false},
};
const Pattern kMultilingualPatterns[] = {
    {"literal", "Σίσυφος", false}, {"icase", "école", true}, {"suffix", "\\w+ость\\b", false},
    {"script", "\\p{Greek}+", false}, {"dot", ".{3}é", false},
};

int Register()
{
    for (const Pattern& p : kAsciiPatterns) {
        benchmark::RegisterBenchmark((std::string("Bytes/ascii/") + p.name).c_str(), Count, Ascii(), p.expression,
                                     false, p.icase)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Unicode/ascii/") + p.name).c_str(), Count, Ascii(),
                                     p.expression, true, p.icase)
            ->Unit(benchmark::kMillisecond);
    }
    for (const Pattern& p : kMultilingualPatterns)
        benchmark::RegisterBenchmark((std::string("Unicode/multilingual/") + p.name).c_str(), Count,
                                     Multilingual(), p.expression, true, p.icase)
            ->Unit(benchmark::kMillisecond);
    return 0;
}
const int kRegistered = Register();

}  // namespace

BENCHMARK_MAIN();

// The lookups over the generated Unicode tables (Unicodetables.cpp): binary
// searches over ranges, each giving what the named ICU function gives.
#include <algorithm>
#include <cstring>

#include "Unicodetables.h"

namespace RegexEngine {
namespace UnicodeTables {

namespace {

constexpr std::int32_t lastCodePoint = 0x10FFFF;
constexpr int decimalDigit = 9;  // ICU's U_DECIMAL_DIGIT_NUMBER

bool InRanges(const CodePointRange* ranges, std::size_t count, std::int32_t c)
{
    if (c < 0)
        return false;
    const auto point = static_cast<std::uint32_t>(c);
    const CodePointRange* end = ranges + count;
    const CodePointRange* it =
        std::upper_bound(ranges, end, point, [](std::uint32_t p, const CodePointRange& r) { return p < r.first; });
    return it != ranges && point <= it[-1].last;
}

// The index of the category run that holds `c` (0 to 0x10FFFF).
std::size_t RunOf(std::int32_t c)
{
    const std::uint32_t key = static_cast<std::uint32_t>(c) << 5 | 31u;
    const std::uint32_t* end = categoryRuns + categoryRunCount;
    return static_cast<std::size_t>(std::upper_bound(categoryRuns, end, key) - categoryRuns) - 1;
}

// A name in the loose form the tables hold (ICU's comparison of property
// value names); empty when it holds anything but ASCII.
std::string Loose(const std::string& name)
{
    std::string out;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return std::string();
        if (c == ' ' || c == '-' || c == '_' || (c >= '\t' && c <= '\r'))
            continue;
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

}  // namespace

int Category(std::int32_t c)
{
    if (c < 0 || c > lastCodePoint)
        return 0;
    return static_cast<int>(categoryRuns[RunOf(c)] & 31u);
}

bool IsSpace(std::int32_t c) { return InRanges(spaceRanges, spaceRangesCount, c); }

bool IsBlank(std::int32_t c) { return InRanges(blankRanges, blankRangesCount, c); }

int DigitValue(std::int32_t c, int radix)
{
    if (radix < 2 || radix > 36)
        return -1;
    int value = -1;
    if (Category(c) == decimalDigit) {
        // Each run of decimal digits holds whole sets of 0 to 9 (the
        // generator checks it).
        const std::int32_t runStart = static_cast<std::int32_t>(categoryRuns[RunOf(c)] >> 5);
        value = (c - runStart) % 10;
    } else if (c >= 'a' && c <= 'z') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'Z') {
        value = c - 'A' + 10;
    } else if (c >= 0xFF41 && c <= 0xFF5A) {  // full-width a to z
        value = c - 0xFF41 + 10;
    } else if (c >= 0xFF21 && c <= 0xFF3A) {  // full-width A to Z
        value = c - 0xFF21 + 10;
    }
    return value < radix ? value : -1;
}

std::int32_t FoldCase(std::int32_t c)
{
    if (c < 0)
        return c;
    const auto point = static_cast<std::uint32_t>(c);
    const CaseFoldRange* end = caseFolds + caseFoldCount;
    const CaseFoldRange* it =
        std::upper_bound(caseFolds, end, point, [](std::uint32_t p, const CaseFoldRange& r) { return p < r.first; });
    if (it == caseFolds)
        return c;
    const CaseFoldRange& r = it[-1];
    if (point > r.last || (point - r.first) % static_cast<std::uint32_t>(r.step) != 0)
        return c;
    return c + r.delta;
}

bool IsCategoryName(const std::string& name)
{
    const std::string key = Loose(name);
    const char* const* end = categoryNames + categoryNameCount;
    const char* const* it = std::lower_bound(categoryNames, end, key,
                                             [](const char* a, const std::string& b) { return b.compare(a) > 0; });
    return !key.empty() && it != end && key == *it;
}

bool ScriptRangesOf(const std::string& name, std::vector<CodePointRange>& out)
{
    const std::string key = Loose(name);
    const ScriptName* end = scriptNames + scriptNameCount;
    const ScriptName* it = std::lower_bound(scriptNames, end, key,
                                            [](const ScriptName& a, const std::string& b) { return b.compare(a.name) > 0; });
    if (key.empty() || it == end || key != it->name)
        return false;
    out.assign(scriptRanges + scriptRangeStart[it->script], scriptRanges + scriptRangeStart[it->script + 1]);
    return true;
}

}  // namespace UnicodeTables
}  // namespace RegexEngine

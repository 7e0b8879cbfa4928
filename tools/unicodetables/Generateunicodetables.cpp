// Writes engine/Unicodetables.cpp: the Unicode properties the table backend
// of the Unicode mode needs, taken from ICU so that the two backends agree
// code point for code point. Not part of the normal build; run it again
// after an ICU upgrade (the ICU backend then follows the new Unicode
// version, and the tables should too):
//
//   g++ -std=c++17 -O2 tools/unicodetables/Generateunicodetables.cpp \
//       $(pkg-config --cflags --libs icu-uc) -o /tmp/generateunicodetables
//   /tmp/generateunicodetables > engine/Unicodetables.cpp
//
// Everything is written as ranges: the general category as runs of code
// points, White_Space-like sets as ranges, simple case folding as ranges of
// equal distance (every code point, or every other one), and the scripts
// (by Script_Extensions) as ranges. The generator checks the assumptions
// the lookups in engine/Unicodeproperties.cpp make and fails otherwise.
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/uset.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr UChar32 lastCodePoint = 0x10FFFF;

using Range = std::pair<UChar32, UChar32>;

[[noreturn]] void Fail(const char* what, UChar32 c)
{
    std::fprintf(stderr, "generateunicodetables: %s at U+%04X\n", what, static_cast<unsigned>(c));
    std::exit(1);
}

template <class Predicate>
std::vector<Range> Ranges(Predicate in)
{
    std::vector<Range> out;
    for (UChar32 c = 0; c <= lastCodePoint; ++c) {
        if (!in(c))
            continue;
        if (!out.empty() && out.back().second == c - 1)
            out.back().second = c;
        else
            out.emplace_back(c, c);
    }
    return out;
}

void WriteRanges(const char* name, const std::vector<Range>& ranges)
{
    std::printf("extern const CodePointRange %s[] = {", name);
    for (std::size_t i = 0; i < ranges.size(); ++i)
        std::printf("%s{0x%X, 0x%X},", i % 6 == 0 ? "\n    " : " ", static_cast<unsigned>(ranges[i].first),
                    static_cast<unsigned>(ranges[i].second));
    std::printf("\n};\nextern const std::size_t %sCount = %zu;\n\n", name, ranges.size());
}

// A property value name as the lookups compare it: ASCII lower case,
// without spaces, hyphens and underscores (ICU's loose matching).
std::string Loose(const char* name)
{
    std::string out;
    for (const char* p = name; *p != '\0'; ++p) {
        const char c = *p;
        if (c == ' ' || c == '-' || c == '_' || (c >= '\t' && c <= '\r'))
            continue;
        out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return out;
}

void GeneralCategory()
{
    // Runs of equal category, packed as start << 5 | category (ICU's
    // UCharCategory numbers, which the traits' class masks use).
    std::vector<std::uint32_t> runs;
    int previous = -1;
    for (UChar32 c = 0; c <= lastCodePoint; ++c) {
        const int category = u_charType(c);
        if (category != previous)
            runs.push_back(static_cast<std::uint32_t>(c) << 5 | static_cast<std::uint32_t>(category));
        previous = category;
    }
    std::printf("extern const std::uint32_t categoryRuns[] = {");
    for (std::size_t i = 0; i < runs.size(); ++i)
        std::printf("%s0x%X,", i % 8 == 0 ? "\n    " : " ", runs[i]);
    std::printf("\n};\nextern const std::size_t categoryRunCount = %zu;\n\n", runs.size());

    // Decimal digits: each run of Nd holds whole sets of 0 to 9, which the
    // digit lookup counts from the run's start.
    UChar32 runStart = 0;
    for (UChar32 c = 0; c <= lastCodePoint; ++c) {
        const bool digit = u_charType(c) == U_DECIMAL_DIGIT_NUMBER;
        if (digit && (c == 0 || u_charType(c - 1) != U_DECIMAL_DIGIT_NUMBER))
            runStart = c;
        const int expected = digit ? (c - runStart) % 10 : -1;
        if (u_charDigitValue(c) != expected)
            Fail("a decimal digit out of its run's order", c);
    }
}

void CaseFolding()
{
    struct Fold {
        UChar32 first, last;
        std::int32_t delta;
        int step;
    };
    std::vector<Fold> folds;
    for (UChar32 c = 0; c <= lastCodePoint; ++c) {
        const std::int32_t delta = u_foldCase(c, U_FOLD_CASE_DEFAULT) - c;
        if (delta == 0)
            continue;
        if (!folds.empty()) {
            Fold& f = folds.back();
            if (f.delta == delta && f.step == 1 && c == f.last + 1) {
                f.last = c;
                continue;
            }
            // Every other code point (upper and lower case alternating),
            // when the one between folds to itself.
            if (f.delta == delta && c == f.last + 2 && (f.step == 2 || f.first == f.last) &&
                u_foldCase(c - 1, U_FOLD_CASE_DEFAULT) == c - 1) {
                f.step = 2;
                f.last = c;
                continue;
            }
        }
        folds.push_back({c, c, delta, 1});
    }
    std::printf("extern const CaseFoldRange caseFolds[] = {");
    for (std::size_t i = 0; i < folds.size(); ++i)
        std::printf("%s{0x%X, 0x%X, %d, %d},", i % 4 == 0 ? "\n    " : " ", static_cast<unsigned>(folds[i].first),
                    static_cast<unsigned>(folds[i].last), folds[i].delta, folds[i].step);
    std::printf("\n};\nextern const std::size_t caseFoldCount = %zu;\n\n", folds.size());
}

void CategoryNames()
{
    // Every name of a general category or group, for telling them from the
    // script names.
    std::vector<std::string> names;
    const std::int32_t groups[] = {U_GC_L_MASK, U_GC_LC_MASK, U_GC_M_MASK, U_GC_N_MASK,
                                   U_GC_P_MASK, U_GC_S_MASK,  U_GC_Z_MASK, U_GC_C_MASK};
    std::vector<std::int32_t> values(std::begin(groups), std::end(groups));
    for (int category = 0; category < U_CHAR_CATEGORY_COUNT; ++category)
        values.push_back(U_MASK(category));
    for (std::int32_t value : values)
        for (int choice = 0; choice < 8; ++choice)
            if (const char* name = u_getPropertyValueName(UCHAR_GENERAL_CATEGORY_MASK, value,
                                                          static_cast<UPropertyNameChoice>(choice)))
                names.push_back(Loose(name));
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (const std::string& name : names)
        if (u_getPropertyValueEnum(UCHAR_GENERAL_CATEGORY_MASK, name.c_str()) == UCHAR_INVALID_CODE)
            Fail("a category name ICU does not take back", 0);
    std::printf("extern const char* const categoryNames[] = {");
    for (std::size_t i = 0; i < names.size(); ++i)
        std::printf("%s\"%s\",", i % 8 == 0 ? "\n    " : " ", names[i].c_str());
    std::printf("\n};\nextern const std::size_t categoryNameCount = %zu;\n\n", names.size());
}

void Scripts()
{
    // The ranges of each script (by Script_Extensions), one after another;
    // scriptRangeStart[i] is where script i's ranges begin.
    std::vector<Range> ranges;
    std::vector<std::size_t> starts;
    std::vector<std::pair<std::string, std::size_t>> names;  // loose name, script index
    const int limit = u_getIntPropertyMaxValue(UCHAR_SCRIPT);
    for (int script = 0; script <= limit; ++script) {
        UErrorCode status = U_ZERO_ERROR;
        USet* set = uset_openEmpty();
        uset_applyIntPropertyValue(set, UCHAR_SCRIPT_EXTENSIONS, script, &status);
        if (U_FAILURE(status))
            Fail("a script set ICU cannot give", script);
        if (uset_isEmpty(set)) {
            uset_close(set);
            continue;
        }
        const std::size_t index = starts.size();
        starts.push_back(ranges.size());
        const std::int32_t count = uset_getItemCount(set);
        for (std::int32_t i = 0; i < count; ++i) {
            UChar32 low = 0;
            UChar32 high = 0;
            UErrorCode itemStatus = U_ZERO_ERROR;
            if (uset_getItem(set, i, &low, &high, nullptr, 0, &itemStatus) == 0)
                ranges.emplace_back(low, high);
        }
        uset_close(set);
        for (int choice = 0; choice < 8; ++choice)
            if (const char* name =
                    u_getPropertyValueName(UCHAR_SCRIPT, script, static_cast<UPropertyNameChoice>(choice)))
                names.emplace_back(Loose(name), index);
    }
    starts.push_back(ranges.size());
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (std::size_t i = 1; i < names.size(); ++i)
        if (names[i].first == names[i - 1].first)
            Fail("a script name for two scripts", 0);
    WriteRanges("scriptRanges", ranges);
    std::printf("extern const std::uint16_t scriptRangeStart[] = {");
    for (std::size_t i = 0; i < starts.size(); ++i)
        std::printf("%s%zu,", i % 12 == 0 ? "\n    " : " ", starts[i]);
    std::printf("\n};\n\n");
    std::printf("extern const ScriptName scriptNames[] = {");
    for (std::size_t i = 0; i < names.size(); ++i)
        std::printf("%s{\"%s\", %zu},", i % 4 == 0 ? "\n    " : " ", names[i].first.c_str(), names[i].second);
    std::printf("\n};\nextern const std::size_t scriptNameCount = %zu;\n\n", names.size());
}

}  // namespace

int main()
{
    UVersionInfo version;
    u_getUnicodeVersion(version);
    char text[U_MAX_VERSION_STRING_LENGTH];
    u_versionToString(version, text);
    std::printf("// The Unicode properties of the table backend of the Unicode mode, Unicode %s.\n", text);
    std::printf("// Generated from ICU by tools/unicodetables/Generateunicodetables.cpp; do not edit.\n");
    std::printf("// To regenerate, see the comment at the top of that file.\n");
    std::printf("#include \"Unicodetables.h\"\n\nnamespace RegexEngine {\nnamespace UnicodeTables {\n\n");
    std::printf("extern const char unicodeVersion[] = \"%s\";\n\n", text);
    GeneralCategory();
    WriteRanges("spaceRanges", Ranges([](UChar32 c) { return u_isspace(c) != 0; }));
    WriteRanges("blankRanges", Ranges([](UChar32 c) { return u_isblank(c) != 0; }));
    CaseFolding();
    CategoryNames();
    Scripts();
    std::printf("}  // namespace UnicodeTables\n}  // namespace RegexEngine\n");
    return 0;
}

// The Unicode properties of the table backend of the Unicode mode: compact
// tables (ranges, never one entry per code point) generated from ICU by
// tools/unicodetables/Generateunicodetables.cpp into Unicodetables.cpp, and
// the lookups over them. They give what the ICU backend asks ICU for: the
// general category, ICU's space and blank sets, decimal digit values,
// simple case folding and the code points of each script (by
// Script_Extensions), so that a build without ICU (Windows) matches as the
// ICU build does.
#ifndef QUORVEX_ENGINE_UNICODETABLES_H
#define QUORVEX_ENGINE_UNICODETABLES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace RegexEngine {
namespace UnicodeTables {

struct CodePointRange {
    std::uint32_t first;
    std::uint32_t last;  // included
};

// Every `step`th code point of [first, last], from `first`, folds to itself
// plus `delta`.
struct CaseFoldRange {
    std::uint32_t first;
    std::uint32_t last;
    std::int32_t delta;
    std::int32_t step;
};

struct ScriptName {
    const char* name;     // loose form: lower case, no spaces, '-' or '_'
    std::uint16_t script; // index into scriptRangeStart
};

// The generated data (Unicodetables.cpp).
extern const char unicodeVersion[];
extern const std::uint32_t categoryRuns[];  // start << 5 | category, by start
extern const std::size_t categoryRunCount;
extern const CodePointRange spaceRanges[];
extern const std::size_t spaceRangesCount;
extern const CodePointRange blankRanges[];
extern const std::size_t blankRangesCount;
extern const CaseFoldRange caseFolds[];
extern const std::size_t caseFoldCount;
extern const char* const categoryNames[];  // loose forms, sorted
extern const std::size_t categoryNameCount;
extern const CodePointRange scriptRanges[];
extern const std::size_t scriptRangesCount;
extern const std::uint16_t scriptRangeStart[];  // one past the last script too
extern const ScriptName scriptNames[];          // sorted by name
extern const std::size_t scriptNameCount;

// The general category of `c` in ICU's numbering (0 unassigned, 1 Lu, 2 Ll,
// ... 29 Pf); 0 for a value past U+10FFFF.
int Category(std::int32_t c);
// ICU's u_isspace and u_isblank.
bool IsSpace(std::int32_t c);
bool IsBlank(std::int32_t c);
// ICU's u_digit: the value of `c` as a digit in `radix` (2 to 36; decimal
// digits of every script, Latin and full-width Latin letters), or -1.
int DigitValue(std::int32_t c, int radix);
// ICU's u_foldCase with the default options: simple case folding.
std::int32_t FoldCase(std::int32_t c);
// Whether `name` names a general category or group (Lu, letter, L&, ...),
// compared as ICU compares property value names.
bool IsCategoryName(const std::string& name);
// The code point ranges of the script named `name` (by Script_Extensions);
// false when no script has that name.
bool ScriptRangesOf(const std::string& name, std::vector<CodePointRange>& out);

}  // namespace UnicodeTables
}  // namespace RegexEngine

#endif

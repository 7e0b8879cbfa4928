// The generated Unicode tables and the table traits against ICU itself, code
// point by code point: the table backend must classify, fold and read digits
// exactly as the ICU backend does. Built only where ICU is found.
#include <gtest/gtest.h>

#include <boost/regex/icu.hpp>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/uset.h>

#include <string>
#include <vector>

#include "Unicodetables.h"
#include "Unicodetabletraits.h"

namespace {

namespace ut = RegexEngine::UnicodeTables;

constexpr UChar32 lastCodePoint = 0x10FFFF;

TEST(UnicodeTables, PropertiesMatchIcuForEveryCodePoint)
{
    int failures = 0;
    for (UChar32 c = 0; c <= lastCodePoint && failures < 10; ++c) {
        const bool same = ut::Category(c) == u_charType(c) && ut::IsSpace(c) == (u_isspace(c) != 0) &&
                          ut::IsBlank(c) == (u_isblank(c) != 0) && ut::FoldCase(c) == u_foldCase(c, U_FOLD_CASE_DEFAULT) &&
                          ut::DigitValue(c, 10) == u_digit(c, 10) && ut::DigitValue(c, 16) == u_digit(c, 16) &&
                          ut::DigitValue(c, 36) == u_digit(c, 36);
        if (!same) {
            ++failures;
            ADD_FAILURE() << "U+" << std::hex << c;
        }
    }
    // Past the code points and before them: nothing.
    EXPECT_EQ(ut::Category(0x110000), 0);
    EXPECT_EQ(ut::Category(-1), 0);
    EXPECT_EQ(ut::FoldCase(0x110000), 0x110000);
    EXPECT_FALSE(ut::IsSpace(-1));
}

TEST(UnicodeTables, ScriptsAndCategoryNamesMatchIcu)
{
    const int limit = u_getIntPropertyMaxValue(UCHAR_SCRIPT);
    for (int script = 0; script <= limit; ++script) {
        USet* set = uset_openEmpty();
        UErrorCode status = U_ZERO_ERROR;
        uset_applyIntPropertyValue(set, UCHAR_SCRIPT_EXTENSIONS, script, &status);
        ASSERT_TRUE(U_SUCCESS(status));
        std::vector<ut::CodePointRange> expected;
        for (std::int32_t i = 0; i < uset_getItemCount(set); ++i) {
            UChar32 low = 0;
            UChar32 high = 0;
            UErrorCode itemStatus = U_ZERO_ERROR;
            if (uset_getItem(set, i, &low, &high, nullptr, 0, &itemStatus) == 0)
                expected.push_back({static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high)});
        }
        const bool empty = uset_isEmpty(set) != 0;
        uset_close(set);
        for (const int choice : {U_SHORT_PROPERTY_NAME, U_LONG_PROPERTY_NAME}) {
            const char* name = u_getPropertyValueName(UCHAR_SCRIPT, script, static_cast<UPropertyNameChoice>(choice));
            if (name == nullptr)
                continue;
            std::vector<ut::CodePointRange> got;
            ASSERT_EQ(ut::ScriptRangesOf(name, got), !empty) << name;
            ASSERT_EQ(got.size(), expected.size()) << name;
            for (std::size_t i = 0; i < got.size(); ++i)
                EXPECT_TRUE(got[i].first == expected[i].first && got[i].last == expected[i].last) << name;
        }
    }
    // Names compare as ICU compares them: no case, no spaces, '-' or '_'.
    const struct {
        const char* name;
        bool script, category;
    } rows[] = {
        {"Greek", true, false},   {"greek", true, false},  {"GREK", true, false},       {"Old_Italic", true, false},
        {"old italic", true, false}, {"Lu", false, true},  {"letter", false, true},     {"LC", false, true},
        {"Cased_Letter", false, true}, {"Greekk", false, false}, {"", false, false},    {"Gr\xC3\xA9" "ek", false, false},
    };
    for (const auto& row : rows) {
        std::vector<ut::CodePointRange> got;
        EXPECT_EQ(ut::ScriptRangesOf(row.name, got), row.script) << row.name;
        EXPECT_EQ(ut::IsCategoryName(row.name), row.category) << row.name;
        EXPECT_EQ(row.category, u_getPropertyValueEnum(UCHAR_GENERAL_CATEGORY_MASK, row.name) != UCHAR_INVALID_CODE)
            << row.name;
    }
}

// Every class name the engine's ICU traits know, and some they do not, gives
// the same members through the table traits.
TEST(UnicodeTables, TraitsClassesMatchTheIcuTraits)
{
    const boost::icu_regex_traits icu;
    const RegexEngine::UnicodeTableTraits tables;
    const char* names[] = {"alnum", "alpha", "blank", "cntrl", "digit", "graph", "lower", "print", "punct",
                           "space", "upper", "word", "xdigit", "w", "s", "d", "h", "v", "unicode", "any",
                           "ascii", "assigned", "L*", "Lu", "Ll", "Lt", "Lm", "Lo", "Mn", "Nd", "No",
                           "Zs", "Cf", "Co", "Cn", "Pd", "Sm", "Other", "Separator", "symbol",
                           "Titlecase Letter", "Math-Symbol", "nosuchclass", "Greek"};
    for (const char* name : names) {
        const std::string text(name);
        const std::vector<std::int32_t> wide(text.begin(), text.end());
        const auto icuMask = icu.lookup_classname(wide.data(), wide.data() + wide.size());
        const auto tableMask = tables.lookup_classname(wide.data(), wide.data() + wide.size());
        ASSERT_EQ(icuMask == 0, tableMask == 0) << name;
        if (icuMask == 0)
            continue;
        int failures = 0;
        for (UChar32 c = 0; c <= lastCodePoint && failures < 5; c += (c < 0x20000 ? 1 : 61)) {
            if (icu.isctype(c, icuMask) != tables.isctype(c, tableMask)) {
                ++failures;
                ADD_FAILURE() << name << " U+" << std::hex << c;
            }
        }
    }
    // Digits in every radix, as the engine reads repeat counts and escapes.
    for (UChar32 c = 0; c < 0x20000; ++c)
        ASSERT_EQ(icu.value(c, 8), tables.value(c, 8)) << std::hex << c;
}

}  // namespace

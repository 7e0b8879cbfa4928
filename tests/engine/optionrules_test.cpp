// Composite option rules, one option at a time and as whole sets, run over
// both a std::set and a 16-bit set through the same adapter seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <set>
#include <vector>

#include "Optionrules.h"

namespace {

using namespace RegexEngine;
using namespace RegexEngine::CompileOption;

// A bit set such as a framework set property keeps: option n is bit n.
struct BitSet {
    std::uint16_t bits = 0;
    bool operator==(const BitSet& other) const { return bits == other.bits; }
};

}  // namespace

template <>
struct RegexEngine::OptionSetAccess<BitSet> {
    static bool Has(const BitSet& s, unsigned v) { return v < 16 && (s.bits >> v) & 1u; }
    static void Insert(BitSet& s, unsigned v) { s.bits = static_cast<std::uint16_t>(s.bits | (1u << v)); }
    static void Erase(BitSet& s, unsigned v) { s.bits = static_cast<std::uint16_t>(s.bits & ~(1u << v)); }
};

namespace {

using Values = std::vector<unsigned>;
using StdSet = std::set<unsigned char>;

template <class Set>
Set Make(std::initializer_list<unsigned> values)
{
    Set s{};
    for (unsigned v : values)
        OptionSetAccess<Set>::Insert(s, v);
    return s;
}

template <class Set>
Values Contents(const Set& s)
{
    Values out;
    for (unsigned v = 0; v < 16; ++v)
        if (OptionSetAccess<Set>::Has(s, v))
            out.push_back(v);
    return out;
}

template <class Set>
Set Defaults()
{
    Set s{};
    DefaultCompileOptions(s);
    return s;
}

template <class Set>
class OptionRules : public ::testing::Test {};
using SetTypes = ::testing::Types<StdSet, BitSet>;
TYPED_TEST_SUITE(OptionRules, SetTypes);

TYPED_TEST(OptionRules, DefaultsAreNormalWithItsComponents)
{
    const auto s = Defaults<TypeParam>();
    EXPECT_EQ(Contents(s), (Values{EscapeInCharacterSets, CharacterClasses, Intervals, BackReferences,
                                   NoLocaleSpecificCollation, Normal}));
    EXPECT_EQ(CompileFlagWord(s), 0x4107u);
}

struct AddDeleteRow {
    const char* what;
    bool add;
    unsigned option;
    Values expected;
    unsigned word;
};

TYPED_TEST(OptionRules, SingleOptionChangesOnTheDefaults)
{
    const AddDeleteRow rows[] = {
        {"add CaseInsensitive", true, CaseInsensitive,
         {EscapeInCharacterSets, CharacterClasses, Intervals, BackReferences, CaseInsensitive,
          NoLocaleSpecificCollation, Normal},
         0x6107},
        {"add Basic", true, Basic,
         {CharacterClasses, Intervals, LimitedOperations, BracesNotOperators, ParenthesesNotOperators,
          BackReferences, Basic},
         0x01CE},
        {"add Extended", true, Extended, {CharacterClasses, Intervals, BackReferences, Extended}, 0x0106},
        {"delete Normal", false, Normal, {}, 0},
        {"delete EscapeInCharacterSets", false, EscapeInCharacterSets,
         {CharacterClasses, Intervals, BackReferences, NoLocaleSpecificCollation}, 0x4106},
        {"delete Intervals", false, Intervals,
         {EscapeInCharacterSets, CharacterClasses, BackReferences, NoLocaleSpecificCollation}, 0x4103},
    };
    for (const auto& row : rows) {
        auto s = Defaults<TypeParam>();
        const bool changed = row.add ? AddCompileOption(s, row.option) : DeleteCompileOption(s, row.option);
        EXPECT_TRUE(changed) << row.what;
        EXPECT_EQ(Contents(s), row.expected) << row.what;
        EXPECT_EQ(CompileFlagWord(s), row.word) << row.what;
    }
}

TYPED_TEST(OptionRules, AddingPresentOrDeletingAbsentChangesNothing)
{
    auto s = Defaults<TypeParam>();
    EXPECT_FALSE(AddCompileOption(s, Intervals));
    EXPECT_FALSE(AddCompileOption(s, Normal));
    EXPECT_FALSE(DeleteCompileOption(s, Literals));
    EXPECT_EQ(s, Defaults<TypeParam>());
}

TYPED_TEST(OptionRules, BuildingUpComponentsNamesTheComposite)
{
    TypeParam s{};
    AddCompileOption(s, CharacterClasses);
    AddCompileOption(s, Intervals);
    EXPECT_FALSE(OptionSetAccess<TypeParam>::Has(s, Extended));
    AddCompileOption(s, BackReferences);
    EXPECT_EQ(Contents(s), (Values{CharacterClasses, Intervals, BackReferences, Extended}));
    AddCompileOption(s, EscapeInCharacterSets);
    EXPECT_TRUE(OptionSetAccess<TypeParam>::Has(s, Extended));
    AddCompileOption(s, NoLocaleSpecificCollation);
    EXPECT_EQ(Contents(s), Contents(Defaults<TypeParam>()));

    TypeParam b{};
    for (unsigned v : {CharacterClasses, Intervals, BackReferences, LimitedOperations, BracesNotOperators,
                       ParenthesesNotOperators})
        AddCompileOption(b, v);
    EXPECT_EQ(Contents(b), (Values{CharacterClasses, Intervals, LimitedOperations, BracesNotOperators,
                                   ParenthesesNotOperators, BackReferences, Basic}));
}

TYPED_TEST(OptionRules, DeletingNeverAddsAComposite)
{
    // Removing a Normal extra leaves a complete common core, but no Extended.
    auto s = Defaults<TypeParam>();
    DeleteCompileOption(s, NoLocaleSpecificCollation);
    EXPECT_FALSE(OptionSetAccess<TypeParam>::Has(s, Normal));
    EXPECT_FALSE(OptionSetAccess<TypeParam>::Has(s, Extended));

    auto b = Make<TypeParam>({CharacterClasses, Intervals, LimitedOperations, BracesNotOperators,
                              ParenthesesNotOperators, BackReferences, Basic});
    DeleteCompileOption(b, BracesNotOperators);
    EXPECT_EQ(Contents(b),
              (Values{CharacterClasses, Intervals, LimitedOperations, ParenthesesNotOperators, BackReferences}));
    auto e = Make<TypeParam>({CharacterClasses, Intervals, BackReferences, Extended, Literals});
    DeleteCompileOption(e, Literals);
    EXPECT_TRUE(OptionSetAccess<TypeParam>::Has(e, Extended));
    DeleteCompileOption(e, Extended);
    EXPECT_EQ(Contents(e), Values{});
}

struct ReplaceRow {
    const char* what;
    Values from;
    Values to;
    Values expected;
};

TYPED_TEST(OptionRules, WholeSetReplacement)
{
    const Values defaults = Contents(Defaults<TypeParam>());
    auto with = [&](Values v, unsigned extra) {
        v.push_back(extra);
        return v;
    };
    auto without = [&](Values v, unsigned gone) {
        v.erase(std::remove(v.begin(), v.end(), gone), v.end());
        return v;
    };
    const ReplaceRow rows[] = {
        {"defaults plus Extended", defaults, with(defaults, Extended),
         {CharacterClasses, Intervals, BackReferences, Extended}},
        {"defaults without Normal", defaults, without(defaults, Normal), {}},
        {"core into empty", {}, {CharacterClasses, Intervals, BackReferences},
         {CharacterClasses, Intervals, BackReferences, Extended}},
        {"extended plus normal extras", {CharacterClasses, Intervals, BackReferences, Extended},
         {EscapeInCharacterSets, CharacterClasses, Intervals, BackReferences, NoLocaleSpecificCollation, Extended},
         {EscapeInCharacterSets, CharacterClasses, Intervals, BackReferences, NoLocaleSpecificCollation, Normal}},
        {"defaults without escapes", defaults, without(defaults, EscapeInCharacterSets),
         {CharacterClasses, Intervals, BackReferences, NoLocaleSpecificCollation, Extended}},
        {"basic leaves", {CharacterClasses, Intervals, LimitedOperations, BracesNotOperators,
                          ParenthesesNotOperators, BackReferences, Basic},
         {CharacterClasses, Intervals, LimitedOperations, BracesNotOperators, ParenthesesNotOperators,
          BackReferences, CaseInsensitive},
         {CaseInsensitive}},
        {"two composites enter, Extended first", {}, {Normal, Extended},
         {CharacterClasses, Intervals, BackReferences, Extended}},
    };
    for (const auto& row : rows) {
        TypeParam s{};
        for (unsigned v : row.from)
            OptionSetAccess<TypeParam>::Insert(s, v);
        TypeParam next{};
        for (unsigned v : row.to)
            OptionSetAccess<TypeParam>::Insert(next, v);
        EXPECT_TRUE(ReplaceCompileOptions(s, next)) << row.what;
        EXPECT_EQ(Contents(s), row.expected) << row.what;
    }
    auto same = Defaults<TypeParam>();
    EXPECT_FALSE(ReplaceCompileOptions(same, Defaults<TypeParam>()));
}

using namespace RegexEngine::MatchOption;
constexpr unsigned NotEndOfLine = 2;

TYPED_TEST(OptionRules, MatchDefaultStandsForNoRestriction)
{
    auto s = Make<TypeParam>({MatchDefault});
    AddMatchingOption(s, NotEndOfLine);
    EXPECT_EQ(Contents(s), Values{NotEndOfLine});
    EXPECT_EQ(MatchFlagWord(s), 0x0002u);
    DeleteMatchingOption(s, NotEndOfLine);
    EXPECT_EQ(Contents(s), Values{MatchDefault});

    AddMatchingOption(s, MatchShortest);
    EXPECT_EQ(Contents(s), (Values{MatchDefault, MatchShortest}));
    EXPECT_EQ(MatchFlagWord(s), 0x0400u);

    auto r = Make<TypeParam>({NotEndOfLine, MatchContinuous});
    AddMatchingOption(r, MatchDefault);
    EXPECT_EQ(Contents(r), (Values{MatchDefault, MatchContinuous}));

    auto d = Make<TypeParam>({MatchDefault});
    DeleteMatchingOption(d, MatchDefault);
    EXPECT_EQ(Contents(d), Values{});
    EXPECT_EQ(MatchFlagWord(d), 0u);

    // Deleting a non-restricting option with no restriction left brings MatchDefault back.
    auto c = Make<TypeParam>({MatchContinuous});
    DeleteMatchingOption(c, MatchContinuous);
    EXPECT_EQ(Contents(c), Values{MatchDefault});
}

TYPED_TEST(OptionRules, WholeMatchSetReplacement)
{
    struct Row {
        Values from, to, expected;
    };
    const Row rows[] = {
        {{MatchDefault}, {}, {MatchDefault}},
        {{MatchDefault}, {MatchShortest}, {MatchDefault, MatchShortest}},
        {{MatchDefault}, {MatchDefault, NotEndOfLine}, {NotEndOfLine}},
        {{NotEndOfLine, MatchContinuous}, {MatchDefault, NotEndOfLine, MatchContinuous},
         {MatchDefault, MatchContinuous}},
    };
    for (const Row& row : rows) {
        TypeParam s{}, next{};
        for (unsigned v : row.from)
            OptionSetAccess<TypeParam>::Insert(s, v);
        for (unsigned v : row.to)
            OptionSetAccess<TypeParam>::Insert(next, v);
        ReplaceMatchingOptions(s, next);
        EXPECT_EQ(Contents(s), row.expected);
    }
}

TEST(OptionFlagWords, CompositesAreTheirComponentsAndStrayValuesCountNothing)
{
    EXPECT_EQ(CompileFlagWord(StdSet{200}), 0u);
    EXPECT_EQ(CompileOptionFlag[Basic], CompileFlagWord(StdSet{CharacterClasses, Intervals, LimitedOperations,
                                                               BracesNotOperators, ParenthesesNotOperators,
                                                               BackReferences}));
    EXPECT_EQ(CompileOptionFlag[Extended], CompileFlagWord(StdSet{CharacterClasses, Intervals, BackReferences}));
    EXPECT_EQ(CompileOptionFlag[Normal],
              CompileFlagWord(StdSet{EscapeInCharacterSets, CharacterClasses, Intervals, BackReferences,
                                     NoLocaleSpecificCollation}));
}

}  // namespace

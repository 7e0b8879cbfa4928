// The whole-set rules of SetOptions and SetMatches, the flag words of the
// framework sets, and the restoring of stored sets while a form is read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Componenttesting.h"

namespace {

using namespace ComponentTesting;
using C = RegexComponent::RegularExpressionCustom;

// The names of a set's members in value order, as "{A,B}".
template <class Set, class Value>
std::string NamesOf(const Set& set, const Vcl::TTypeInfo& type, unsigned count)
{
    std::string text;
    for (unsigned n = 0; n < count; ++n)
        if (set.Contains(static_cast<Value>(n)))
            text += (text.empty() ? "" : ",") + type.EnumName(static_cast<int>(n));
    return "{" + text + "}";
}

std::string Names(const C::OptionSet& set)
{
    return NamesOf<C::OptionSet, C::Options>(set, RegexComponent::OptionsType(), RegexValues::CompileOptionCount);
}

std::string Names(const C::MatchSet& set)
{
    return NamesOf<C::MatchSet, C::Matches>(set, RegexComponent::MatchesType(), RegexValues::MatchOptionCount);
}

const C::OptionSet Defaults = DefaultOptions();
const C::OptionSet ExtendedSet = Options({C::CharacterClasses, C::Intervals, C::BackReferences, C::Extended});
const C::OptionSet BasicSet = Options({C::CharacterClasses, C::Intervals, C::BackReferences, C::LimitedOperations,
                                       C::BracesNotOperators, C::ParenthesesNotOperators, C::Basic});

struct OptionsRow {
    const char* what;
    C::OptionSet from;
    C::OptionSet to;
    C::OptionSet expected;
};

const std::vector<OptionsRow>& OptionsRows()
{
    static const std::vector<OptionsRow> rows = {
        {"Extended enters: Normal and its extras go", Defaults, With(Defaults, {C::Extended}), ExtendedSet},
        {"Normal leaves: its components go with it", Defaults, With(Defaults, {}, {C::Normal}), C::OptionSet()},
        {"a complete core alone brings Extended", C::OptionSet(),
         Options({C::CharacterClasses, C::Intervals, C::BackReferences}), ExtendedSet},
        {"Normal extras on Extended: Normal replaces Extended", ExtendedSet,
         With(ExtendedSet, {C::EscapeInCharacterSets, C::NoLocaleSpecificCollation}), Defaults},
        {"an incomplete Normal goes, Extended comes", Defaults, With(Defaults, {}, {C::EscapeInCharacterSets}),
         Options({C::CharacterClasses, C::Intervals, C::BackReferences, C::NoLocaleSpecificCollation, C::Extended})},
        {"Basic enters over Normal", Defaults, With(Defaults, {C::Basic}), BasicSet},
        {"Normal enters over Extended", ExtendedSet, With(ExtendedSet, {C::Normal}), Defaults},
        {"Normal enters over Basic", BasicSet, With(BasicSet, {C::Normal}), Defaults},
        {"Basic enters over Extended", ExtendedSet, With(ExtendedSet, {C::Basic}), BasicSet},
        {"Extended enters over Basic", BasicSet, With(BasicSet, {C::Extended}), ExtendedSet},
        {"Extended leaves with the common core", ExtendedSet, With(ExtendedSet, {}, {C::Extended}), C::OptionSet()},
        {"Basic leaves with the core and its extras", BasicSet, With(BasicSet, {C::CaseInsensitive}, {C::Basic}),
         Options({C::CaseInsensitive})},
        {"two composites enter: Extended is handled first", C::OptionSet(), Options({C::Extended, C::Normal}),
         ExtendedSet},
        {"Normal and Basic enter: Normal is handled first", C::OptionSet(), Options({C::Normal, C::Basic}), Defaults},
        {"an incomplete Basic goes, Extended comes", BasicSet, With(BasicSet, {}, {C::LimitedOperations}),
         Options({C::CharacterClasses, C::Intervals, C::BackReferences, C::BracesNotOperators,
                  C::ParenthesesNotOperators, C::Extended})},
        {"an incomplete Extended goes", ExtendedSet, With(ExtendedSet, {}, {C::Intervals}),
         Options({C::CharacterClasses, C::BackReferences})},
        {"a core member leaving Normal leaves no composite", Defaults, With(Defaults, {}, {C::CharacterClasses}),
         Options({C::EscapeInCharacterSets, C::Intervals, C::BackReferences, C::NoLocaleSpecificCollation})},
        {"an option outside the composites just joins", Defaults, With(Defaults, {C::CaseInsensitive}),
         With(Defaults, {C::CaseInsensitive})},
        {"components without the core stay as they are", C::OptionSet(),
         Options({C::EscapeInCharacterSets, C::NoLocaleSpecificCollation}),
         Options({C::EscapeInCharacterSets, C::NoLocaleSpecificCollation})},
        {"completing Normal's components brings Normal",
         Options({C::EscapeInCharacterSets, C::NoLocaleSpecificCollation}),
         With(Options({C::EscapeInCharacterSets, C::NoLocaleSpecificCollation}),
              {C::CharacterClasses, C::Intervals, C::BackReferences}),
         Defaults},
        {"completing Basic's components brings Basic", C::OptionSet(),
         With(BasicSet, {}, {C::Basic}), BasicSet},
    };
    return rows;
}

TEST(ComponentOptionSets, SetOptionsKeepsTheCompositesConsistent)
{
    for (const OptionsRow& row : OptionsRows()) {
        C component(nullptr);
        component.ExpressionOptions = row.from;
        component.SetOptions(row.to);
        EXPECT_EQ(Names(component.ExpressionOptions), Names(row.expected)) << row.what;
    }
}

TEST(ComponentOptionSets, DefaultsAndTheirFlagWords)
{
    C component(nullptr);
    EXPECT_EQ(component.ExpressionOptions.ToInt(), 0x9107u);
    EXPECT_EQ(component.GetFlagOptions(), 0x4107u);
    EXPECT_EQ(component.MatchOptions.ToInt(), 0x0001u);
    EXPECT_EQ(component.GetMatchFlags(), 0u);

    component.SetOptions(With(Defaults, {}, {C::Normal}));
    EXPECT_TRUE(component.ExpressionOptions.Empty());
    EXPECT_EQ(component.GetFlagOptions(), 0u);

    // The flag words are taken bit by bit from the sets (icase 0x2000,
    // literal 0x1000; match_not_eol 0x0002, match_continuous 0x1000).
    component.ExpressionOptions = Options({C::CaseInsensitive, C::Literals});
    EXPECT_EQ(component.GetFlagOptions(), 0x3000u);
    component.MatchOptions = Matches({C::MatchNotEndOfLine, C::MatchContinuous});
    EXPECT_EQ(component.GetMatchFlags(), 0x1002u);
}

TEST(ComponentOptionSets, OnlyAChangedSetMarksTheExpressionAsNotCompiled)
{
    C component(nullptr);
    component.SetExpression("a+");
    ASSERT_EQ(component.ParseExpression(), 0);
    ASSERT_TRUE(component.ExpressionParsed);

    component.SetOptions(Defaults);  // the same set
    EXPECT_TRUE(component.ExpressionParsed);

    component.SetOptions(With(Defaults, {C::CaseInsensitive}));
    EXPECT_FALSE(component.ExpressionParsed);

    ASSERT_EQ(component.ParseExpression(), 0);
    component.SetMatches(Matches({C::MatchNotEndOfLine}));
    EXPECT_TRUE(component.ExpressionParsed);
}

TEST(ComponentOptionSets, ACaseInsensitiveSetReachesTheCompiledExpression)
{
    C component(nullptr);
    component.SetExpression("ABC");
    component.SetStringToMatch("xabcx");
    EXPECT_FALSE(component.Search());
    component.SetOptions(With(Defaults, {C::CaseInsensitive}));
    EXPECT_TRUE(component.Search());
}

struct MatchesRow {
    const char* what;
    C::MatchSet from;
    C::MatchSet to;
    C::MatchSet expected;
};

TEST(ComponentOptionSets, SetMatchesKeepsMatchDefaultExactlyWhenUnrestricted)
{
    const std::vector<MatchesRow> rows = {
        {"the empty set brings MatchDefault back", Matches({C::MatchDefault}), C::MatchSet(),
         Matches({C::MatchDefault})},
        {"MatchShortest alone is no restriction", Matches({C::MatchDefault}), Matches({C::MatchShortest}),
         Matches({C::MatchDefault, C::MatchShortest})},
        {"a restriction drops MatchDefault", Matches({C::MatchDefault}),
         Matches({C::MatchDefault, C::MatchNotEndOfLine}), Matches({C::MatchNotEndOfLine})},
        {"MatchDefault entering drops the restrictions", Matches({C::MatchNotEndOfLine, C::MatchContinuous}),
         Matches({C::MatchNotEndOfLine, C::MatchContinuous, C::MatchDefault}),
         Matches({C::MatchDefault, C::MatchContinuous})},
        {"MatchDefault entering keeps the three unrestricting options", C::MatchSet(),
         Matches({C::MatchDefault, C::MatchNotDotNullCharacter, C::MatchShortest, C::MatchNotNullString,
                  C::MatchNotBeginningOfLine, C::MatchContinuous}),
         Matches({C::MatchDefault, C::MatchShortest, C::MatchNotNullString, C::MatchContinuous})},
        {"restrictions stay without MatchDefault", Matches({C::MatchNotEndOfLine}),
         Matches({C::MatchNotEndOfLine, C::MatchNotBeginningOfLine}),
         Matches({C::MatchNotEndOfLine, C::MatchNotBeginningOfLine})},
        {"the last restriction leaving brings MatchDefault", Matches({C::MatchNotEndOfLine}),
         Matches({C::MatchShortest}), Matches({C::MatchDefault, C::MatchShortest})},
        {"a restriction replacing MatchDefault stays alone", Matches({C::MatchDefault, C::MatchShortest}),
         Matches({C::MatchShortest, C::MatchNotDotNullCharacter}),
         Matches({C::MatchShortest, C::MatchNotDotNullCharacter})},
    };
    for (const MatchesRow& row : rows) {
        C component(nullptr);
        component.MatchOptions = row.from;
        component.SetMatches(row.to);
        EXPECT_EQ(Names(component.MatchOptions), Names(row.expected)) << row.what;
    }
}

// While a form is read, a stored set comes back exactly as it was stored,
// whatever the set held before.
TEST(ComponentOptionSets, WhileLoadingEveryStoredSetIsTakenAsItIs)
{
    for (std::uint32_t bits = 0; bits <= 0xFFFF; ++bits) {
        const C::OptionSet stored = C::OptionSet::FromInt(bits);
        C read(nullptr);
        read.SetExpression("a");
        ASSERT_EQ(read.ParseExpression(), 0);
        read.SetLoading(true);
        read.SetOptions(stored);
        read.SetLoading(false);
        if (read.ExpressionOptions != stored) {
            ADD_FAILURE() << Names(stored) << " came back as " << Names(read.ExpressionOptions);
            return;
        }
        // Only a change marks the expression as not compiled.
        if (read.ExpressionParsed != (stored == Defaults)) {
            ADD_FAILURE() << Names(stored) << ": ExpressionParsed " << read.ExpressionParsed;
            return;
        }
    }
}

// A set the rules make from several composites at once is not one they
// would keep: restoring it through them would change its flag word.
TEST(ComponentOptionSets, ASetWithTwoCompositesSurvivesLoading)
{
    C written(nullptr);
    written.SetOptions(Options({C::Basic, C::Extended, C::Normal}));
    const C::OptionSet stored = written.ExpressionOptions;
    ASSERT_TRUE(stored.Contains(C::Basic) && stored.Contains(C::Extended));

    C read(nullptr);
    read.SetLoading(true);
    read.SetOptions(stored);
    read.SetLoading(false);
    EXPECT_EQ(Names(read.ExpressionOptions), Names(stored));
    EXPECT_EQ(read.GetFlagOptions(), written.GetFlagOptions());
}

}  // namespace

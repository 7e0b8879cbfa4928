// The rules that keep the composite syntaxes (Basic, Extended, Normal)
// consistent with their component options, and the flag words of the sets.
//
// The rules are written once over a set adapter, so that they serve both an
// object that keeps its options in a std::set and one that keeps them in a
// bit set. An adapter is a specialisation of OptionSetAccess<Set> with
//   static bool Has(const Set&, unsigned value);
//   static void Insert(Set&, unsigned value);
//   static void Erase(Set&, unsigned value);
// The whole-set rules also compare (==) and assign (=) two sets.
//
// Two families sit side by side: one option at a time (Add/Delete), and a
// whole new set compared with the old one (Replace).
#ifndef QUORVEX_ENGINE_OPTIONRULES_H
#define QUORVEX_ENGINE_OPTIONRULES_H

#include <set>

#include "Regularexpressionvalues.h"
#include "Syntaxflags.h"

namespace RegexEngine {

// Compile option values: they index the flag table, the stream format and
// the bits of a bit-set adapter.
namespace CompileOption {
QUORVEX_COMPILE_OPTIONS(QUORVEX_VALUE_CONSTANT)
constexpr unsigned Count = RegexValues::CompileOptionCount;
}  // namespace CompileOption

// Match option values; 1 to 8 are the restrictions that MatchDefault excludes.
namespace MatchOption {
QUORVEX_MATCH_OPTIONS(QUORVEX_VALUE_CONSTANT)
constexpr unsigned FirstRestriction = MatchNotBeginningOfLine;
constexpr unsigned LastRestriction = MatchNotDotNullCharacter;
constexpr unsigned Count = RegexValues::MatchOptionCount;
}  // namespace MatchOption

// Legacy flag value of each compile option, indexed by its value.
constexpr unsigned CompileOptionFlag[CompileOption::Count] = {
    LegacySyntax::escape_in_lists, LegacySyntax::char_classes, LegacySyntax::intervals,
    LegacySyntax::limited_ops,     LegacySyntax::newline_alt,  LegacySyntax::bk_plus_qm,
    LegacySyntax::bk_braces,       LegacySyntax::bk_parens,    LegacySyntax::bk_refs,
    LegacySyntax::bk_vbar,         LegacySyntax::literal,      LegacySyntax::icase,
    LegacySyntax::nocollate,
    0x01CE,  // Basic: char_classes|intervals|limited_ops|bk_braces|bk_parens|bk_refs
    0x0106,  // Extended: char_classes|intervals|bk_refs
    0x4107   // Normal: escape_in_lists|char_classes|intervals|bk_refs|nocollate
};

// Legacy flag value of each match option, indexed by its value.
constexpr unsigned MatchOptionFlag[MatchOption::Count] = {
    LegacyMatch::match_default,         LegacyMatch::match_not_bol,
    LegacyMatch::match_not_eol,         LegacyMatch::match_not_bob,
    LegacyMatch::match_not_eob,         LegacyMatch::match_not_bow,
    LegacyMatch::match_not_eow,         LegacyMatch::match_not_dot_newline,
    LegacyMatch::match_not_dot_null,    LegacyMatch::match_any,
    LegacyMatch::match_not_null,        LegacyMatch::match_continuous};

template <class Set>
struct OptionSetAccess;

// Adapter for a std::set of a one-byte enumeration.
template <class E, class Compare, class Allocator>
struct OptionSetAccess<std::set<E, Compare, Allocator>> {
    using Set = std::set<E, Compare, Allocator>;
    static bool Has(const Set& set, unsigned value) { return set.count(static_cast<E>(value)) != 0; }
    static void Insert(Set& set, unsigned value) { set.insert(static_cast<E>(value)); }
    static void Erase(Set& set, unsigned value) { set.erase(static_cast<E>(value)); }
};

namespace OptionRulesDetail {

using namespace CompileOption;

constexpr unsigned CommonCore[] = {CharacterClasses, Intervals, BackReferences};
constexpr unsigned NormalExtras[] = {EscapeInCharacterSets, NoLocaleSpecificCollation};
constexpr unsigned BasicExtras[] = {LimitedOperations, BracesNotOperators, ParenthesesNotOperators};

template <class Set>
struct Ops {
    using A = OptionSetAccess<Set>;
    Set& set;

    bool Has(unsigned v) const { return A::Has(set, v); }
    void Insert(unsigned v) { A::Insert(set, v); }
    void Erase(unsigned v) { A::Erase(set, v); }

    template <std::size_t N>
    bool HasAll(const unsigned (&values)[N]) const
    {
        for (unsigned v : values)
            if (!Has(v))
                return false;
        return true;
    }
    template <std::size_t N>
    void InsertAll(const unsigned (&values)[N])
    {
        for (unsigned v : values)
            Insert(v);
    }
    template <std::size_t N>
    void EraseAll(const unsigned (&values)[N])
    {
        for (unsigned v : values)
            Erase(v);
    }

    bool NormalComplete() const { return HasAll(CommonCore) && HasAll(NormalExtras); }
    bool BasicComplete() const { return HasAll(CommonCore) && HasAll(BasicExtras); }

    // A composite enters: bring in its components and drop the composite it replaces.
    void EnterExtended()
    {
        Insert(Extended);
        InsertAll(CommonCore);
        if (Has(Normal)) {
            Erase(Normal);
            EraseAll(NormalExtras);
        } else if (Has(Basic)) {
            Erase(Basic);
            EraseAll(BasicExtras);
        }
    }
    void EnterNormal()
    {
        Insert(Normal);
        InsertAll(CommonCore);
        InsertAll(NormalExtras);
        if (Has(Basic)) {
            Erase(Basic);
            EraseAll(BasicExtras);
        } else if (Has(Extended)) {
            Erase(Extended);
        }
    }
    void EnterBasic()
    {
        Insert(Basic);
        InsertAll(CommonCore);
        InsertAll(BasicExtras);
        if (Has(Normal)) {
            Erase(Normal);
            EraseAll(NormalExtras);
        } else if (Has(Extended)) {
            Erase(Extended);
        }
    }

    // Drop the first composite present whose components are no longer complete.
    void DropIncompleteComposite()
    {
        if (Has(Extended)) {
            if (!HasAll(CommonCore))
                Erase(Extended);
        } else if (Has(Normal)) {
            if (!NormalComplete())
                Erase(Normal);
        } else if (Has(Basic)) {
            if (!BasicComplete())
                Erase(Basic);
        }
    }

    // With the common core complete, name the composite the components form.
    void PromoteComplete()
    {
        if (!HasAll(CommonCore))
            return;
        if (HasAll(NormalExtras)) {
            Insert(Normal);
            Erase(Basic);
            Erase(Extended);
        } else if (HasAll(BasicExtras)) {
            Insert(Basic);
            Erase(Extended);
        } else {
            Insert(Extended);
        }
    }
};

template <class Set>
bool IsMatchRestricted(const Set& set)
{
    for (unsigned v = MatchOption::FirstRestriction; v <= MatchOption::LastRestriction; ++v)
        if (OptionSetAccess<Set>::Has(set, v))
            return true;
    return false;
}

template <class Set>
void EraseMatchRestrictions(Set& set)
{
    for (unsigned v = MatchOption::FirstRestriction; v <= MatchOption::LastRestriction; ++v)
        OptionSetAccess<Set>::Erase(set, v);
}

}  // namespace OptionRulesDetail

// Adds one compile option. Returns false when it was already present (the
// set is unchanged and a compiled expression stays valid).
template <class Set>
bool AddCompileOption(Set& set, unsigned option)
{
    OptionRulesDetail::Ops<Set> ops{set};
    if (ops.Has(option))
        return false;
    switch (option) {
    case CompileOption::Extended: ops.EnterExtended(); break;
    case CompileOption::Normal: ops.EnterNormal(); break;
    case CompileOption::Basic: ops.EnterBasic(); break;
    default:
        ops.Insert(option);
        ops.PromoteComplete();
        break;
    }
    return true;
}

// Deletes one compile option. Returns false when it was absent. Deleting
// never brings in a composite.
template <class Set>
bool DeleteCompileOption(Set& set, unsigned option)
{
    using namespace OptionRulesDetail;
    Ops<Set> ops{set};
    if (!ops.Has(option))
        return false;
    switch (option) {
    case CompileOption::Extended:
        ops.Erase(option);
        ops.EraseAll(CommonCore);
        break;
    case CompileOption::Normal:
        ops.Erase(option);
        ops.EraseAll(CommonCore);
        ops.EraseAll(NormalExtras);
        break;
    case CompileOption::Basic:
        ops.Erase(option);
        ops.EraseAll(CommonCore);
        ops.EraseAll(BasicExtras);
        break;
    default:
        ops.Erase(option);
        ops.DropIncompleteComposite();
        break;
    }
    return true;
}

// Replaces the compile options by a whole new set and restores consistency
// by comparing the new set with the old one. Returns false when the new set
// equals the old one (nothing changes).
template <class Set>
bool ReplaceCompileOptions(Set& set, const Set& next)
{
    using namespace CompileOption;
    using namespace OptionRulesDetail;
    if (set == next)
        return false;
    using A = OptionSetAccess<Set>;
    const auto enters = [&](unsigned v) { return A::Has(next, v) && !A::Has(set, v); };
    const auto leaves = [&](unsigned v) { return A::Has(set, v) && !A::Has(next, v); };
    // Classify before assigning: the tests compare the new set with the old.
    enum { EntersExtended, EntersNormal, EntersBasic, LeavesExtended, LeavesNormal, LeavesBasic, NoComposite } change;
    if (enters(Extended))
        change = EntersExtended;
    else if (enters(Normal))
        change = EntersNormal;
    else if (enters(Basic))
        change = EntersBasic;
    else if (leaves(Extended))
        change = LeavesExtended;
    else if (leaves(Normal))
        change = LeavesNormal;
    else if (leaves(Basic))
        change = LeavesBasic;
    else
        change = NoComposite;

    set = next;
    Ops<Set> ops{set};
    switch (change) {
    case EntersExtended: ops.EnterExtended(); break;
    case EntersNormal: ops.EnterNormal(); break;
    case EntersBasic: ops.EnterBasic(); break;
    case LeavesExtended: ops.EraseAll(CommonCore); break;
    case LeavesNormal:
        ops.EraseAll(CommonCore);
        ops.EraseAll(NormalExtras);
        break;
    case LeavesBasic:
        ops.EraseAll(CommonCore);
        ops.EraseAll(BasicExtras);
        break;
    case NoComposite:
        ops.DropIncompleteComposite();
        ops.PromoteComplete();
        break;
    }
    return true;
}

// Adds one match option. MatchDefault stands for "no restriction" and is
// absent whenever a restricting option (values 1 to 8) is present.
template <class Set>
void AddMatchingOption(Set& set, unsigned option)
{
    using A = OptionSetAccess<Set>;
    if (A::Has(set, option))
        return;
    A::Insert(set, option);
    if (option == MatchOption::MatchDefault)
        OptionRulesDetail::EraseMatchRestrictions(set);
    else if (A::Has(set, MatchOption::MatchDefault) && OptionRulesDetail::IsMatchRestricted(set))
        A::Erase(set, MatchOption::MatchDefault);
}

// Deletes one match option; the last restriction to go brings MatchDefault back.
template <class Set>
void DeleteMatchingOption(Set& set, unsigned option)
{
    using A = OptionSetAccess<Set>;
    if (!A::Has(set, option))
        return;
    A::Erase(set, option);
    if (option != MatchOption::MatchDefault && !A::Has(set, MatchOption::MatchDefault) &&
        !OptionRulesDetail::IsMatchRestricted(set))
        A::Insert(set, MatchOption::MatchDefault);
}

// Replaces the match options by a whole new set.
template <class Set>
void ReplaceMatchingOptions(Set& set, const Set& next)
{
    using A = OptionSetAccess<Set>;
    const bool defaultEnters = A::Has(next, MatchOption::MatchDefault) && !A::Has(set, MatchOption::MatchDefault);
    set = next;
    if (defaultEnters) {
        OptionRulesDetail::EraseMatchRestrictions(set);
        return;
    }
    const bool restricted = OptionRulesDetail::IsMatchRestricted(set);
    if (A::Has(set, MatchOption::MatchDefault) && restricted)
        A::Erase(set, MatchOption::MatchDefault);
    else if (!A::Has(set, MatchOption::MatchDefault) && !restricted)
        A::Insert(set, MatchOption::MatchDefault);
}

// The legacy syntax word of a compile option set (values outside the
// enumeration contribute nothing).
template <class Set>
unsigned CompileFlagWord(const Set& set)
{
    unsigned word = 0;
    for (unsigned v = 0; v < CompileOption::Count; ++v)
        if (OptionSetAccess<Set>::Has(set, v))
            word |= CompileOptionFlag[v];
    return word;
}

// The legacy match word of a match option set.
template <class Set>
unsigned MatchFlagWord(const Set& set)
{
    unsigned word = 0;
    for (unsigned v = 0; v < MatchOption::Count; ++v)
        if (OptionSetAccess<Set>::Has(set, v))
            word |= MatchOptionFlag[v];
    return word;
}

// The option sets of a new object: the components of Normal with Normal
// itself, and no match restriction.
template <class Set>
void DefaultCompileOptions(Set& set)
{
    using namespace CompileOption;
    for (unsigned v : {EscapeInCharacterSets, CharacterClasses, Intervals, BackReferences,
                       NoLocaleSpecificCollation, Normal})
        OptionSetAccess<Set>::Insert(set, v);
}

template <class Set>
void DefaultMatchOptions(Set& set)
{
    OptionSetAccess<Set>::Insert(set, MatchOption::MatchDefault);
}

}  // namespace RegexEngine

#endif

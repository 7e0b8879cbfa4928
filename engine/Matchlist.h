// Turning one engine match result into a list of match records: the whole
// match, each marked sub-expression, then the prefix and the suffix.
//
// The list is generic over the record type (anything with Text and Position),
// the way text is made (a callable taking a character range) and the position
// base: with base 0 positions are offsets and a part that took no part in the
// match has -1; with base 1 positions are offsets + 1 and such a part has 0.
// Positions count from the start of the searched text as the engine records
// it, whatever the point where the search for this match began.
#ifndef QUORVEX_ENGINE_MATCHLIST_H
#define QUORVEX_ENGINE_MATCHLIST_H

#include <type_traits>

#include <boost/regex.hpp>

namespace RegexEngine {

// Refills `list` (its storage is reused) from `m`. A result without a match
// gives an empty list. Without `suffixText` the suffix entry keeps its
// position but not its text (see ListsCarrySuffixText).
template <int Base, class List, class MakeText>
void BuildMatchList(List& list, const boost::cmatch& m, MakeText&& makeText, bool suffixText = true)
{
    if (m.empty() || !m[0].matched) {
        list.clear();
        return;
    }
    const char* const base = m[0].first - m.position(std::size_t(0));
    const std::size_t count = m.size();
    list.resize(count + 2);

    const auto fill = [&](auto& record, const boost::csub_match& part, bool tookPart) {
        if (tookPart) {
            record.Text = makeText(part.first, part.second);
            record.Position = static_cast<int>(part.first - base) + Base;
        } else {
            record.Text = makeText(part.second, part.second);
            record.Position = Base - 1;
        }
    };
    for (std::size_t i = 0; i < count; ++i)
        fill(list[i], m[i], m[i].matched);
    // The prefix and the suffix take part exactly when they are not empty.
    const auto prefix = m.prefix();
    const auto suffix = m.suffix();
    fill(list[count], prefix, prefix.first != prefix.second);
    const bool suffixTakesPart = suffix.first != suffix.second;
    if (suffixText || !suffixTakesPart) {
        fill(list[count + 1], suffix, suffixTakesPart);
    } else {
        list[count + 1].Text = makeText(suffix.second, suffix.second);
        list[count + 1].Position = static_cast<int>(suffix.first - base) + Base;
    }
}

// Whether an object's lists carry the suffix text. The suffix of a match is
// all the rest of the subject, so copying it for every match of a Grep costs
// time in proportion to the subject per match. Objects carry it unless their
// traits declare `static constexpr bool SuffixText = false`.
template <class Traits, class = void>
struct ListsCarrySuffixText : std::true_type {};
template <class Traits>
struct ListsCarrySuffixText<Traits, std::void_t<decltype(Traits::SuffixText)>>
    : std::integral_constant<bool, Traits::SuffixText> {};

// The list of an object's traits (see Objecttraits.h): its record type, its
// text type and its position base for lists built from the subject string.
template <class Traits>
void BuildMatchList(typename Traits::List& list, const boost::cmatch& m)
{
    BuildMatchList<Traits::StringPositionBase>(
        list, m, [](const char* first, const char* last) { return Traits::MakeText(first, last); },
        ListsCarrySuffixText<Traits>::value);
}

template <class Traits>
typename Traits::List MatchList(const boost::cmatch& m)
{
    typename Traits::List list;
    BuildMatchList<Traits>(list, m);
    return list;
}

}  // namespace RegexEngine

#endif

// Fuzzes compilation and matching: the first bytes choose the compile options,
// the match options and MergeCopy; the rest is split at 0x1F bytes into the
// expression, the subject and the format string. Every string operation runs,
// with and without handlers that call back into the object.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Regularexpressionclass.h"

namespace {

using RegexClass::REMatchInfo;
using RegexClass::RegularExpression;

void OnMatch(RegularExpression* sender, const REMatchInfo& matches, unsigned, unsigned)
{
    std::string text;
    sender->Format(text);
    (void)sender->GetMatchingInformation();
    (void)matches.size();
}

void OnGrep(RegularExpression* sender, const REMatchInfo&, unsigned, unsigned, bool& more)
{
    std::string text;
    sender->Format(text);
    more = text.size() < 1000;
}

std::string Next(const std::uint8_t*& p, const std::uint8_t* end)
{
    const std::uint8_t* start = p;
    while (p != end && *p != 0x1F)
        ++p;
    std::string field(reinterpret_cast<const char*>(start), static_cast<std::size_t>(p - start));
    if (p != end)
        ++p;
    return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    const unsigned options = data[0] | (data[1] << 8);
    const unsigned matches = data[2] | (data[3] << 8);
    const bool copy = data[4] & 1;
    const std::uint8_t* p = data + 5;
    const std::uint8_t* end = data + size;

    RegularExpression re;
    re.ClearExpressionOptions();
    for (unsigned o = 0; o < 16; ++o)
        if (options & (1u << o))
            re.AddExpressionOption(static_cast<RegularExpression::Options>(o));
    for (unsigned m = 0; m < 12; ++m)
        if (matches & (1u << m))
            re.AddMatchOption(static_cast<RegularExpression::Matches>(m));
    re.SetMergeCopy(copy);
    re.SetExpression(Next(p, end));
    std::string subject = Next(p, end);
    if (subject.size() > 512)
        subject.resize(512);
    re.SetStringToMatch(subject);
    re.SetFormatString(Next(p, end));

    re.ParseExpression();
    (void)re.GetExpressionError();
    (void)re.NumberOfSubexpressions();

    std::string out;
    re.Match();
    re.MatchAll();
    re.Search();
    re.Grep();
    re.Merge(out);

    re.SetOnMatching(OnMatch);
    re.SetOnSearching(OnMatch);
    re.SetOnGrepping(OnGrep);
    re.SetOnMerging(OnGrep);
    re.Match();
    re.MatchAll();
    re.Search();
    re.Grep();
    re.Merge(out);
    return 0;
}

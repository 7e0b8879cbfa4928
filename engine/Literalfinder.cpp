// The prefilter for plain-text expressions (see Literalfinder.h).
#include "Literalfinder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <boost/regex.hpp>

#include "Expressionanalyser.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Cpufeatures.h"

namespace RegexEngine {

namespace {

#if defined(QUORVEX_ENGINE_AVX2)
// The probe loop of LiteralFinder::Find, 32 places a step, from `i` while
// i + 32 <= end; returns the first place that `check` accepts, or none with
// `i` left where the caller's narrower loops go on.
template <class Check>
__attribute__((target("avx2"))) std::size_t ProbeAvx2(const char* data, std::size_t& i, std::size_t end,
                                                      std::size_t pa, std::size_t pb, unsigned char first,
                                                      unsigned char last, unsigned char fold, const Check& check)
{
    const __m256i foldMask = _mm256_set1_epi8(static_cast<char>(fold));
    const __m256i firstBytes = _mm256_set1_epi8(static_cast<char>(first));
    const __m256i lastBytes = _mm256_set1_epi8(static_cast<char>(last));
    // 64 places a step while none is a candidate (rare texts), then 32.
    for (; i + 64 <= end; i += 64) {
        const __m256i a0 =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + pa)), foldMask);
        const __m256i b0 =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + pb)), foldMask);
        const __m256i a1 =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 32 + pa)), foldMask);
        const __m256i b1 =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 32 + pb)), foldMask);
        const __m256i m0 = _mm256_and_si256(_mm256_cmpeq_epi8(a0, firstBytes), _mm256_cmpeq_epi8(b0, lastBytes));
        const __m256i m1 = _mm256_and_si256(_mm256_cmpeq_epi8(a1, firstBytes), _mm256_cmpeq_epi8(b1, lastBytes));
        if (_mm256_testz_si256(_mm256_or_si256(m0, m1), _mm256_or_si256(m0, m1)))
            continue;
        std::uint64_t mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(m0)) |
                             (static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(m1))) << 32);
        while (mask != 0) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctzll(mask));
            if (check(at))
                return at;
            mask &= mask - 1;
        }
    }
    for (; i + 32 <= end; i += 32) {
        const __m256i a =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + pa)), foldMask);
        const __m256i b =
            _mm256_or_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + pb)), foldMask);
        unsigned mask = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a, firstBytes), _mm256_cmpeq_epi8(b, lastBytes))));
        while (mask != 0) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
            if (check(at))
                return at;
            mask &= mask - 1;
        }
    }
    return LiteralFinder::none;
}
#endif

// How common a byte is in text, roughly (higher: more common): space and
// lower-case letters by their frequency in English, then digits and line
// breaks, capitals, punctuation, and the rest.
int Commonness(unsigned char c, bool icase)
{
    static const char letters[] = "etaoinshrdlcumwfgypbvkjxqz";
    if (icase && c >= 'A' && c <= 'Z')
        c = static_cast<unsigned char>(c | 0x20);
    if (c == ' ')
        return 100;
    if (c >= 'a' && c <= 'z')
        return 90 - static_cast<int>(std::strchr(letters, c) - letters);
    if (c >= '0' && c <= '9')
        return 50;
    if (c == '\n' || c == '.' || c == ',')
        return 45;
    if (c >= 'A' && c <= 'Z')
        return 40 - static_cast<int>(std::strchr(letters, c | 0x20) - letters) / 2;
    if (c > ' ' && c < 0x7F)
        return 10;
    return 5;
}

// The two positions of `text` whose bytes are the rarest (the same position
// twice for a text of one byte).
std::pair<std::size_t, std::size_t> Probes(const std::string& text, bool icase)
{
    std::size_t a = 0;
    for (std::size_t i = 1; i < text.size(); ++i)
        if (Commonness(static_cast<unsigned char>(text[i]), icase) < Commonness(static_cast<unsigned char>(text[a]), icase))
            a = i;
    std::size_t b = a;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != a && (b == a || Commonness(static_cast<unsigned char>(text[i]), icase) <
                                     Commonness(static_cast<unsigned char>(text[b]), icase)))
            b = i;
    return {std::min(a, b), std::max(a, b)};
}

}  // namespace

std::unique_ptr<LiteralFinder> LiteralFinder::ForTexts(const std::vector<std::string>& texts, bool icase,
                                                       const std::locale& locale)
{
    if (texts.empty() || texts.size() > maxTexts)
        return nullptr;
    for (const auto& text : texts)
        if (text.empty())
            return nullptr;
    std::unique_ptr<LiteralFinder> finder(new LiteralFinder());
    finder->texts_ = texts;
    finder->icase_ = icase;
    for (const auto& text : texts)
        finder->probes_.push_back(Probes(text, icase));
    if (!icase)
        return finder;

    // The engine compares each byte's lower case under the expression's locale.
    // The byte search runs on data folded with `| 0x20`; that finds every
    // engine match only when bytes with the same lower case also agree after
    // the fold. Otherwise (exotic locales) leave the expression to the engine.
    const auto& ctype = std::use_facet<std::ctype<char>>(locale);
    for (int b = 0; b < 256; ++b)
        finder->key_[b] = static_cast<unsigned char>(ctype.tolower(static_cast<char>(b)));
    for (auto& text : finder->texts_) {
        std::string exact;
        for (char& c : text) {
            const unsigned char u = static_cast<unsigned char>(c);
            for (int b = 0; b < 256; ++b)
                if (finder->key_[b] == finder->key_[u] && ((b | 0x20) != (u | 0x20)))
                    return nullptr;
            exact += static_cast<char>(finder->key_[u]);
            c = static_cast<char>(u | 0x20);
        }
        finder->exact_.push_back(exact);
    }
    return finder;
}

std::unique_ptr<LiteralFinder> LiteralFinder::Make(const char* text, bool icase, const std::locale& locale,
                                                   unsigned markCount)
{
    boost::regex compiled;
    compiled.imbue(locale);
    compiled.assign(text, boost::regex::normal | boost::regex::no_except | (icase ? boost::regex::icase : boost::regex::normal));
    if (compiled.status() != 0 || compiled.mark_count() != markCount)
        return nullptr;
    const ExpressionFacts facts = AnalyseExpression(text, icase, compiled);
    if (facts.plain.empty() || markCount != (facts.wholeGroup ? 1u : 0u))
        return nullptr;
    return ForTexts(facts.plain, icase, locale);
}

bool LiteralFinder::FlagsAllow(unsigned flags)
{
    // not_bol, not_eol, not_bob, not_eob, not_bow, not_eow, not_dot_newline,
    // not_dot_null (0x01 to 0x80), not_null, match_perl and match_posix.
    return (flags & ~(0xFFu | static_cast<unsigned>(boost::match_not_null | boost::match_perl | boost::match_posix))) == 0;
}

bool LiteralFinder::Verify(const char* at, const std::string& text) const
{
    for (std::size_t i = 0; i < text.size(); ++i)
        if (key_[static_cast<unsigned char>(at[i])] != static_cast<unsigned char>(text[i]))
            return false;
    return true;
}

std::size_t LiteralFinder::Find(const char* data, std::size_t size, std::size_t from, std::size_t k) const
{
    // Candidates are the places where the text's two probe bytes (its rarest
    // by a rough table of byte frequencies in text) both agree (after the case
    // fold when icase_), sixteen places per step; each is then checked whole.
    // No copy of the data is made.
    const std::string& text = texts_[k];
    const std::size_t length = text.size();
    if (length > size || from > size - length)
        return none;
    const unsigned char fold = icase_ ? 0x20 : 0x00;
    const std::size_t pa = probes_[k].first, pb = probes_[k].second;
    const unsigned char first = static_cast<unsigned char>(text[pa]);
    const unsigned char last = static_cast<unsigned char>(text[pb]);
    // Texts are short and most candidates of dense text are matches: a loop
    // here costs less than a call to memcmp.
    const char* const bytes = text.data();
    auto check = [&](std::size_t at) {
        if (icase_)
            return Verify(data + at, exact_[k]);
        const char* p = data + at;
        for (std::size_t i = 0; i < length; ++i)
            if (p[i] != bytes[i])
                return false;
        return true;
    };
    const std::size_t end = size - length + 1;  // candidates lie in [from, end)
    std::size_t i = from;
#if defined(QUORVEX_ENGINE_AVX2)
    if (HasAvx2()) {
        const std::size_t at = ProbeAvx2(data, i, end, pa, pb, first, last, fold, check);
        if (at != none)
            return at;
    }
#endif
#if defined(__SSE2__)
    const __m128i foldMask = _mm_set1_epi8(static_cast<char>(fold));
    const __m128i firstBytes = _mm_set1_epi8(static_cast<char>(first));
    const __m128i lastBytes = _mm_set1_epi8(static_cast<char>(last));
    for (; i + 16 <= end; i += 16) {
        const __m128i a = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + pa)), foldMask);
        const __m128i b = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + pb)), foldMask);
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, firstBytes), _mm_cmpeq_epi8(b, lastBytes))));
        while (mask != 0) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
            if (check(at))
                return at;
            mask &= mask - 1;
        }
    }
#endif
    for (; i < end; ++i)
        if ((static_cast<unsigned char>(data[i + pa]) | fold) == first &&
            (static_cast<unsigned char>(data[i + pb]) | fold) == last && check(i))
            return i;
    return none;
}

LiteralFinder::Cursor::Cursor(const LiteralFinder& finder, const char* data, std::size_t size)
    : finder_(finder), data_(data), size_(size)
{
    for (std::size_t k = 0; k < finder.texts_.size(); ++k)
        next_[k] = finder.Find(data, size, 0, k);
}

std::size_t LiteralFinder::Cursor::Next(std::size_t from, std::size_t& which, bool longest)
{
    std::size_t best = none;
    which = 0;
    for (std::size_t k = 0; k < finder_.texts_.size(); ++k) {
        if (next_[k] != none && next_[k] < from)
            next_[k] = finder_.Find(data_, size_, from, k);
        if (next_[k] < best ||
            (longest && next_[k] == best && best != none && finder_.texts_[k].size() > finder_.texts_[which].size())) {
            best = next_[k];
            which = k;
        }
    }
    return best;
}

bool LiteralFinder::Search(const char* data, std::size_t size, MatchSink& sink, bool longest,
                           bool firstOfLine) const
{
    std::uint64_t offsets[4];
    Cursor cursor(*this, data, size);
    const bool single = texts_.size() == 1;  // no choice between texts: search it directly
    std::size_t pos = 0;
    for (;;) {
        std::size_t which = 0;
        const std::size_t best = single ? Find(data, size, pos, 0) : cursor.Next(pos, which, longest);
        if (best == none)
            return true;
        const std::size_t end = best + texts_[which].size();
        offsets[0] = offsets[2] = best;
        offsets[1] = offsets[3] = end;
        if (!sink.Take(offsets))
            return false;
        pos = end;
        if (firstOfLine && pos < size) {
            const void* feed = std::memchr(data + pos, '\n', size - pos);
            pos = feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(feed) - data) + 1 : size;
        }
        if (pos >= size)
            return true;
    }
}

}  // namespace RegexEngine

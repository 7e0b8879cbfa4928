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
// The 32 bytes at `at`, folded with `| 0x20` when Fold.
template <bool Fold>
__attribute__((target("avx2"))) inline __m256i Load(const char* at, __m256i fold)
{
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    return Fold ? _mm256_or_si256(bytes, fold) : bytes;
}

// The candidates among the 32 places from `at`: the bits of the places where
// every probe byte agrees (after the case fold when Fold; without it the
// fold costs nothing).
template <std::size_t N, bool Fold>
__attribute__((target("avx2"))) inline __m256i Candidates(const char* at, const std::size_t* offsets,
                                                          const __m256i* bytes, __m256i fold)
{
    __m256i m = _mm256_cmpeq_epi8(Load<Fold>(at + offsets[0], fold), bytes[0]);
    for (std::size_t j = 1; j < N; ++j)
        m = _mm256_and_si256(m, _mm256_cmpeq_epi8(Load<Fold>(at + offsets[j], fold), bytes[j]));
    return m;
}

// The probe loop of LiteralFinder::Find with N probe bytes, 32 places a step,
// from `i` while i + 32 <= end; returns the first place that `check` accepts,
// or none with `i` left where the caller's narrower loops go on.
template <std::size_t N, bool Fold, class Check>
__attribute__((target("avx2"))) std::size_t ProbeAvx2(const char* data, std::size_t& i, std::size_t end,
                                                      const std::size_t* offsets, const unsigned char* probeBytes,
                                                      unsigned char foldByte, const Check& check)
{
    const __m256i fold = _mm256_set1_epi8(static_cast<char>(foldByte));
    __m256i bytes[N];
    for (std::size_t j = 0; j < N; ++j)
        bytes[j] = _mm256_set1_epi8(static_cast<char>(probeBytes[j]));
    // 64 places a step while none is a candidate (rare texts), then 32.
    for (; i + 64 <= end; i += 64) {
        const __m256i m0 = Candidates<N, Fold>(data + i, offsets, bytes, fold);
        const __m256i m1 = Candidates<N, Fold>(data + i + 32, offsets, bytes, fold);
        const __m256i any = _mm256_or_si256(m0, m1);
        if (_mm256_testz_si256(any, any))
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
        unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(Candidates<N, Fold>(data + i, offsets, bytes, fold)));
        while (mask != 0) {
            const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
            if (check(at))
                return at;
            mask &= mask - 1;
        }
    }
    return LiteralFinder::none;
}

// The joint probe loop of LiteralFinder::FindAny for T texts: 32 places a
// step, the candidates of every text (its two rarest probe bytes, from
// `offsets + 3 * k`) at once, from `i` while i + 32 <= end.
template <std::size_t T, bool Fold, class Check>
__attribute__((target("avx2"))) std::size_t ProbeAnyAvx2(const char* data, std::size_t& i, std::size_t end,
                                                         const std::size_t* offsets,
                                                         const unsigned char* probeBytes, unsigned char foldByte,
                                                         const Check& check)
{
    const __m256i fold = _mm256_set1_epi8(static_cast<char>(foldByte));
    __m256i bytes[2 * T];
    std::size_t at[2 * T];
    for (std::size_t k = 0; k < T; ++k)
        for (std::size_t j = 0; j < 2; ++j) {
            bytes[2 * k + j] = _mm256_set1_epi8(static_cast<char>(probeBytes[3 * k + j]));
            at[2 * k + j] = offsets[3 * k + j];
        }
    for (; i + 32 <= end; i += 32) {
        __m256i any = Candidates<2, Fold>(data + i, at, bytes, fold);
        for (std::size_t k = 1; k < T; ++k)
            any = _mm256_or_si256(any, Candidates<2, Fold>(data + i, at + 2 * k, bytes + 2 * k, fold));
        if (_mm256_testz_si256(any, any))
            continue;
        unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(any));
        while (mask != 0) {
            const std::size_t place = i + static_cast<std::size_t>(__builtin_ctz(mask));
            if (check(place))
                return place;
            mask &= mask - 1;
        }
    }
    return LiteralFinder::none;
}
#endif

// How often a byte occurs in ordinary text and source code, roughly, in
// occurrences per 10,000 bytes: letters by their frequency in English (a
// capital a fifteenth of its lower case), then space, line breaks, digits and
// punctuation. With `icase` a letter counts with both of its cases.
unsigned Frequency(unsigned char c, bool icase)
{
    static const unsigned short lower[26] = {650, 120, 230, 340, 1000, 180, 160, 480, 580, 10,  60,  330, 200,
                                             570, 620, 160, 8,   500, 530, 740, 230, 80,  170, 15,  160, 7};
    if (c >= 'a' && c <= 'z')
        return lower[c - 'a'] + (icase ? lower[c - 'a'] / 15 : 0);
    if (c >= 'A' && c <= 'Z')
        return icase ? lower[c - 'A'] + lower[c - 'A'] / 15 : lower[c - 'A'] / 15 + 1;
    if (c == ' ')
        return 1500;
    if (c == '\n' || c == '.' || c == ',')
        return 150;
    if (c >= '0' && c <= '9')
        return 50;
    if (c == '\t' || c == '(' || c == ')' || c == '_' || c == '-' || c == '"' || c == '=' || c == ';')
        return 30;
    if (c > ' ' && c < 0x7F)
        return 10;
    return 2;
}

// A pair of probe bytes this common (the product of their frequencies) lets
// through more than about one place in 2,000 of ordinary text: a third probe
// byte then costs less than the candidates it saves.
constexpr unsigned long commonPair = 50000;

// The positions of `text`'s two rarest bytes, rarest first (the same position
// twice for a text of one byte), and a third when those two make a common
// pair.
LiteralFinder::Probes ChooseProbes(const std::string& text, bool icase)
{
    std::vector<std::size_t> order(text.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return Frequency(static_cast<unsigned char>(text[a]), icase) <
               Frequency(static_cast<unsigned char>(text[b]), icase);
    });
    LiteralFinder::Probes probes;
    if (text.size() == 1) {
        probes.count = 2;
        probes.at[0] = probes.at[1] = 0;
    } else {
        probes.count = 2;
        probes.at[0] = order[0];
        probes.at[1] = order[1];
        const unsigned long pair = static_cast<unsigned long>(Frequency(static_cast<unsigned char>(text[order[0]]), icase)) *
                                   Frequency(static_cast<unsigned char>(text[order[1]]), icase);
        if (text.size() >= 3 && pair >= commonPair) {
            probes.count = 3;
            probes.at[2] = order[2];
        }
    }
    for (std::size_t j = 0; j < probes.count; ++j)
        probes.byte[j] = static_cast<unsigned char>(text[probes.at[j]]);
    return probes;
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
    for (const auto& text : texts) {
        finder->shortest_ = finder->shortest_ == 0 ? text.size() : std::min(finder->shortest_, text.size());
        finder->longest_ = std::max(finder->longest_, text.size());
    }
    if (!icase) {
        for (const auto& text : finder->texts_)
            finder->probes_.push_back(ChooseProbes(text, false));
        finder->SharePrefix();
        return finder;
    }

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
        finder->probes_.push_back(ChooseProbes(text, true));
    }
    finder->SharePrefix();
    return finder;
}

void LiteralFinder::SharePrefix()
{
    // Worth a search of its own from two bytes on (colou?r: colo); the texts
    // as they must match (folded with icase).
    if (texts_.size() < 2)
        return;
    std::size_t length = shortest_;
    for (const auto& text : texts_)
        for (std::size_t i = 0; i < length; ++i)
            if (text[i] != texts_[0][i]) {
                length = i;
                break;
            }
    if (length < 2)
        return;
    prefixLength_ = length;
    prefixProbes_ = ChooseProbes(texts_[0].substr(0, length), icase_);
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

bool LiteralFinder::Matches(const char* at, std::size_t k) const
{
    // Texts are short and most candidates of dense text are matches: a loop
    // here costs less than a call to memcmp.
    if (icase_)
        return Verify(at, exact_[k]);
    const std::string& text = texts_[k];
    for (std::size_t i = 0; i < text.size(); ++i)
        if (at[i] != text[i])
            return false;
    return true;
}

template <class Check>
std::size_t LiteralFinder::Probe(const char* data, std::size_t size, std::size_t from, std::size_t length,
                                 const Probes& probes, const Check& check) const
{
    // Candidates are the places where the text's probe bytes (its rarest by a
    // table of byte frequencies in text) all agree (after the case fold when
    // icase_), 32 or 16 places per step; each is then checked whole. No copy
    // of the data is made.
    if (length > size || from > size - length)
        return none;
    const unsigned char fold = icase_ ? 0x20 : 0x00;
    const std::size_t end = size - length + 1;  // candidates lie in [from, end)
    std::size_t i = from;
#if defined(QUORVEX_ENGINE_AVX2)
    if (HasAvx2()) {
        std::size_t at = none;
        if (probes.count == 3)
            at = fold != 0 ? ProbeAvx2<3, true>(data, i, end, probes.at, probes.byte, fold, check)
                           : ProbeAvx2<3, false>(data, i, end, probes.at, probes.byte, fold, check);
        else
            at = fold != 0 ? ProbeAvx2<2, true>(data, i, end, probes.at, probes.byte, fold, check)
                           : ProbeAvx2<2, false>(data, i, end, probes.at, probes.byte, fold, check);
        if (at != none)
            return at;
    }
#endif
    const std::size_t pa = probes.at[0], pb = probes.at[1];
    const unsigned char first = probes.byte[0], last = probes.byte[1];
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

std::size_t LiteralFinder::Find(const char* data, std::size_t size, std::size_t from, std::size_t k) const
{
    return Probe(data, size, from, texts_[k].size(), probes_[k], [&](std::size_t at) { return Matches(data + at, k); });
}

bool LiteralFinder::JointSearch() const
{
#if defined(QUORVEX_ENGINE_AVX2)
    // One pass with every text's probes beats a pass per text up to a few
    // texts; beyond that the probes of one step no longer fit the registers.
    if (texts_.size() > 1 && texts_.size() <= 4 && HasAvx2())
        return true;
#endif
    return prefixLength_ != 0;
}

std::size_t LiteralFinder::FindAny(const char* data, std::size_t size, std::size_t from, std::size_t& which,
                                   bool longest) const
{
    // The first place where a text matches; among the texts matching there,
    // the first listed (or the longest).
    const auto check = [&](std::size_t at) {
        bool found = false;
        for (std::size_t k = 0; k < texts_.size(); ++k) {
            const std::size_t length = texts_[k].size();
            if (length > size - at || !Matches(data + at, k))
                continue;
            if (!found || (longest && length > texts_[which].size()))
                which = k;
            found = true;
            if (!longest)
                break;
        }
        return found;
    };
    which = 0;
    if (shortest_ > size || from > size - shortest_)
        return none;
    // Texts sharing a prefix: every match begins with it, so the places where
    // it occurs are the only candidates.
    if (prefixLength_ != 0)
        return Probe(data, size, from, prefixLength_, prefixProbes_, check);
    std::size_t i = from;
#if defined(QUORVEX_ENGINE_AVX2)
    // Every probe of a step lies within the data while i + 32 <= end.
    const std::size_t end = longest_ <= size ? size - longest_ + 1 : 0;
    std::size_t offsets[3 * maxTexts];
    unsigned char bytes[3 * maxTexts];
    for (std::size_t k = 0; k < texts_.size(); ++k)
        for (std::size_t j = 0; j < 3; ++j) {
            offsets[3 * k + j] = probes_[k].at[j];
            bytes[3 * k + j] = probes_[k].byte[j];
        }
    const unsigned char fold = icase_ ? 0x20 : 0x00;
    std::size_t at = none;
    switch (texts_.size() + (fold != 0 ? 8 : 0)) {
    case 2: at = ProbeAnyAvx2<2, false>(data, i, end, offsets, bytes, fold, check); break;
    case 3: at = ProbeAnyAvx2<3, false>(data, i, end, offsets, bytes, fold, check); break;
    case 4: at = ProbeAnyAvx2<4, false>(data, i, end, offsets, bytes, fold, check); break;
    case 10: at = ProbeAnyAvx2<2, true>(data, i, end, offsets, bytes, fold, check); break;
    case 11: at = ProbeAnyAvx2<3, true>(data, i, end, offsets, bytes, fold, check); break;
    default: at = ProbeAnyAvx2<4, true>(data, i, end, offsets, bytes, fold, check); break;
    }
    if (at != none)
        return at;
#endif
    for (; i + shortest_ <= size; ++i)
        if (check(i))
            return i;
    return none;
}

LiteralFinder::Cursor::Cursor(const LiteralFinder& finder, const char* data, std::size_t size)
    : finder_(finder), data_(data), size_(size), joint_(finder.JointSearch())
{
    if (!joint_)
        for (std::size_t k = 0; k < finder.texts_.size(); ++k)
            next_[k] = finder.Find(data, size, 0, k);
}

std::size_t LiteralFinder::Cursor::Next(std::size_t from, std::size_t& which, bool longest)
{
    if (joint_) {
        // The last answer holds while `from` has not passed it.
        if (searchedFrom_ == none || from < searchedFrom_ || from > found_) {
            found_ = finder_.FindAny(data_, size_, from, foundWhich_, longest);
            searchedFrom_ = from;
        }
        which = foundWhich_;
        return found_;
    }
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

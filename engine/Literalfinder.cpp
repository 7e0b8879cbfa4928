// The prefilter for plain-text expressions (see Literalfinder.h).
#include "Literalfinder.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace RegexEngine {

namespace {

// Characters with a meaning of their own in the engine's normal syntax
// outside brackets.
bool IsSpecial(char c)
{
    return c != '\0' && std::strchr(".[]{}()\\*+?|^$", c) != nullptr;
}

// Characters that a backslash turns into themselves. Letters, digits and the
// other punctuation (\< \> \` \' ...) may be assertions or classes: not here.
bool IsEscapedLiteral(char c)
{
    return c != '\0' && std::strchr(".[]{}()\\*+?|^$/-", c) != nullptr;
}

// Splits `body` at its `|` into plain texts; false when anything else than
// plain text and escaped specials occurs or a text is empty.
bool SplitAlternatives(const std::string& body, std::vector<std::string>& texts)
{
    texts.assign(1, std::string());
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '|') {
            texts.emplace_back();
        } else if (c == '\\') {
            if (i + 1 >= body.size() || !IsEscapedLiteral(body[i + 1]))
                return false;
            texts.back() += body[++i];
        } else if (IsSpecial(c)) {
            return false;
        } else {
            texts.back() += c;
        }
    }
    for (const auto& text : texts)
        if (text.empty())
            return false;
    return true;
}

constexpr std::size_t maxAlternatives = 16;

}  // namespace

std::unique_ptr<LiteralFinder> LiteralFinder::Make(const char* text, bool icase, const std::locale& locale,
                                                   unsigned markCount)
{
    const std::string expression(text);
    std::string body = expression;
    bool captures = false;
    const std::size_t n = expression.size();
    if (n >= 4 && expression.compare(0, 3, "(?:") == 0 && expression[n - 1] == ')') {
        body = expression.substr(3, n - 4);
    } else if (n >= 3 && expression[0] == '(' && expression[1] != '?' && expression[n - 1] == ')') {
        body = expression.substr(1, n - 2);
        captures = true;
    }
    if (markCount != (captures ? 1u : 0u))
        return nullptr;

    std::unique_ptr<LiteralFinder> finder(new LiteralFinder());
    if (!SplitAlternatives(body, finder->texts_) || finder->texts_.size() > maxAlternatives)
        return nullptr;
    finder->icase_ = icase;
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

bool LiteralFinder::FlagsAllow(unsigned flags)
{
    // not_bol, not_eol, not_bob, not_eob, not_bow, not_eow, not_dot_newline,
    // not_dot_null (0x01 to 0x80) and not_null (0x800).
    return (flags & ~(0xFFu | 0x800u)) == 0;
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
    // Candidates are the places where the text's first and last bytes both
    // agree (after the case fold when icase_), sixteen places per step; each
    // is then checked whole. No copy of the data is made.
    const std::string& text = texts_[k];
    const std::size_t length = text.size();
    if (length > size || from > size - length)
        return none;
    const unsigned char fold = icase_ ? 0x20 : 0x00;
    const unsigned char first = static_cast<unsigned char>(text.front());
    const unsigned char last = static_cast<unsigned char>(text.back());
    auto check = [&](std::size_t at) {
        return icase_ ? Verify(data + at, exact_[k]) : std::memcmp(data + at, text.data(), length) == 0;
    };
    const std::size_t end = size - length + 1;  // candidates lie in [from, end)
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i foldMask = _mm_set1_epi8(static_cast<char>(fold));
    const __m128i firstBytes = _mm_set1_epi8(static_cast<char>(first));
    const __m128i lastBytes = _mm_set1_epi8(static_cast<char>(last));
    for (; i + 16 <= end; i += 16) {
        const __m128i a = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), foldMask);
        const __m128i b =
            _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + length - 1)), foldMask);
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
        if ((static_cast<unsigned char>(data[i]) | fold) == first &&
            (static_cast<unsigned char>(data[i + length - 1]) | fold) == last && check(i))
            return i;
    return none;
}

bool LiteralFinder::Search(const char* data, std::size_t size, MatchSink& sink) const
{
    std::uint64_t offsets[4];
    const std::size_t count = texts_.size();
    std::size_t next[maxAlternatives];
    for (std::size_t k = 0; k < count; ++k)
        next[k] = Find(data, size, 0, k);
    std::size_t pos = 0;
    for (;;) {
        // Leftmost occurrence; on a tie the earliest alternative.
        std::size_t best = none, which = 0;
        for (std::size_t k = 0; k < count; ++k) {
            if (next[k] != none && next[k] < pos)
                next[k] = Find(data, size, pos, k);
            if (next[k] < best) {
                best = next[k];
                which = k;
            }
        }
        if (best == none)
            return true;
        const std::size_t end = best + texts_[which].size();
        offsets[0] = offsets[2] = best;
        offsets[1] = offsets[3] = end;
        if (!sink.Take(offsets))
            return false;
        pos = end;
        if (pos >= size)
            return true;
    }
}

}  // namespace RegexEngine

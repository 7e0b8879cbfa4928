// The Unicode (UTF-8) expression: compilation over code points, with
// Boost.Regex's ICU traits where this build has ICU and with the traits over
// the generated Unicode tables otherwise, and the search over the valid
// stretches of a subject.
#include "Unicodeexpression.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Expressionanalyser.h"
#include "Substitution.h"
#include "Syntaxflags.h"

#include <boost/regex/pending/unicode_iterator.hpp>

#include "Unicodetabletraits.h"

#if defined(QUORVEX_HAVE_ICU)
#include <boost/regex/icu.hpp>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/uset.h>
#endif

namespace RegexEngine {

namespace rc = boost::regex_constants;

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::size_t ValidUtf8Length(const char* p, const char* last)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(p[i]); };
    const std::size_t room = static_cast<std::size_t>(last - p);
    if (room == 0)
        return 0;
    const unsigned lead = byte(0);
    if (lead < 0x80)
        return 1;
    const auto continuation = [&](std::size_t i) { return i < room && (byte(i) & 0xC0u) == 0x80u; };
    if (lead >= 0xC2 && lead <= 0xDF)
        return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2))
            return 0;
        // No overlong forms (E0 80..9F), no surrogates (ED A0..BF).
        if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0))
            return 0;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        // No overlong forms (F0 80..8F), nothing past U+10FFFF (F4 90..).
        if ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90))
            return 0;
        return 4;
    }
    return 0;  // a continuation byte, C0, C1 or F5..FF
}

bool IsValidUtf8(const char* first, const char* last)
{
    while (first != last) {
        if (static_cast<unsigned char>(*first) < 0x80) {
            ++first;
            continue;
        }
        const std::size_t n = ValidUtf8Length(first, last);
        if (n == 0)
            return false;
        first += n;
    }
    return true;
}

namespace {

// Match flags under which skipping a line without a required text is exact:
// the assertion and dot flags, the empty-match and first-found rules, the
// choice of leftmost rule, and anchoring at each line's start.
constexpr unsigned soundLineFlags = 0xFFu | rc::match_any | rc::match_not_null | rc::match_perl | rc::match_posix |
                                    rc::match_nosubs | rc::match_continuous;

// The end of the broken sequence at `p`: its first byte and the continuation
// bytes after it, which cannot start a valid sequence of their own.
const char* SkipBroken(const char* p, const char* last)
{
    ++p;
    while (p != last && (static_cast<unsigned char>(*p) & 0xC0u) == 0x80u)
        ++p;
    return p;
}

// The end of the valid stretch that begins at `a`: the first broken sequence
// at or after it, or `last`.
const char* StretchEnd(const char* a, const char* last)
{
    const auto continuation = [](const char* p) { return (static_cast<unsigned char>(*p) & 0xC0u) == 0x80u; };
    while (a != last) {
        // Eight ASCII bytes at a time.
        while (last - a >= 8) {
            std::uint64_t word;
            std::memcpy(&word, a, 8);
            if ((word & 0x8080808080808080u) != 0)
                break;
            a += 8;
        }
        if (a == last)
            break;
        const auto lead = static_cast<unsigned char>(*a);
        if (lead < 0x80) {
            ++a;
            continue;
        }
        // Two-byte sequences (Latin, Greek, Cyrillic...) checked here; the
        // rest by ValidUtf8Length.
        if (lead >= 0xC2 && lead <= 0xDF && last - a >= 2 && continuation(a + 1)) {
            a += 2;
            continue;
        }
        const std::size_t n = ValidUtf8Length(a, last);
        if (n == 0)
            return a;
        a += n;
    }
    return last;
}

// Both backends compile and match over the same 32-bit code points.
using CodePoint = std::int32_t;
using Iterator = boost::u8_to_u32_iterator<const char*, CodePoint>;
using Results = boost::match_results<Iterator>;
// The engine over a stretch decoded beforehand: plain pointers into an array
// of code points, which it reads many times over without decoding again.
using PointResults = boost::match_results<const CodePoint*>;

// The decoded form of a valid stretch: its `size` code points, and the byte
// offset (from the stretch's start) of each, with one more for its end.
struct DecodedStretch {
    std::unique_ptr<CodePoint[]> points;
    std::unique_ptr<std::uint32_t[]> offsets;
    std::size_t capacity = 0;  // of both arrays, less the end's offset
    std::size_t size = 0;
    bool busy = false;  // in use by a scan on this thread (a handler may scan again)
};

// Stretches longer than this are read through the decoding iterator: the
// array would cost more memory than the decoding costs time.
constexpr std::size_t maxDecodedStretch = std::size_t(1) << 20;

// Decodes the valid UTF-8 of [a, last) into `d`, up to the first broken
// sequence or `last`, or up to `limit` bytes (then at a code point's end);
// returns the end of what was decoded.
const char* DecodeStretch(const char* a, const char* last, std::size_t limit, DecodedStretch& d)
{
    const char* const stop = static_cast<std::size_t>(last - a) > limit ? a + limit : last;
    // No more code points than bytes (and up to 3 bytes past `stop`).
    const std::size_t room = static_cast<std::size_t>(stop - a) + 4;
    if (d.capacity < room) {
        const std::size_t capacity = std::max(room, 2 * d.capacity);
        d.points.reset(new CodePoint[capacity]);
        d.offsets.reset(new std::uint32_t[capacity + 1]);
        d.capacity = capacity;
    }
    CodePoint* const points = d.points.get();
    std::uint32_t* const offsets = d.offsets.get();
    std::size_t n = 0;
    const char* p = a;
    while (p < stop) {
        const auto lead = static_cast<unsigned char>(*p);
        if (lead < 0x80) {
            offsets[n] = static_cast<std::uint32_t>(p - a);
            points[n++] = lead;
            ++p;
            continue;
        }
        const std::size_t length = ValidUtf8Length(p, last);
        if (length == 0)
            break;
        CodePoint c = length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        for (std::size_t i = 1; i < length; ++i)
            c = (c << 6) | (static_cast<unsigned char>(p[i]) & 0x3F);
        offsets[n] = static_cast<std::uint32_t>(p - a);
        points[n++] = c;
        p += length;
    }
    offsets[n] = static_cast<std::uint32_t>(p - a);
    d.size = n;
    return p;
}

DecodedStretch& ThreadStretch()
{
    static thread_local DecodedStretch stretch;
    return stretch;
}

// The one-letter general categories under their full names: the engine's
// own names read \p{L} as lower case and \p{S} as space, and it knows no
// N, P, Z, M or C.
const char* UnicodeCategoryName(const std::string& name)
{
    static const char* const names[][2] = {{"L", "letter"},      {"S", "symbol"},    {"N", "number"}, {"M", "mark"},
                                           {"P", "punctuation"}, {"Z", "separator"}, {"C", "other"}};
    for (const auto& known : names) {
        if (name == known[0])
            return known[1];
    }
    return nullptr;
}

void AppendCodePoint(std::string& out, std::int32_t c)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    do {
        hex.insert(hex.begin(), digits[c & 0xF]);
        c >>= 4;
    } while (c != 0);
    out += "\\x{" + hex + "}";
}

// The code point ranges of the script (by Script_Extensions) named `name`;
// false when `name` is no script or is a name the engine knows itself (a
// general category such as L or Lu).
using Ranges = std::vector<UnicodeTables::CodePointRange>;
using ScriptLookup = bool (*)(const std::string& name, Ranges& ranges);

bool TableScriptRanges(const std::string& name, Ranges& ranges)
{
    return !UnicodeTables::IsCategoryName(name) && UnicodeTables::ScriptRangesOf(name, ranges) && !ranges.empty();
}

#if defined(QUORVEX_HAVE_ICU)
bool IcuScriptRanges(const std::string& name, Ranges& ranges)
{
    if (u_getPropertyValueEnum(UCHAR_GENERAL_CATEGORY_MASK, name.c_str()) != UCHAR_INVALID_CODE)
        return false;
    const int script = u_getPropertyValueEnum(UCHAR_SCRIPT, name.c_str());
    if (script == UCHAR_INVALID_CODE)
        return false;
    UErrorCode status = U_ZERO_ERROR;
    USet* set = uset_openEmpty();
    uset_applyIntPropertyValue(set, UCHAR_SCRIPT_EXTENSIONS, script, &status);
    if (U_FAILURE(status) || uset_isEmpty(set)) {
        uset_close(set);
        return false;
    }
    const std::int32_t count = uset_getItemCount(set);
    for (std::int32_t i = 0; i < count; ++i) {
        UChar32 low = 0;
        UChar32 high = 0;
        UErrorCode itemStatus = U_ZERO_ERROR;
        if (uset_getItem(set, i, &low, &high, nullptr, 0, &itemStatus) != 0)
            continue;  // a string item, never part of a script's set
        ranges.push_back({static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high)});
    }
    uset_close(set);
    return true;
}
#endif

// Whether the expression may change case folding itself: an option group
// "(?...i...)" or "(?...i...:".
bool MayFoldInline(const std::string& text)
{
    for (std::size_t at = text.find("(?"); at != std::string::npos; at = text.find("(?", at + 2)) {
        for (std::size_t i = at + 2; i < text.size() && text[i] != ':' && text[i] != ')'; ++i) {
            if (text[i] == 'i')
                return true;
            if (!std::isalpha(static_cast<unsigned char>(text[i])) && text[i] != '-')
                break;
        }
    }
    return false;
}

// The code points of `ranges` (of their complement when `negated`) as the
// engine tests them inside a bracket expression that ignores case: folded.
// A subject's character is taken when its folding is in the result, that is
// when it is one letter (by simple case folding) with a member.
Ranges FoldedRanges(const Ranges& ranges, bool negated)
{
    namespace T = UnicodeTables;
    constexpr std::uint32_t size = 0x110000;
    std::vector<std::uint64_t> bits(size / 64, 0);
    const auto has = [&bits](std::uint32_t c) { return ((bits[c >> 6] >> (c & 63)) & 1u) != 0; };
    for (const auto& r : ranges)
        for (std::uint32_t c = r.first; c <= r.last && c < size; ++c)
            bits[c >> 6] |= std::uint64_t(1) << (c & 63);
    if (negated)
        for (auto& word : bits)
            word = ~word;
    // Only the code points of the folding runs change under folding.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> folds;
    for (std::size_t i = 0; i < T::caseFoldCount; ++i) {
        const T::CaseFoldRange& run = T::caseFolds[i];
        for (std::uint32_t c = run.first; c <= run.last; c += static_cast<std::uint32_t>(run.step)) {
            const auto folded = static_cast<std::uint32_t>(T::FoldCase(static_cast<std::int32_t>(c)));
            if (folded != c && has(c))
                folds.emplace_back(c, folded);
        }
    }
    for (const auto& f : folds)
        bits[f.first >> 6] &= ~(std::uint64_t(1) << (f.first & 63));
    for (const auto& f : folds)
        bits[f.second >> 6] |= std::uint64_t(1) << (f.second & 63);
    Ranges out;
    for (std::uint32_t c = 0; c < size; ++c) {
        if (!has(c))
            continue;
        const std::uint32_t first = c;
        while (c + 1 < size && has(c + 1))
            ++c;
        out.push_back({first, c});
    }
    return out;
}

// The ranges as the inside of a bracket expression.
std::string RangesText(const Ranges& ranges)
{
    std::string inside;
    for (const auto& r : ranges) {
        AppendCodePoint(inside, static_cast<std::int32_t>(r.first));
        if (r.last != r.first) {
            inside += '-';
            AppendCodePoint(inside, static_cast<std::int32_t>(r.last));
        }
    }
    return inside;
}

// The expression with each \p{Script} and \P{Script} rewritten, since the
// engine's own class names do not cover scripts; one-letter categories
// (\pL, \p{N}) get their full names, and inside a bracket expression a
// category is written as a class name ([:Lu:], [:^Lu:]). With `own` (not null), a
// script becomes one of the expression's own classes ([:<marker>n:], see
// OwnClasses), its complement for \P, listed in `own`: one mask bit each,
// while bits are free. Otherwise (and inside a bracket expression when an
// option group may change case folding) it is written out as its ranges:
// \p{Script} adds them to a bracket expression, \P{Script} there cannot be
// written out and is refused. False, with the reason in `why`, on refusal.
bool ExpandScripts(const std::string& text, unsigned legacy, ScriptLookup scriptRanges,
                   std::vector<OwnClassSource>* own, std::string& out, std::string& why)
{
    using namespace LegacySyntax;
    out.clear();
    if ((legacy & literal) != 0 || (text.find("\\p") == std::string::npos && text.find("\\P") == std::string::npos)) {
        out = text;
        return true;
    }
    const bool escapesInSets = (legacy & escape_in_lists) != 0;
    const bool perl = (TranslateSyntaxFlags(legacy) & boost::regbase::basic_syntax_group) == 0;
    const bool caseless = (legacy & icase) != 0;
    const bool inlineFolding = perl && MayFoldInline(text);
    std::vector<std::string> ownNames;  // the script name and sign of each own class
    bool inSet = false;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (!inSet && c == '[') {
            inSet = true;
            out += c;
            ++i;
            if (i < n && text[i] == '^')
                out += text[i++];
            if (i < n && text[i] == ']')
                out += text[i++];  // a leading ] is a member
            continue;
        }
        if (inSet && c == '[' && i + 1 < n && (text[i + 1] == ':' || text[i + 1] == '=' || text[i + 1] == '.')) {
            const std::string close = std::string(1, text[i + 1]) + "]";
            const std::size_t end = text.find(close, i + 2);
            const std::size_t stop = end == std::string::npos ? n : end + 2;
            out.append(text, i, stop - i);
            i = stop;
            continue;
        }
        if (inSet && c == ']') {
            inSet = false;
            out += c;
            ++i;
            continue;
        }
        if (c != '\\' || i + 1 >= n || (inSet && !escapesInSets)) {
            out += c;
            ++i;
            continue;
        }
        const char e = text[i + 1];
        if (!inSet && e == 'Q') {
            // Quoted text up to \E is taken as it is.
            const std::size_t end = text.find("\\E", i + 2);
            const std::size_t stop = end == std::string::npos ? n : end + 2;
            out.append(text, i, stop - i);
            i = stop;
            continue;
        }
        if ((e == 'p' || e == 'P') && i + 2 < n) {
            // \pL or \p{L}: a one-letter general category under its full name.
            const bool braced = text[i + 2] == '{';
            const std::size_t end = braced ? text.find('}', i + 3) : i + 3;
            const std::string name =
                end == std::string::npos ? std::string() : text.substr(braced ? i + 3 : i + 2, end - (braced ? i + 3 : i + 2));
            const char* full = UnicodeCategoryName(name);
            Ranges script;
            if (inSet && !name.empty() && name.find_first_of(":[]^") == std::string::npos &&
                !(braced && scriptRanges(name, script))) {
                // The engine reads \p inside a bracket expression as the
                // letter p: a category there is written as a class name.
                out += std::string("[:") + (e == 'P' ? "^" : "") + (full != nullptr ? full : name.c_str()) + ":]";
                i = braced ? end + 1 : end;
                continue;
            }
            if (full != nullptr) {
                out += std::string("\\") + e + "{" + full + "}";
                i = braced ? end + 1 : end;
                continue;
            }
        }
        const std::size_t close = (e == 'p' || e == 'P') && i + 2 < n && text[i + 2] == '{' ? text.find('}', i + 3)
                                                                                           : std::string::npos;
        Ranges ranges;
        const std::string name = close == std::string::npos ? std::string() : text.substr(i + 3, close - i - 3);
        if (close == std::string::npos || !scriptRanges(name, ranges)) {
            out.append(text, i, 2);
            i += 2;
            continue;
        }
        i = close + 1;
        // An own class, where its bit is free: outside a bracket expression a
        // script is matched as it stands even when ignoring case (see below);
        // inside one that ignores case the engine tests the folded character,
        // so the class holds the foldings of its members. Inside a bracket
        // expression where an option group may change folding, neither is
        // known to hold.
        const bool folded = inSet && caseless;
        if (own != nullptr && perl && !(inSet && inlineFolding)) {
            const std::string key = std::string(folded ? "f" : "") + e + name;
            std::size_t index = static_cast<std::size_t>(std::find(ownNames.begin(), ownNames.end(), key) - ownNames.begin());
            if (index == ownNames.size() && index < static_cast<std::size_t>(UnicodeClasses::ownClassCount)) {
                ownNames.push_back(key);
                if (folded)
                    own->push_back({FoldedRanges(ranges, e == 'P'), false});
                else
                    own->push_back({std::move(ranges), e == 'P'});
            }
            if (index < ownNames.size()) {
                std::string cls = "[:";
                AppendUtf8(cls, static_cast<std::uint32_t>(UnicodeClasses::ownClassMarker));
                cls += std::to_string(index) + ":]";
                out += inSet ? cls : (caseless || inlineFolding ? "(?-i:[" + cls + "])" : "[" + cls + "]");
                continue;
            }
        }
        if (inSet && e == 'P') {
            why = "A negated script class (\\P{...}) inside a bracket expression is not supported in Unicode mode"
                  " past " + std::to_string(UnicodeClasses::ownClassCount) +
                  " scripts in one expression, nor with an option group that may change case";
            return false;
        }
        if (!escapesInSets) {
            why = "Script classes (\\p{...}) need backslash escapes inside bracket expressions in Unicode mode";
            return false;
        }
        if (inSet) {
            out += RangesText(ranges);
        } else {
            // Ignoring case, the engine folds a range's ends, which may turn
            // a script's range around; a script holds its letters' other
            // cases, so its class is matched as it stands.
            const bool unfolded = caseless && perl;
            out += std::string(unfolded ? "(?-i:" : "") + (e == 'P' ? "[^" : "[") + RangesText(ranges) + "]" +
                   (unfolded ? ")" : "");
        }
    }
    return true;
}

// The set that holds the first code point of every match, where the
// expression says it plainly: it begins with a script class \p{Script} or
// \P{Script} that is not optional, in the normal syntax, case counting, with
// no alternation, no group with options or looking behind, and no \G or \Q.
// Then no match attempt can succeed at a code point outside the set, and a
// search may begin at the first code point in it (the text before it seen
// as the previous text). False when not known.
bool StartScript(const std::string& text, unsigned legacy, ScriptLookup scriptRanges, Ranges& ranges,
                 bool& negated)
{
    using namespace LegacySyntax;
    if ((legacy & (literal | icase)) != 0 || (legacy & escape_in_lists) == 0 ||
        (TranslateSyntaxFlags(legacy) & boost::regbase::basic_syntax_group) != 0)
        return false;
    if (text.size() < 5 || text[0] != '\\' || (text[1] != 'p' && text[1] != 'P') || text[2] != '{' ||
        text.find('|') != std::string::npos || text.find("(?") != std::string::npos ||
        text.find("\\G") != std::string::npos || text.find("\\Q") != std::string::npos ||
        text.find("\\K") != std::string::npos)
        return false;
    const std::size_t close = text.find('}', 3);
    if (close == std::string::npos || !scriptRanges(text.substr(3, close - 3), ranges))
        return false;
    // Not optional: no ?, * or a repeat that may be 0 after it.
    const std::size_t next = close + 1;
    if (next < text.size()) {
        const char q = text[next];
        if (q == '?' || q == '*')
            return false;
        if (q == '{' && (next + 1 >= text.size() || text[next + 1] < '1' || text[next + 1] > '9'))
            return false;
    }
    negated = text[1] == 'P';
    return true;
}

// Whether every match starts a fixed number of code points before an
// occurrence of a literal text: the expression begins with atoms that each
// take exactly one code point (., a character, \w \W \d \D \s \S, \p{..} and
// \P{..}, \x{..}, a bracket expression without collating elements or
// equivalence classes), each once or repeated an exact number of times
// ({n}), some of them plain characters that are not repeated: the longest
// run of those is the text, `width` the code points before it (`.{3}é`: 3
// and é).
// In the normal syntax, case counting, with no alternation, no group with
// options or looking around, no verb such as (*SKIP), and no \G, \K or \Q
// anywhere (what follows the text may be anything else). False when not
// known.
bool StartBeforeText(const std::string& t, unsigned legacy, std::size_t& width, std::string& text)
{
    using namespace LegacySyntax;
    if ((legacy & (literal | icase | newline_alt)) != 0 || (legacy & escape_in_lists) == 0 ||
        (TranslateSyntaxFlags(legacy) & boost::regbase::basic_syntax_group) != 0)
        return false;
    const std::size_t npos = std::string::npos;
    if (t.find('|') != npos || t.find("(?") != npos || t.find("(*") != npos || t.find("\\G") != npos ||
        t.find("\\K") != npos || t.find("\\Q") != npos || t.find('\n') != npos || t.find('\r') != npos)
        return false;
    const auto plain = [](unsigned char c) {
        return c >= 0x20 && c < 0x7F && std::strchr(".[]{}()\\*+?|^$#", c) == nullptr;
    };
    std::size_t before = 0;      // code points of the atoms before `run`
    std::size_t textWidth = 0;   // code points of `run`
    std::string run;             // the last run of plain characters
    std::string best;            // the longest run so far, `bestWidth` after the start
    std::size_t bestWidth = 0;
    const auto closeRun = [&] {
        if (run.size() > best.size()) {
            best = run;
            bestWidth = before;
        }
        before += textWidth;
        run.clear();
        textWidth = 0;
    };
    std::size_t i = 0;
    const std::size_t n = t.size();
    while (i < n) {
        // One atom: [i, next), a plain character (its bytes in `character`)
        // or a class of one code point.
        const auto c = static_cast<unsigned char>(t[i]);
        std::size_t next = 0;
        std::string character;
        if (c >= 0x80) {
            next = i + ValidUtf8Length(t.data() + i, t.data() + n);
            character.assign(t, i, next - i);
        } else if (plain(c)) {
            next = i + 1;
            character.assign(1, t[i]);
        } else if (c == '.') {
            next = i + 1;
        } else if (c == '\\' && i + 1 < n) {
            const char e = t[i + 1];
            if (std::strchr("wWdDsS", e) != nullptr) {
                next = i + 2;
            } else if ((e == 'p' || e == 'P' || e == 'x') && i + 2 < n && t[i + 2] == '{') {
                const std::size_t close = t.find('}', i + 3);
                if (close == npos)
                    return false;
                next = close + 1;
            } else if ((e == 'p' || e == 'P') && i + 2 < n && std::isalpha(static_cast<unsigned char>(t[i + 2]))) {
                next = i + 3;
            } else if (std::strchr(".\\/-[](){}*+?^$#", e) != nullptr) {
                next = i + 2;
                character.assign(1, e);
            } else {
                break;
            }
        } else if (c == '[') {
            std::size_t j = i + 1;
            if (j < n && t[j] == '^')
                ++j;
            if (j < n && t[j] == ']')
                ++j;  // a leading ] is a member
            for (;;) {
                if (j >= n)
                    return false;
                if (t[j] == ']')
                    break;
                if (t[j] == '\\') {
                    j += 2;
                } else if (t[j] == '[' && j + 1 < n && t[j + 1] == ':') {
                    const std::size_t close = t.find(":]", j + 2);
                    if (close == npos)
                        return false;
                    j = close + 2;
                } else if (t[j] == '[' && j + 1 < n && (t[j + 1] == '.' || t[j + 1] == '=')) {
                    return false;  // may take more than one code point, or need a collator
                } else {
                    ++j;
                }
            }
            next = j + 1;
        } else {
            break;
        }
        if (next <= i)
            return false;
        // Its repeat: none, or an exact count {n} that is neither lazy nor
        // possessive. Anything else ends the fixed part before the atom.
        std::size_t count = 1;
        if (next < n && (t[next] == '*' || t[next] == '+' || t[next] == '?'))
            break;
        if (next < n && t[next] == '{') {
            std::size_t j = next + 1;
            std::size_t value = 0;
            while (j < n && j < next + 5 && std::isdigit(static_cast<unsigned char>(t[j])))
                value = 10 * value + static_cast<std::size_t>(t[j++] - '0');
            if (j == next + 1 || j >= n || t[j] != '}' || (j + 1 < n && (t[j + 1] == '?' || t[j + 1] == '+')))
                break;
            count = value;
            next = j + 1;
            character.clear();  // repeated: counted before any text
        }
        if (!character.empty()) {
            run += character;
            ++textWidth;
        } else {
            closeRun();
            before += count;
        }
        i = next;
    }
    closeRun();
    if (best.empty())
        return false;
    width = bestWidth;
    text = best;
    return true;
}

// Whether no match can hold anything but word code points, and every match
// holds a literal text: the expression is made of \w, word characters (by
// `isWord`, the engine's own \w), the word edges \b \B \< \>, groups and
// repeats of them, and the longest run of word characters outside any group
// and any repeat is the text (`\w+ость\b`: ость). In the normal syntax, case
// counting, with no alternation, no group with options or looking around, no
// verb, and no \G, \K or \Q. Then a match holding an occurrence of the text
// starts in the run of word code points around it. False when not known.
template <class IsWord>
bool WordsAroundText(const std::string& t, unsigned legacy, IsWord isWord, std::string& text)
{
    using namespace LegacySyntax;
    if ((legacy & (literal | icase | newline_alt)) != 0 || (legacy & escape_in_lists) == 0 ||
        (TranslateSyntaxFlags(legacy) & boost::regbase::basic_syntax_group) != 0)
        return false;
    const std::size_t npos = std::string::npos;
    if (t.find('|') != npos || t.find("(?") != npos || t.find("(*") != npos)
        return false;
    // A repeat at t[i]: its length (`*`, `+?`, `{2,5}`...), or 0.
    const auto repeat = [&](std::size_t i) -> std::size_t {
        if (i >= t.size())
            return 0;
        std::size_t j = i;
        if (t[j] == '*' || t[j] == '+' || t[j] == '?') {
            ++j;
        } else if (t[j] == '{') {
            j = t.find('}', i);
            if (j == npos || t.find_first_not_of("0123456789,", i + 1) != j || j == i + 1 || t[i + 1] == ',')
                return 0;
            ++j;
        } else {
            return 0;
        }
        if (j < t.size() && (t[j] == '?' || t[j] == '+'))
            ++j;  // lazy or possessive
        return j - i;
    };
    std::string run, best;
    int depth = 0;
    std::size_t i = 0;
    while (i < t.size()) {
        const auto c = static_cast<unsigned char>(t[i]);
        std::size_t next = i + 1;
        std::string character;  // a word character written as itself
        if (c == '(' || c == ')') {
            depth += c == '(' ? 1 : -1;
            if (depth < 0)
                return false;
        } else if (c == '\\' && i + 1 < t.size()) {
            const char e = t[i + 1];
            if (std::strchr("wbB<>", e) == nullptr)
                return false;
            next = i + 2;
        } else {
            std::uint32_t point = c;
            if (c >= 0x80) {
                const std::size_t length = ValidUtf8Length(t.data() + i, t.data() + t.size());
                if (length == 0)
                    return false;
                point = length == 2 ? (c & 0x1Fu) : length == 3 ? (c & 0x0Fu) : (c & 0x07u);
                for (std::size_t k = 1; k < length; ++k)
                    point = (point << 6) | (static_cast<unsigned char>(t[i + k]) & 0x3Fu);
                next = i + length;
            } else if (std::strchr(".[]{}()\\*+?|^$#", c) != nullptr) {
                return false;
            }
            if (!isWord(point))
                return false;
            character.assign(t, i, next - i);
        }
        const std::size_t repeated = repeat(next);
        if (!character.empty() && repeated == 0 && depth == 0) {
            run += character;
        } else {
            if (run.size() > best.size())
                best = run;
            run.clear();
        }
        i = next + repeated;
    }
    if (run.size() > best.size())
        best = run;
    if (depth != 0 || best.empty())
        return false;
    text = best;
    return true;
}

// One compiled expression over code points, whatever the traits.
class Backend {
public:
    virtual ~Backend() = default;
    // Compiles; returns the engine's status.
    virtual int Assign(const std::vector<CodePoint>& points, boost::regex_constants::syntax_option_type flags) = 0;
    virtual unsigned MarkCount() const = 0;
    virtual bool IgnoresCase() const = 0;
    virtual bool Search(Iterator from, Iterator to, Results& r, rc::match_flag_type flags, Iterator base) const = 0;
    virtual bool Match(Iterator from, Iterator to, Results& r, rc::match_flag_type flags) const = 0;
    virtual void Grep(const std::function<bool(const Results&)>& onMatch, Iterator from, Iterator to,
                      rc::match_flag_type flags) const = 0;
    virtual void Grep(const std::function<bool(const PointResults&)>& onMatch, const CodePoint* from,
                      const CodePoint* to, rc::match_flag_type flags) const = 0;
    // Gives `m` the expression's names of sub-expressions.
    virtual void NameSubs(boost::cmatch& m) const = 0;
    // Whether the engine's \w takes `c`.
    virtual bool IsWord(CodePoint c) const = 0;
};

template <class Traits>
class BackendOver final : public Backend {
public:
    int Assign(const std::vector<CodePoint>& points, boost::regex_constants::syntax_option_type flags) override
    {
        // `points` ends with a terminator that is not part of the expression.
        expression_.assign(points.data(), points.data() + points.size() - 1, flags);
        static const CodePoint w[] = {'w'};
        wordClass_ = expression_.get_traits().lookup_classname(w, w + 1);
        return expression_.status();
    }
    unsigned MarkCount() const override { return static_cast<unsigned>(expression_.mark_count()); }
    bool IgnoresCase() const override { return (expression_.flags() & boost::regbase::icase) != 0; }
    bool Search(Iterator from, Iterator to, Results& r, rc::match_flag_type flags, Iterator base) const override
    {
        return boost::regex_search(from, to, r, expression_, flags, base);
    }
    bool Match(Iterator from, Iterator to, Results& r, rc::match_flag_type flags) const override
    {
        return boost::regex_match(from, to, r, expression_, flags);
    }
    void Grep(const std::function<bool(const Results&)>& onMatch, Iterator from, Iterator to,
              rc::match_flag_type flags) const override
    {
        boost::regex_grep(onMatch, from, to, expression_, flags);
    }
    void Grep(const std::function<bool(const PointResults&)>& onMatch, const CodePoint* from, const CodePoint* to,
              rc::match_flag_type flags) const override
    {
        boost::regex_grep(onMatch, from, to, expression_, flags);
    }
    void NameSubs(boost::cmatch& m) const override { m.set_named_subs(expression_.get_named_subs()); }
    bool IsWord(CodePoint c) const override { return expression_.get_traits().isctype(c, wordClass_); }

private:
    boost::basic_regex<CodePoint, Traits> expression_;
    typename Traits::char_class_type wordClass_{};  // the engine's \w, looked up once
};

#if defined(QUORVEX_HAVE_ICU)

// The engine's ICU traits, with case ignored by Unicode simple case folding
// (so that Σ, σ and ς, or K and the Kelvin sign, are one letter) rather than
// by lower-casing, which some releases use.
class FoldingTraits : public boost::icu_regex_traits {
public:
    char_type translate_nocase(char_type c) const { return ::u_foldCase(c, U_FOLD_CASE_DEFAULT); }
    char_type translate(char_type c) const { return c; }
    char_type translate(char_type c, bool icase) const { return icase ? translate_nocase(c) : c; }
    // The expression's own classes (its scripts) beside ICU's.
    char_class_type lookup_classname(const char_type* p1, const char_type* p2) const
    {
        if (const char_class_type m = own_.Lookup(p1, p2))
            return m;
        return icu_regex_traits::lookup_classname(p1, p2);
    }
    bool isctype(char_type c, char_class_type f) const
    {
        if ((f & UnicodeClasses::ownBits) != 0) {
            if (own_.Test(c, f))
                return true;
            f &= ~UnicodeClasses::ownBits;
            if (f == 0)
                return false;
        }
        return icu_regex_traits::isctype(c, f);
    }

private:
    mutable OwnClasses own_;
};
using IcuOrTableTraits = FoldingTraits;
const ScriptLookup IcuOrTableScriptRanges = IcuScriptRanges;

// Whether the generated tables serve instead of ICU: set the environment
// variable QUORVEX_UNICODE_TABLES (to anything but 0) to run the table
// backend, as a build without ICU does, for comparing the two.
bool UseTables()
{
    static const bool tables = [] {
        const char* value = std::getenv("QUORVEX_UNICODE_TABLES");
        return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    }();
    return tables;
}

#else

using IcuOrTableTraits = UnicodeTableTraits;
const ScriptLookup IcuOrTableScriptRanges = TableScriptRanges;
bool UseTables() { return true; }

#endif

}  // namespace

bool UnicodeAvailable() { return true; }

namespace {

// The occurrences of a literal text in [first, last), left to right, each
// with the valid stretch [a, b) that holds it: a valid text occurs in the
// bytes only as whole code points of a valid stretch. Found by the text's
// last byte and compared whole.
class Occurrences {
public:
    Occurrences(const std::string& text, const char* first, const char* last)
        : a(first), text_(text), last_(last), p_(first + (text.size() - 1))
    {
    }

    // The start of the next occurrence that starts at or after `from`, or
    // null; `a` and `b` are then its stretch.
    const char* Next(const char* from)
    {
        const std::size_t size = text_.size();
        if (static_cast<std::size_t>(last_ - from) < size)
            return nullptr;
        if (p_ < from + (size - 1))
            p_ = from + (size - 1);
        const auto tail = static_cast<unsigned char>(text_.back());
        while (p_ < last_) {
            const void* hit = std::memchr(p_, tail, static_cast<std::size_t>(last_ - p_));
            if (hit == nullptr)
                return nullptr;
            const char* const at = static_cast<const char*>(hit) - (size - 1);
            p_ = static_cast<const char*>(hit) + 1;
            if (std::memcmp(at, text_.data(), size - 1) != 0)
                continue;
            if (b == nullptr)
                b = StretchEnd(a, last_);
            while (b <= at) {
                a = SkipBroken(b, last_);
                b = StretchEnd(a, last_);
            }
            return at;
        }
        return nullptr;
    }

    const char* a;            // the stretch of the last occurrence
    const char* b = nullptr;  // (its end found when first needed)

private:
    const std::string& text_;
    const char* last_;
    const char* p_;  // where the search for the text's last byte goes on
};

}  // namespace

struct UnicodeExpression::Engine {
    std::unique_ptr<Backend> backend;
    // The set of every match's first code point, when known (StartScript).
    std::unique_ptr<CodePointSet> startSet;
    // The text every match holds a fixed number of code points after its
    // start (StartBeforeText); empty when not known.
    std::string startText;
    std::size_t startWidth = 0;
    // The text every match holds among word code points only
    // (WordsAroundText); empty when not known.
    std::string wordText;

    // The first match in the valid stretch [a, b) of the subject [first,
    // last) from the boundary `from` on, as a byte result whose prefix
    // starts at `prefixStart`, whose suffix runs to the subject's end and
    // whose positions count from the subject's start.
    bool FindIn(const char* first, const char* last, const char* a, const char* b, const char* from,
                const char* prefixStart, rc::match_flag_type flags, boost::cmatch& m) const
    {
        rc::match_flag_type f = flags;
        if (from == a) {
            f &= ~rc::match_prev_avail;
            // Right after a broken sequence is no line or text start.
            if (a != first)
                f |= rc::match_not_bol | rc::match_not_bob;
        } else {
            f |= rc::match_prev_avail;
        }
        if (b != last)
            f |= rc::match_not_eol | rc::match_not_eob;
        Results r;
        if (!backend->Search(Iterator(from, a, b), Iterator(b, a, b), r, f, Iterator(a, a, b)))
            return false;
        Copy(r, first, last, prefixStart, m);
        return true;
    }

    // The engine's grep over [first, last) for an expression with a start
    // text (see StartBeforeText): each match starts `startWidth` code points
    // before an occurrence of the text in the same valid stretch, so the
    // engine runs anchored only there, occurrences taken left to right, a
    // start before the end of the last match skipped, the text before each
    // start seen as the previous text. Those are the starts where the
    // engine's own search finds its matches, and none of its matches is
    // empty. `deliver` hands `m` out and answers whether to go on;
    // `prefixStart` is where the text before the next match begins.
    template <class Deliver>
    void GrepBeforeText(const char* first, const char* last, rc::match_flag_type flags, const char* const& prefixStart,
                        boost::cmatch& m, Deliver deliver) const
    {
        Occurrences occurrences(startText, first, last);
        const char* from = first;  // no match starts before this
        while (const char* const at = occurrences.Next(from)) {
            const char* start = at;
            bool room = true;
            for (std::size_t k = 0; k < startWidth && room; ++k) {
                if (start == occurrences.a) {
                    room = false;
                } else {
                    --start;
                    while ((static_cast<unsigned char>(*start) & 0xC0u) == 0x80u)
                        --start;
                }
            }
            if (!room || start < from ||
                !FindIn(first, last, occurrences.a, occurrences.b, start, prefixStart, flags | rc::match_continuous, m))
                continue;
            if (!deliver())
                return;
            from = m[0].second;
        }
    }

    // The engine's grep over [first, last) for an expression with a word
    // text (see WordsAroundText): no match holds anything but word code
    // points, so one that holds the next occurrence of the text starts in
    // the run of word code points before it, and none starts earlier (it
    // would hold the code point before that run, or an earlier occurrence).
    // The engine searches from that run's start, the text before seen as
    // the previous text; a search that finds nothing there finds nothing in
    // the rest of the valid stretch. Arguments as for GrepBeforeText.
    template <class Deliver>
    void GrepInWords(const char* first, const char* last, rc::match_flag_type flags, const char* const& prefixStart,
                     boost::cmatch& m, Deliver deliver) const
    {
        Occurrences occurrences(wordText, first, last);
        const char* from = first;  // no match starts before this
        const auto continuation = [](const char* q) { return (static_cast<unsigned char>(*q) & 0xC0u) == 0x80u; };
        while (const char* const at = occurrences.Next(from)) {
            // Back over the word code points before the occurrence.
            const char* start = at;
            const char* const floor = from > occurrences.a ? from : occurrences.a;
            while (start != floor) {
                const char* lead = start - 1;
                while (lead != floor && continuation(lead))
                    --lead;
                const auto byte = static_cast<unsigned char>(*lead);
                const std::size_t length = static_cast<std::size_t>(start - lead);
                CodePoint c = length == 1 ? byte : length == 2 ? (byte & 0x1F) : length == 3 ? (byte & 0x0F) : (byte & 0x07);
                for (std::size_t k = 1; k < length; ++k)
                    c = (c << 6) | (static_cast<unsigned char>(lead[k]) & 0x3F);
                if (!backend->IsWord(c))
                    break;
                start = lead;
            }
            if (!FindIn(first, last, occurrences.a, occurrences.b, start, prefixStart, flags, m)) {
                from = occurrences.b;  // nothing more in this stretch
                continue;
            }
            if (!deliver())
                return;
            from = m[0].second;
        }
    }

    // As FindIn, from the boundary `from` of the subject on through its
    // stretches, or (with match_continuous) at `from` only. The stretches
    // are found from the subject's start, so `first` should be near `from`.
    bool Find(const char* first, const char* last, const char* from, const char* prefixStart,
              rc::match_flag_type flags, boost::cmatch& m) const
    {
        const char* a = first;
        for (;;) {
            const char* const b = StretchEnd(a, last);
            if (from <= b) {
                if (FindIn(first, last, a, b, from > a ? from : a, prefixStart, flags, m))
                    return true;
                if ((flags & rc::match_continuous) != 0)
                    return false;
            }
            if (b == last)
                return false;
            a = SkipBroken(b, last);
        }
    }

    // As Copy, for a result over the decoded stretch `d` that starts at the
    // byte `a`.
    void Copy(const PointResults& r, const DecodedStretch& d, const char* a, const char* first, const char* last,
              const char* prefixStart, boost::cmatch& m) const
    {
        const CodePoint* const base = d.points.get();
        m.set_size(r.size(), prefixStart, last);
        m.set_base(first);
        backend->NameSubs(m);
        for (std::size_t i = 0; i < r.size(); ++i) {
            if (r[i].matched || i == 0) {
                m.set_first(a + d.offsets[static_cast<std::size_t>(r[i].first - base)], i);
                m.set_second(a + d.offsets[static_cast<std::size_t>(r[i].second - base)], i, r[i].matched);
            }
        }
    }

    void Copy(const Results& r, const char* first, const char* last, const char* prefixStart,
              boost::cmatch& m) const
    {
        m.set_size(r.size(), prefixStart, last);
        m.set_base(first);
        backend->NameSubs(m);
        for (std::size_t i = 0; i < r.size(); ++i) {
            if (r[i].matched || i == 0) {
                m.set_first(r[i].first.base(), i);
                m.set_second(r[i].second.base(), i, r[i].matched);
            }
        }
    }
};

UnicodeExpression::UnicodeExpression() : engine_(new Engine) {}

UnicodeExpression::~UnicodeExpression() = default;

std::shared_ptr<const UnicodeExpression> UnicodeExpression::Compile(const std::string& text, unsigned legacySyntax)
{
    std::shared_ptr<UnicodeExpression> result(new UnicodeExpression);
    const std::string source = text.substr(0, text.find('\0'));
    result->source_ = source;
    result->syntax_ = legacySyntax;
    if (!IsValidUtf8(source.data(), source.data() + source.size())) {
        result->status_ = rc::error_bad_pattern;
        result->error_ = "The expression is not valid UTF-8";
        return result;
    }
    const bool tables = UseTables();
    std::string expanded;
    // Scripts become the expression's own classes, unless the expression
    // holds their marker itself (then no name is taken for one).
    std::string marker;
    AppendUtf8(marker, static_cast<std::uint32_t>(UnicodeClasses::ownClassMarker));
    std::vector<OwnClassSource> own;
    const bool ownAllowed = source.find(marker) == std::string::npos;
    if (!ExpandScripts(source, legacySyntax, tables ? TableScriptRanges : IcuOrTableScriptRanges,
                       ownAllowed ? &own : nullptr, expanded, result->error_)) {
        result->status_ = rc::error_ctype;
        return result;
    }
    // Ranges compare code points, never collation order.
    const auto flags = TranslateSyntaxFlags(legacySyntax) & ~boost::regbase::collate;
    std::unique_ptr<Backend> backend;
    if (tables)
        backend.reset(new BackendOver<UnicodeTableTraits>);
    else
        backend.reset(new BackendOver<IcuOrTableTraits>);
    try {
        std::vector<CodePoint> points(Iterator(expanded.data(), expanded.data(), expanded.data() + expanded.size()),
                                      Iterator(expanded.data() + expanded.size(), expanded.data(),
                                               expanded.data() + expanded.size()));
        // The engine's parser reads one code point past the end of some
        // unfinished bracket expressions ("[a-+"); a terminator keeps that
        // read inside the buffer, as a string's NUL does in byte mode.
        points.push_back(0);
        UnicodeTableTraits::Refused() = UnicodeTableTraits::none;
        // The own classes are known to the traits while the engine parses.
        struct PendingScope {
            explicit PendingScope(const std::vector<OwnClassSource>* list) { OwnClasses::Pending() = list; }
            ~PendingScope() { OwnClasses::Pending() = nullptr; }
        } pending(ownAllowed ? &own : nullptr);
        result->status_ = backend->Assign(points, flags);
    } catch (const std::exception& failure) {
        // Not expected with no_except; a failure of the Unicode library's
        // own set-up must still come back as a failed compilation.
        result->status_ = rc::error_bad_pattern;
        result->error_ = failure.what();
        return result;
    }
    if (result->status_ != 0) {
        boost::regex_traits<char> traits;
        result->error_ = traits.error_string(static_cast<rc::error_type>(result->status_));
        // What the tables cannot give is named, not left to a syntax error.
        const unsigned refused = UnicodeTableTraits::Refused();
        if ((refused & UnicodeTableTraits::characterName) != 0)
            result->error_ = "Unicode character names (other than the POSIX names) are not available in this build";
        else if ((refused & UnicodeTableTraits::equivalenceClass) != 0)
            result->error_ = "Equivalence classes ([[=x=]]) are not available in this build";
        return result;
    }
    result->engine_->backend = std::move(backend);
    Ranges startRanges;
    bool startNegated = false;
    if (StartScript(source, legacySyntax, tables ? TableScriptRanges : IcuOrTableScriptRanges, startRanges,
                    startNegated))
        result->engine_->startSet.reset(new CodePointSet(startRanges, startNegated));
    if (!StartBeforeText(source, legacySyntax, result->engine_->startWidth, result->engine_->startText))
        result->engine_->startText.clear();
    const Backend& compiled = *result->engine_->backend;
    if (result->engine_->startText.empty() &&
        !WordsAroundText(source, legacySyntax, [&](std::uint32_t c) { return compiled.IsWord(static_cast<CodePoint>(c)); },
                         result->engine_->wordText))
        result->engine_->wordText.clear();
    return result;
}

unsigned UnicodeExpression::MarkCount() const
{
    return status_ == 0 ? engine_->backend->MarkCount() : 0;
}

bool UnicodeExpression::IgnoresCase() const
{
    return status_ == 0 && engine_->backend->IgnoresCase();
}

bool UnicodeExpression::Match(const char* first, const char* last, rc::match_flag_type flags, Anchoring anchoring,
                              boost::cmatch& m, std::string& error) const
{
    if (status_ != 0)
        return false;
    try {
        switch (anchoring) {
        case Anchoring::AtStart:
            return engine_->Find(first, last, first, first, flags | rc::match_continuous, m);
        case Anchoring::Anywhere:
            return engine_->Find(first, last, first, first, flags, m);
        case Anchoring::Whole: {
            // Nothing matches a broken sequence, so a subject with one has no
            // whole match.
            if (!IsValidUtf8(first, last))
                return false;
            Results r;
            if (!engine_->backend->Match(Iterator(first, first, last), Iterator(last, first, last), r, flags))
                return false;
            engine_->Copy(r, first, last, first, m);
            return true;
        }
        }
    } catch (const std::runtime_error& failure) {
        error = failure.what();
    } catch (const std::logic_error& failure) {
        // A decoding failure of the engine's iterator: not expected over
        // validated stretches, but never let out.
        error = failure.what();
    }
    return false;
}

unsigned UnicodeExpression::Grep(const char* first, const char* last, rc::match_flag_type flags,
                                 const std::function<bool(const boost::cmatch&)>& onMatch, std::string& error) const
{
    if (status_ != 0)
        return 0;
    unsigned count = 0;
    const char* lastEnd = first;  // where the text before the next match begins
    bool stop = false;
    bool inCallback = false;
    boost::cmatch m;
    const auto deliver = [&] {
        ++count;
        lastEnd = m[0].second;
        inCallback = true;
        stop = !onMatch(m);
        inCallback = false;
        return !stop;
    };
    // The decoded stretches of this thread, unless a scan further up this
    // thread's stack holds them (a handler that scans again).
    DecodedStretch& shared = ThreadStretch();
    const bool decode = !shared.busy;
    struct Hold {
        DecodedStretch& d;
        bool held;
        ~Hold()
        {
            if (held)
                d.busy = false;
        }
    } hold{shared, decode};
    if (decode)
        shared.busy = true;
    try {
        // A match starts a fixed number of code points before its text: the
        // engine runs only there (not for a match anchored at the start, a
        // partial one, or one that reads the text before the subject).
        if (!engine_->startText.empty() &&
            (flags & (rc::match_continuous | rc::match_partial | rc::match_prev_avail)) == 0) {
            engine_->GrepBeforeText(first, last, flags, lastEnd, m, deliver);
            stop = true;
        } else if (!engine_->wordText.empty() &&
            (flags & (rc::match_continuous | rc::match_partial | rc::match_prev_avail)) == 0) {
            // No match holds anything but word code points: the engine starts
            // at the run of them around each occurrence of its text.
            engine_->GrepInWords(first, last, flags, lastEnd, m, deliver);
            stop = true;
        }
        for (const char* a = first; !stop;) {
            // A stretch short enough is decoded once, in the same pass that
            // finds its end.
            const char* b = decode ? DecodeStretch(a, last, maxDecodedStretch, shared) : a;
            const bool decoded = decode && (b == last || ValidUtf8Length(b, last) == 0);
            if (!decoded)
                b = StretchEnd(b, last);
            rc::match_flag_type f = flags;
            if (a != first)
                f |= rc::match_not_bol | rc::match_not_bob;
            if (b != last)
                f |= rc::match_not_eol | rc::match_not_eob;
            // The engine's own grep over the stretch: one matcher for all its
            // matches, with the engine's rules after an empty match.
            bool reachedEnd = false;
            if (decoded) {
                const CodePoint* const points = shared.points.get();
                const CodePoint* const end = points + shared.size;
                // The engine would try every code point before the first one
                // that can begin a match, and fail there: it starts at that
                // one, with the text before it as the previous text.
                // (Not for a match anchored at the start or a partial one.)
                const CodePoint* from = points;
                bool none = false;
                const CodePointSet* starts = engine_->startSet.get();
                if (starts != nullptr && (f & (rc::match_continuous | rc::match_partial)) == 0) {
                    while (from != end && !starts->Contains(*from))
                        ++from;
                    if (from != points)
                        f |= rc::match_prev_avail | rc::match_not_bob;
                    none = from == end;  // no match in the stretch
                }
                if (!none)
                    engine_->backend->Grep(
                        [&](const PointResults& r) {
                            engine_->Copy(r, shared, a, first, last, lastEnd, m);
                            reachedEnd = m[0].second == b && m[0].first != m[0].second;
                            return deliver();
                        },
                        from, end, f);
            } else {
                engine_->backend->Grep(
                    [&](const Results& r) {
                        engine_->Copy(r, first, last, lastEnd, m);
                        reachedEnd = m[0].second == b && m[0].first != m[0].second;
                        return deliver();
                    },
                    Iterator(a, a, b), Iterator(b, a, b), f);
            }
            // The engine's grep ends at a non-empty match that reaches the
            // end of its range; over the whole subject an empty match could
            // still follow there, before the broken sequence.
            if (!stop && reachedEnd && b != last && engine_->FindIn(first, last, a, b, b, b, flags, m))
                deliver();
            if (b == last)
                break;
            a = SkipBroken(b, last);
        }
    } catch (const std::runtime_error& failure) {
        if (inCallback)
            throw;
        error = failure.what();
    } catch (const std::logic_error& failure) {
        if (inCallback)
            throw;
        error = failure.what();
    }
    return count;
}

bool UnicodeExpression::MatchAt(const char* first, const char* last, const char* at, rc::match_flag_type flags,
                                boost::cmatch& m, std::string& error) const
{
    if (status_ != 0)
        return false;
    try {
        return engine_->Find(first, last, at, at, flags | rc::match_continuous, m);
    } catch (const std::runtime_error& failure) {
        error = failure.what();
    } catch (const std::logic_error& failure) {
        error = failure.what();
    }
    return false;
}

bool UnicodeExpression::StartsInWordsAround(std::string& text) const
{
    if (status_ != 0 || engine_->wordText.empty())
        return false;
    text = engine_->wordText;
    return true;
}

bool UnicodeExpression::StartsBeforeText(std::size_t& width, std::string& text) const
{
    if (status_ != 0 || engine_->startText.empty())
        return false;
    width = engine_->startWidth;
    text = engine_->startText;
    return true;
}

std::vector<std::uint32_t> SimpleCaseVariants(std::uint32_t c)
{
    // Every code point whose simple folding is that of `c`: the folding
    // itself, and the members of the folding runs that land on it. The
    // tables hold ICU's simple folding (checked code point by code point
    // where ICU is at hand), so this answers alike for both backends.
    namespace T = UnicodeTables;
    const std::int32_t folded = T::FoldCase(static_cast<std::int32_t>(c));
    std::vector<std::uint32_t> variants{static_cast<std::uint32_t>(folded)};
    for (std::size_t i = 0; i < T::caseFoldCount; ++i) {
        const T::CaseFoldRange& run = T::caseFolds[i];
        const std::int64_t v = std::int64_t(folded) - run.delta;
        if (v < run.first || v > run.last || (v - run.first) % run.step != 0)
            continue;
        if (T::FoldCase(static_cast<std::int32_t>(v)) == folded)
            variants.push_back(static_cast<std::uint32_t>(v));
    }
    if (std::find(variants.begin(), variants.end(), c) == variants.end())
        variants.push_back(c);
    std::sort(variants.begin(), variants.end());
    variants.erase(std::unique(variants.begin(), variants.end()), variants.end());
    return variants;
}


void UnicodeReplace(std::string& out, const char* first, const char* last, const UnicodeExpression& expression,
                    const std::string& format, const std::locale& locale, rc::match_flag_type flags, bool copyRest,
                    std::string& error)
{
    const boost::regex noTraits;  // the expansion classifies with `locale`
    const char* done = first;
    GrepUnicode(
        expression, first, last, flags,
        [&](const boost::cmatch& m) {
            if (copyRest)
                out.append(done, m[0].first);
            AppendFormat(out, m, format, locale, noTraits);
            done = m[0].second;
            return true;
        },
        error);
    // After a matching error the output ends with the last replacement made.
    if (copyRest && error.empty())
        out.append(done, last);
}

std::string UnicodeContextReplacement(const UnicodeExpression& expression, const std::string& format,
                                      const std::locale& locale, rc::match_flag_type flags, const char* data,
                                      std::size_t size, std::size_t position, const std::string& match)
{
    std::string out;
    std::string error;
    if (data != nullptr && position <= size && match.size() <= size - position) {
        // The lines that hold the match: a window that keeps the work per
        // match in proportion to its lines, not to the file.
        const char* const end = data + size;
        const char* first = data + position;
        while (first != data && first[-1] != '\n')
            --first;
        const char* matchEnd = data + position + match.size();
        const void* feed = std::memchr(matchEnd, '\n', static_cast<std::size_t>(end - matchEnd));
        const char* last = feed == nullptr ? end : static_cast<const char*>(feed);
        boost::cmatch m;
        // ASCII lines: the byte-mode twin finds what the engine finds there,
        // without its decoding (a dense rewrite asks this for every match).
        // Formats that read the text around the match keep the engine's run,
        // whose results span the lines.
        const UnicodeShortcuts& shortcuts = expression.Shortcuts();
        const char* const at = data + position;
        const bool readsAround = format.find_first_of("`'") != std::string::npos ||
                                 format.find("MATCH") != std::string::npos;
        bool found = false;
        if (!readsAround && shortcuts.hasAscii && IsAscii(first, last)) {
            try {
                found = boost::regex_search(at, last, m, shortcuts.ascii,
                                            flags | rc::match_continuous | (at != first ? rc::match_prev_avail : rc::match_default),
                                            first);
            } catch (const std::runtime_error& failure) {
                error = failure.what();
            }
        } else {
            found = expression.MatchAt(first, last, at, flags, m, error);
        }
        if (found && m[0].first == at && m[0].second == matchEnd) {
            AppendFormat(out, m, format, locale, boost::regex());
            return out;
        }
        if (!error.empty())
            throw std::runtime_error(error);
    }
    UnicodeReplace(out, match.data(), match.data() + match.size(), expression, format, locale, flags, true, error);
    if (!error.empty())
        throw std::runtime_error(error);
    return out;
}

SearchEnd SearchUnicodeBuffer(const UnicodeExpression& expression, const SearchPlan* plan, unsigned marks,
                              const char* data, std::size_t size, unsigned flags, MatchSink& sink,
                              std::string& error)
{
    const bool lineMode = (flags & lineModeFlag) != 0;
    const bool firstOnly = lineMode && (flags & firstOfLineFlag) != 0;
    flags &= ~feedOnlyFlag;
    const auto engineFlags = static_cast<rc::match_flag_type>(flags & ~(lineModeFlag | firstOfLineFlag));
    // Lines end only at a line feed, as in byte mode (see RunSearch): each
    // line a single line for the engine, a CRLF line searched first without
    // its carriage return, then whole for the matches that reach past it.
    const auto lineFlags = static_cast<rc::match_flag_type>(engineFlags | rc::match_single_line);
    const char* const end = data + size;

    // Plain texts are found by the byte search in any text: a valid UTF-8
    // text occurs in the bytes only as whole code points of a valid stretch.
    const bool plainSearch = plan != nullptr && plan->plain &&
                             (!lineMode || (!plan->plainLineFeed && !plan->plainCarriageReturn)) &&
                             LiteralFinder::FlagsAllow(flags & ~(lineModeFlag | firstOfLineFlag));
    const auto searchPlain = [&] {
        return plan->plain->Search(data, size, sink, (flags & rc::match_posix) != 0, firstOnly) ? SearchEnd::Finished
                                                                                                : SearchEnd::Stopped;
    };
    // ASCII texts are what the byte-mode twin would look for in ASCII text,
    // so the text need not be checked first; texts with other case spellings
    // (-i "kiss": the Kelvin sign, the long s) cost the twin less there.
    if (plainSearch && !plan->plainBeyondAscii)
        return searchPlain();

    // ASCII text: the byte-mode twin and the search driver give the same,
    // unless the twin gives up on its complexity budget before handing out
    // a match (see MatchUnicode): then the engine searches.
    const UnicodeShortcuts& shortcuts = expression.Shortcuts();
    if (shortcuts.hasAscii && IsAscii(data, end)) {
        struct Counted final : MatchSink {
            explicit Counted(MatchSink& to) : to(to) {}
            bool Take(const std::uint64_t* offsets) override
            {
                ++taken;
                return to.Take(offsets);
            }
            MatchSink& to;
            std::size_t taken = 0;
        } counted(sink);
        std::string twinError;
        const SearchEnd twinEnd =
            RunSearch(shortcuts.ascii, marks, shortcuts.asciiPlan.get(), data, size, flags, counted, twinError);
        if (twinEnd != SearchEnd::Failed || counted.taken != 0) {
            error = twinError;
            return twinEnd;
        }
    }
    if (plainSearch)
        return searchPlain();

    std::vector<std::uint64_t> offsets(2 * static_cast<std::size_t>(marks));
    bool stopped = false;
    const char* lastEnd = data;  // the end of the last match handed out
    const auto take = [&](const boost::cmatch& m) {
        lastEnd = m[0].second;
        for (unsigned i = 0; i < marks; ++i) {
            if (i < m.size() && m[i].matched) {
                offsets[2 * i] = static_cast<std::uint64_t>(m[i].first - data);
                offsets[2 * i + 1] = static_cast<std::uint64_t>(m[i].second - data);
            } else {
                offsets[2 * i] = offsets[2 * i + 1] = noOffset;
            }
        }
        if (!sink.Take(offsets.data())) {
            stopped = true;
            return false;
        }
        return !firstOnly;
    };
    const auto searchLine = [&](const char* line, const char* lineEnd) {
        if (lineEnd == line || lineEnd[-1] != '\r' || expression.Grep(line, lineEnd - 1, lineFlags, take, error) == 0) {
            if (!stopped && error.empty())
                expression.Grep(line, lineEnd, lineFlags, take, error);
            return;
        }
        if (firstOnly || stopped || !error.empty())
            return;
        const char* const from = lastEnd;
        expression.Grep(
            line, lineEnd, lineFlags,
            [&](const boost::cmatch& m) { return m[0].first < from || m[0].second != lineEnd || take(m); }, error);
    };
    if (!lineMode) {
        expression.Grep(data, end, engineFlags, take, error);
    } else if (plan != nullptr && plan->required && !plan->requiredLineFeed &&
               (flags & ~(lineModeFlag | firstOfLineFlag | soundLineFlags)) == 0) {
        // Only the lines holding one of the required texts can hold a match.
        LiteralFinder::Cursor cursor(*plan->required, data, size);
        std::size_t pos = 0;
        while (pos < size && !stopped && error.empty()) {
            std::size_t which = 0;
            const std::size_t at = cursor.Next(pos, which);
            if (at == LiteralFinder::none)
                break;
            const char* line = data + at;
            while (line != data + pos && line[-1] != '\n')
                --line;
            const void* feed = std::memchr(data + at, '\n', size - at);
            const char* lineEnd = feed == nullptr ? end : static_cast<const char*>(feed);
            searchLine(line, lineEnd);
            pos = static_cast<std::size_t>(lineEnd - data) + 1;
        }
    } else {
        // Each line (the bytes before a line feed; the last needs none) is a
        // subject of its own.
        for (const char* line = data; line != end && !stopped && error.empty();) {
            const void* feed = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
            const char* lineEnd = feed == nullptr ? end : static_cast<const char*>(feed);
            searchLine(line, lineEnd);
            line = lineEnd == end ? end : lineEnd + 1;
        }
    }
    if (!error.empty())
        return SearchEnd::Failed;
    return stopped ? SearchEnd::Stopped : SearchEnd::Finished;
}

}  // namespace RegexEngine

// The Unicode (UTF-8) expression: compilation through Boost.Regex's ICU
// integration, and the search over the valid stretches of a subject.
#include "Unicodeexpression.h"

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Expressionanalyser.h"
#include "Substitution.h"
#include "Syntaxflags.h"

#if defined(QUORVEX_HAVE_ICU)
#include <boost/regex/icu.hpp>
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/uset.h>
#endif

namespace RegexEngine {

namespace rc = boost::regex_constants;

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

#if defined(QUORVEX_HAVE_ICU)

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
    while (a != last) {
        if (static_cast<unsigned char>(*a) < 0x80) {
            ++a;
            continue;
        }
        const std::size_t n = ValidUtf8Length(a, last);
        if (n == 0)
            return a;
        a += n;
    }
    return last;
}

using Iterator = boost::u8_to_u32_iterator<const char*, UChar32>;

// The engine's Unicode traits, with case ignored by Unicode simple case
// folding (so that Σ, σ and ς, or K and the Kelvin sign, are one letter)
// rather than by lower-casing, which some releases use.
class FoldingTraits : public boost::icu_regex_traits {
public:
    char_type translate_nocase(char_type c) const { return ::u_foldCase(c, U_FOLD_CASE_DEFAULT); }
    char_type translate(char_type c) const { return c; }
    char_type translate(char_type c, bool icase) const { return icase ? translate_nocase(c) : c; }
};
using Compiled = boost::basic_regex<UChar32, FoldingTraits>;

// The engine's own names for one-letter classes read \p{L} as lower case
// and \p{S} as space; in Unicode they are the letters and the symbols.
const char* UnicodeCategoryName(const std::string& name)
{
    if (name == "L")
        return "letter";
    if (name == "S")
        return "symbol";
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

// The code point ranges of the script (by Script_Extensions) named `name`,
// as the inside of a bracket expression; false when `name` is no script or
// is a name the engine knows itself (a general category such as L or Lu).
bool ScriptRanges(const std::string& name, std::string& inside)
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
        AppendCodePoint(inside, low);
        if (high != low) {
            inside += '-';
            AppendCodePoint(inside, high);
        }
    }
    uset_close(set);
    return true;
}

// The expression with each \p{Script} and \P{Script} written out as the
// script's ranges, which the engine's own class names do not cover. Inside
// a bracket expression \p{Script} adds its ranges; \P{Script} there cannot be
// written out and is refused. False, with the reason in `why`, on refusal.
bool ExpandScripts(const std::string& text, unsigned legacy, std::string& out, std::string& why)
{
    using namespace LegacySyntax;
    out.clear();
    if ((legacy & literal) != 0 || (text.find("\\p{") == std::string::npos && text.find("\\P{") == std::string::npos)) {
        out = text;
        return true;
    }
    const bool escapesInSets = (legacy & escape_in_lists) != 0;
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
            if (const char* full = UnicodeCategoryName(name)) {
                out += std::string("\\") + e + "{" + full + "}";
                i = braced ? end + 1 : end;
                continue;
            }
        }
        const std::size_t close = (e == 'p' || e == 'P') && i + 2 < n && text[i + 2] == '{' ? text.find('}', i + 3)
                                                                                           : std::string::npos;
        std::string inside;
        if (close == std::string::npos || !ScriptRanges(text.substr(i + 3, close - i - 3), inside)) {
            out.append(text, i, 2);
            i += 2;
            continue;
        }
        if (inSet && e == 'P') {
            why = "A negated script class (\\P{...}) inside a bracket expression is not supported in Unicode mode";
            return false;
        }
        if (!escapesInSets) {
            why = "Script classes (\\p{...}) need backslash escapes inside bracket expressions in Unicode mode";
            return false;
        }
        if (inSet)
            out += inside;
        else
            out += (e == 'P' ? "[^" : "[") + inside + "]";
        i = close + 1;
    }
    return true;
}

#endif

}  // namespace

#if defined(QUORVEX_HAVE_ICU)

bool UnicodeAvailable() { return true; }

struct UnicodeExpression::Engine {
    Compiled expression;

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
        boost::match_results<Iterator> r;
        if (!boost::regex_search(Iterator(from, a, b), Iterator(b, a, b), r, expression, f, Iterator(a, a, b)))
            return false;
        Copy(r, first, last, prefixStart, m);
        return true;
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

    void Copy(const boost::match_results<Iterator>& r, const char* first, const char* last, const char* prefixStart,
              boost::cmatch& m) const
    {
        m.set_size(r.size(), prefixStart, last);
        m.set_base(first);
        m.set_named_subs(expression.get_named_subs());
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
    std::string expanded;
    if (!ExpandScripts(source, legacySyntax, expanded, result->error_)) {
        result->status_ = rc::error_ctype;
        return result;
    }
    // Ranges compare code points, never collation order.
    const auto flags = TranslateSyntaxFlags(legacySyntax) & ~boost::regbase::collate;
    try {
        std::vector<UChar32> points(Iterator(expanded.data(), expanded.data(), expanded.data() + expanded.size()),
                                    Iterator(expanded.data() + expanded.size(), expanded.data(),
                                             expanded.data() + expanded.size()));
        result->engine_->expression.assign(points.data(), points.data() + points.size(), flags);
        result->status_ = result->engine_->expression.status();
    } catch (const std::exception& failure) {
        // Not expected with no_except; a failure of the Unicode library's
        // own set-up must still come back as a failed compilation.
        result->engine_->expression = Compiled();
        result->status_ = rc::error_bad_pattern;
        result->error_ = failure.what();
        return result;
    }
    if (result->status_ != 0) {
        boost::regex_traits<char> traits;
        result->error_ = traits.error_string(static_cast<rc::error_type>(result->status_));
    }
    return result;
}

unsigned UnicodeExpression::MarkCount() const
{
    return status_ == 0 ? static_cast<unsigned>(engine_->expression.mark_count()) : 0;
}

bool UnicodeExpression::IgnoresCase() const
{
    return status_ == 0 && (engine_->expression.flags() & boost::regbase::icase) != 0;
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
            boost::match_results<Iterator> r;
            if (!boost::regex_match(Iterator(first, first, last), Iterator(last, first, last), r,
                                    engine_->expression, flags))
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
    try {
        for (const char* a = first; !stop;) {
            const char* const b = StretchEnd(a, last);
            rc::match_flag_type f = flags;
            if (a != first)
                f |= rc::match_not_bol | rc::match_not_bob;
            if (b != last)
                f |= rc::match_not_eol | rc::match_not_eob;
            // The engine's own grep over the stretch: one matcher for all its
            // matches, with the engine's rules after an empty match.
            bool reachedEnd = false;
            boost::regex_grep(
                [&](const boost::match_results<Iterator>& r) {
                    engine_->Copy(r, first, last, lastEnd, m);
                    reachedEnd = m[0].second == b && m[0].first != m[0].second;
                    return deliver();
                },
                Iterator(a, a, b), Iterator(b, a, b), engine_->expression, f);
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

std::vector<std::uint32_t> SimpleCaseVariants(std::uint32_t c)
{
    // The case closure holds full foldings too (ß and "ss"); of its single
    // code points those with the same simple folding as `c` are its variants.
    std::vector<std::uint32_t> variants;
    const UChar32 folded = ::u_foldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT);
    USet* set = uset_open(static_cast<UChar32>(c), static_cast<UChar32>(c));
    uset_closeOver(set, USET_CASE_INSENSITIVE);
    const std::int32_t count = uset_getItemCount(set);
    for (std::int32_t i = 0; i < count; ++i) {
        UChar32 low = 0;
        UChar32 high = 0;
        UErrorCode status = U_ZERO_ERROR;
        if (uset_getItem(set, i, &low, &high, nullptr, 0, &status) != 0)
            continue;  // a string
        for (UChar32 v = low; v <= high; ++v)
            if (::u_foldCase(v, U_FOLD_CASE_DEFAULT) == folded)
                variants.push_back(static_cast<std::uint32_t>(v));
    }
    uset_close(set);
    if (std::find(variants.begin(), variants.end(), c) == variants.end())
        variants.push_back(c);
    std::sort(variants.begin(), variants.end());
    return variants;
}

#else  // no Unicode engine in this build

bool UnicodeAvailable() { return false; }

// Unknown here: the planner then gives up on case-insensitive texts.
std::vector<std::uint32_t> SimpleCaseVariants(std::uint32_t) { return {}; }

struct UnicodeExpression::Engine {};

UnicodeExpression::UnicodeExpression() : engine_(new Engine) {}
UnicodeExpression::~UnicodeExpression() = default;

std::shared_ptr<const UnicodeExpression> UnicodeExpression::Compile(const std::string&, unsigned)
{
    std::shared_ptr<UnicodeExpression> result(new UnicodeExpression);
    result->status_ = rc::error_bad_pattern;
    result->error_ = "Unicode mode is not available in this build";
    return result;
}

unsigned UnicodeExpression::MarkCount() const { return 0; }
bool UnicodeExpression::IgnoresCase() const { return false; }

bool UnicodeExpression::Match(const char*, const char*, rc::match_flag_type, Anchoring, boost::cmatch&,
                              std::string&) const
{
    return false;
}

unsigned UnicodeExpression::Grep(const char*, const char*, rc::match_flag_type,
                                 const std::function<bool(const boost::cmatch&)>&, std::string&) const
{
    return 0;
}

bool UnicodeExpression::MatchAt(const char*, const char*, const char*, rc::match_flag_type, boost::cmatch&,
                                std::string&) const
{
    return false;
}

#endif

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
        if (expression.MatchAt(first, last, data + position, flags, m, error) && m[0].first == data + position &&
            m[0].second == matchEnd) {
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
    // The mode ends lines only at a line feed's place as the engine reads
    // them (a carriage return is a line edge for ^ and $ too).
    flags &= ~feedOnlyFlag;
    const auto engineFlags = static_cast<rc::match_flag_type>(flags & ~(lineModeFlag | firstOfLineFlag));
    const char* const end = data + size;

    // ASCII text: the byte-mode twin and the search driver give the same.
    const UnicodeShortcuts& shortcuts = expression.Shortcuts();
    if (shortcuts.hasAscii && IsAscii(data, end))
        return RunSearch(shortcuts.ascii, marks, shortcuts.asciiPlan.get(), data, size, flags, sink, error);

    // Plain texts are found by the byte search in any text: a valid UTF-8
    // text occurs in the bytes only as whole code points of a valid stretch.
    if (plan != nullptr && plan->plain && (!lineMode || !plan->plainLineFeed) &&
        LiteralFinder::FlagsAllow(flags & ~(lineModeFlag | firstOfLineFlag)))
        return plan->plain->Search(data, size, sink, (flags & rc::match_posix) != 0, firstOnly)
                   ? SearchEnd::Finished
                   : SearchEnd::Stopped;

    std::vector<std::uint64_t> offsets(2 * static_cast<std::size_t>(marks));
    bool stopped = false;
    const auto take = [&](const boost::cmatch& m) {
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
            expression.Grep(line, lineEnd, engineFlags, take, error);
            pos = static_cast<std::size_t>(lineEnd - data) + 1;
        }
    } else {
        // Each line (the bytes before a line feed; the last needs none) is a
        // subject of its own.
        for (const char* line = data; line != end && !stopped && error.empty();) {
            const void* feed = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
            const char* lineEnd = feed == nullptr ? end : static_cast<const char*>(feed);
            expression.Grep(line, lineEnd, engineFlags, take, error);
            line = lineEnd == end ? end : lineEnd + 1;
        }
    }
    if (!error.empty())
        return SearchEnd::Failed;
    return stopped ? SearchEnd::Stopped : SearchEnd::Finished;
}

}  // namespace RegexEngine

// The shortcuts of the Unicode mode: the byte-mode twin of an expression for
// ASCII subjects, and the literal texts that hold in the mode for any
// subject. Both give exactly the Unicode engine's results, never a guess;
// where that is not known, they are left out and the engine runs.
#include "Unicodeexpression.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <locale>

#include "Cpufeatures.h"
#include "Expressionanalyser.h"
#include "Syntaxflags.h"

namespace RegexEngine {

namespace {

namespace rc = boost::regex_constants;

// The text of a whole-text expression as the same text in the normal
// syntax: every ASCII byte that could be an operator is escaped.
std::string Quoted(const std::string& text)
{
    std::string quoted;
    quoted.reserve(2 * text.size());
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x80 && std::strchr("\\^$.|?*+()[]{}", c) != nullptr)
            quoted += '\\';
        quoted += c;
    }
    return quoted;
}

// Whether an ASCII expression finds the same in byte mode (classic locale)
// as in the mode over ASCII subjects: every construct it uses reads ASCII
// characters alike in both. The classes \s (the Unicode one holds the
// separators 1C to 1F), [[:punct:]] (the Unicode one leaves out symbols such
// as $ + < = >) and the other named ones, \p, \x, \h, \v, \l, \u, \X, \N, \G
// and control escapes are left out; so are raw control characters, which
// free spacing could read as space in one mode and not in the other.
bool AsciiTwinPossible(const std::string& text, unsigned syntax)
{
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x7F || (u < 0x20 && c != '\t' && c != '\n'))
            return false;
    }
    if ((syntax & LegacySyntax::literal) != 0)
        return true;
    if (text.find("[:") != std::string::npos || text.find("[=") != std::string::npos ||
        text.find("[.") != std::string::npos)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size())
            continue;
        const char e = text[++i];
        if (std::isalnum(static_cast<unsigned char>(e)) && std::strchr("wWdDbBAzZntrfaeQE123456789", e) == nullptr)
            return false;
    }
    return true;
}

// Decodes valid UTF-8 into code points; false when `text` is not valid.
bool CodePoints(const std::string& text, std::vector<std::uint32_t>& points, std::vector<std::size_t>& starts)
{
    points.clear();
    starts.clear();
    const char* p = text.data();
    const char* const last = p + text.size();
    while (p != last) {
        const std::size_t n = ValidUtf8Length(p, last);
        if (n == 0)
            return false;
        const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])); };
        std::uint32_t c = n == 1 ? byte(0) : n == 2 ? byte(0) & 0x1F : n == 3 ? byte(0) & 0x0F : byte(0) & 0x07;
        for (std::size_t i = 1; i < n; ++i)
            c = (c << 6) | (byte(i) & 0x3F);
        starts.push_back(static_cast<std::size_t>(p - text.data()));
        points.push_back(c);
        p += n;
    }
    starts.push_back(text.size());
    return true;
}

// The spellings of code point `c` a case-insensitive byte search must look
// for: `c` itself and its variants outside ASCII (the search folds ASCII
// letters itself, so one ASCII spelling stands for all). Empty: unknown.
std::vector<std::uint32_t> Spellings(std::uint32_t c)
{
    const std::vector<std::uint32_t> variants = SimpleCaseVariants(c);
    if (variants.empty())
        return {};
    std::vector<std::uint32_t> spellings{c};
    bool ascii = c < 0x80;
    for (const std::uint32_t v : variants) {
        if (v == c || (v < 0x80 && ascii))
            continue;
        ascii = ascii || v < 0x80;
        spellings.push_back(v);
    }
    return spellings;
}

enum class Part { Whole, Prefix, Any };

// `texts` with every case variant spelled out (see Spellings), for a search
// that folds ASCII only. A Prefix or Any set may keep, of each text, a prefix
// or a piece with few variants: every match still holds it. Empty when the
// variants do not fit in the byte search's set of texts.
std::vector<std::string> WithCaseVariants(const std::vector<std::string>& texts, Part part)
{
    if (texts.empty())
        return {};
    const std::size_t budget = LiteralFinder::maxTexts / texts.size();
    std::vector<std::string> out;
    std::vector<std::uint32_t> points;
    std::vector<std::size_t> starts;
    for (const std::string& text : texts) {
        if (!CodePoints(text, points, starts))
            return {};
        std::vector<std::vector<std::uint32_t>> spellings;
        for (const std::uint32_t c : points) {
            spellings.push_back(Spellings(c));
            if (spellings.back().empty())
                return {};
        }
        // The piece [from, to) of code points: the whole text, the longest
        // prefix, or the longest piece in bytes, within the budget.
        std::size_t bestFrom = 0, bestTo = 0;
        const std::size_t n = points.size();
        for (std::size_t from = 0; from < n && (part == Part::Any || from == 0); ++from) {
            std::size_t count = 1, to = from;
            while (to < n && count * spellings[to].size() <= budget)
                count *= spellings[to++].size();
            if (starts[to] - starts[from] > starts[bestTo] - starts[bestFrom]) {
                bestFrom = from;
                bestTo = to;
            }
        }
        if (bestTo == bestFrom || (part == Part::Whole && (bestFrom != 0 || bestTo != n)))
            return {};
        std::vector<std::string> made{std::string()};
        for (std::size_t k = bestFrom; k < bestTo; ++k) {
            std::vector<std::string> next;
            for (const std::string& head : made)
                for (const std::uint32_t c : spellings[k]) {
                    next.push_back(head);
                    AppendUtf8(next.back(), c);
                }
            made.swap(next);
        }
        out.insert(out.end(), made.begin(), made.end());
    }
    return out;
}

bool HoldsByte(const std::vector<std::string>& texts, char byte)
{
    return std::any_of(texts.begin(), texts.end(),
                       [byte](const std::string& t) { return t.find(byte) != std::string::npos; });
}

// The expression in the normal syntax with each repeated non-ASCII character
// made a group of its own, so that byte-mode reading takes it as one
// character (the repeat applies to all its bytes) as the mode does; false where that cannot
// be done or the analysis would not hold in the mode: a non-ASCII character
// in a bracket expression, in quoted text or escaped, and the classes whose
// members differ in the mode although they are few in byte mode (\d, \s,
// the named ones).
bool GroupedForAnalysis(const std::string& text, std::string& out)
{
    out.clear();
    bool inSet = false;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '[' && i + 1 < n && std::strchr(":=.", text[i + 1]) != nullptr)
            return false;
        if (c == '\\') {
            if (i + 1 == n) {
                out += c;
                ++i;
                continue;
            }
            const char e = text[i + 1];
            if (static_cast<unsigned char>(e) >= 0x80 || std::strchr("dsDSpPxXNQ", e) != nullptr)
                return false;
            out.append(text, i, 2);
            i += 2;
            continue;
        }
        if (inSet) {
            if (u >= 0x80)
                return false;
            if (c == ']')
                inSet = false;
            out += c;
            ++i;
            continue;
        }
        if (c == '[') {
            inSet = true;
            out += c;
            ++i;
            if (i < n && text[i] == '^')
                out += text[i++];
            if (i < n && text[i] == ']')
                out += text[i++];
            continue;
        }
        if (u >= 0x80) {
            const std::size_t length = ValidUtf8Length(text.data() + i, text.data() + n);
            if (length == 0)
                return false;
            // A group only where a repeat follows: elsewhere its bytes read
            // as the same text in both modes, and plain text stays plain.
            const bool repeated = i + length < n && std::strchr("*+?{", text[i + length]) != nullptr;
            out += repeated ? "(?:" : "";
            out.append(text, i, length);
            out += repeated ? ")" : "";
            i += length;
            continue;
        }
        out += c;
        ++i;
    }
    return true;
}

// The literal plan of an expression in the mode (see UnicodeShortcuts).
std::unique_ptr<SearchPlan> LiteralPlan(const std::string& source, unsigned syntax, bool icase, unsigned marks)
{
    using namespace LegacySyntax;
    std::string normal = source;
    if ((syntax & literal) != 0) {
        normal = Quoted(source);
    } else if ((syntax & (bk_parens | newline_alt)) != 0 || (syntax & escape_in_lists) == 0) {
        return nullptr;  // not the normal syntax, which the analyser reads
    }
    std::string grouped;
    if (!GroupedForAnalysis(normal, grouped))
        return nullptr;
    boost::regex bytes;
    bytes.imbue(std::locale::classic());
    bytes.assign(grouped, boost::regex::normal | boost::regex::no_except | (icase ? boost::regex::icase : 0));
    if (bytes.status() != 0 || static_cast<unsigned>(bytes.mark_count()) + 1 != marks)
        return nullptr;
    const ExpressionFacts facts = AnalyseExpression(grouped, icase, bytes);
    if (!facts.understood)
        return nullptr;
    const auto variants = [&](const std::vector<std::string>& texts, Part part) {
        return icase ? WithCaseVariants(texts, part) : texts;
    };
    std::unique_ptr<SearchPlan> plan(new SearchPlan());
    const std::locale classic = std::locale::classic();
    if (!facts.plain.empty() && marks == (facts.wholeGroup ? 2u : 1u)) {
        const std::vector<std::string> plain = variants(facts.plain, Part::Whole);
        plan->plain = LiteralFinder::ForTexts(plain, icase, classic);
        plan->plainLineFeed = HoldsByte(plain, '\n');
        plan->plainCarriageReturn = HoldsByte(plain, '\r');
        plan->plainBeyondAscii = std::any_of(plain.begin(), plain.end(), [](const std::string& t) {
            return std::any_of(t.begin(), t.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        });
    }
    const std::vector<std::string> prefixes = variants(facts.prefixes, Part::Prefix);
    plan->prefixes = LiteralFinder::ForTexts(prefixes, icase, classic);
    const std::vector<std::string> required = variants(facts.required, Part::Any);
    plan->required = LiteralFinder::ForTexts(required, icase, classic);
    plan->requiredLineFeed = HoldsByte(required, '\n');
    plan->lineFeed = facts.lineFeed;
    plan->lineFeedBesidesDot = facts.lineFeedBesidesDot;
    if (!plan->plain && !plan->required)
        return nullptr;
    return plan;
}

class Counter final : public MatchSink {
public:
    bool Take(const std::uint64_t*) override
    {
        ++count;
        return true;
    }
    unsigned count = 0;
};

#if defined(QUORVEX_ENGINE_AVX2)
// Whether the 128 bytes at `at` are ASCII.
__attribute__((target("avx2"))) inline bool AsciiRound(const char* at)
{
    const __m256i* p = reinterpret_cast<const __m256i*>(at);
    const __m256i any = _mm256_or_si256(_mm256_or_si256(_mm256_loadu_si256(p), _mm256_loadu_si256(p + 1)),
                                        _mm256_or_si256(_mm256_loadu_si256(p + 2), _mm256_loadu_si256(p + 3)));
    return _mm256_movemask_epi8(any) == 0;
}

// IsAscii for at least 128 bytes: 128 bytes a round, the last round over the
// final 128 bytes (read twice where they overlap the one before).
__attribute__((target("avx2"))) bool IsAsciiAvx2(const char* first, const char* last)
{
    for (; last - first > 128; first += 128)
        if (!AsciiRound(first))
            return false;
    return AsciiRound(last - 128);
}
#endif

}  // namespace

bool IsAscii(const char* first, const char* last)
{
    constexpr std::uint64_t high = 0x8080808080808080ull;
#if defined(QUORVEX_ENGINE_AVX2)
    if (HasAvx2() && last - first >= 128)
        return IsAsciiAvx2(first, last);
#endif
    // Eight words at a time: the loop the compiler turns into vector code.
    while (last - first >= 64) {
        std::uint64_t w[8];
        std::memcpy(w, first, sizeof w);
        if (((w[0] | w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) & high) != 0)
            return false;
        first += 64;
    }
    for (; first != last; ++first)
        if (static_cast<unsigned char>(*first) >= 0x80)
            return false;
    return true;
}

const UnicodeShortcuts& UnicodeExpression::Shortcuts() const
{
    std::call_once(shortcutsOnce_, [this] {
        std::unique_ptr<UnicodeShortcuts> made(new UnicodeShortcuts());
        if (status_ == 0) {
            const unsigned marks = MarkCount() + 1;
            const bool icase = IgnoresCase();
            if (AsciiTwinPossible(source_, syntax_)) {
                made->ascii.imbue(std::locale::classic());
                made->ascii.assign(source_, (TranslateSyntaxFlags(syntax_) & ~boost::regbase::collate) |
                                                boost::regex::no_except);
                if (made->ascii.status() == 0 && static_cast<unsigned>(made->ascii.mark_count()) + 1 == marks) {
                    made->hasAscii = true;
                    if ((syntax_ & LegacySyntax::literal) == 0) {
                        made->asciiPlan = PlanSearch(source_, icase, made->ascii, marks);
                    } else {
                        // Plain text: the plan of the same text quoted.
                        boost::regex analysed;
                        analysed.imbue(std::locale::classic());
                        const std::string quoted = Quoted(source_);
                        analysed.assign(quoted, boost::regex::normal | boost::regex::no_except |
                                                    (icase ? boost::regex::icase : 0));
                        if (analysed.status() == 0 && analysed.mark_count() == 0)
                            made->asciiPlan = PlanSearch(quoted, icase, analysed, marks);
                    }
                }
            }
            made->plan = LiteralPlan(source_, syntax_, icase, marks);
        }
        shortcuts_ = std::move(made);
    });
    return *shortcuts_;
}

std::unique_ptr<SearchPlan> PlanUnicodeLines(const UnicodeExpression& expression)
{
    if (expression.Status() != 0)
        return nullptr;
    return LiteralPlan(expression.source_, expression.syntax_, expression.IgnoresCase(), expression.MarkCount() + 1);
}

// The twin is compiled apart from the engine and has a complexity budget of
// its own (the engine's limit on the states it tries). Where it gives up
// before handing anything out, the engine is asked instead: it may not.

bool MatchUnicode(const UnicodeExpression& expression, const char* first, const char* last, rc::match_flag_type flags,
                  Anchoring anchoring, boost::cmatch& m, std::string& error)
{
    const UnicodeShortcuts& shortcuts = expression.Shortcuts();
    if (shortcuts.hasAscii && IsAscii(first, last)) {
        std::string twinError;
        const bool found = MatchRange(first, last, shortcuts.ascii, flags, anchoring, m, twinError);
        if (twinError.empty())
            return found;
    }
    return expression.Match(first, last, flags, anchoring, m, error);
}

unsigned GrepUnicode(const UnicodeExpression& expression, const char* first, const char* last,
                     rc::match_flag_type flags, const std::function<bool(const boost::cmatch&)>& onMatch,
                     std::string& error)
{
    const UnicodeShortcuts& shortcuts = expression.Shortcuts();
    if (shortcuts.hasAscii && IsAscii(first, last)) {
        std::string twinError;
        const unsigned count = GrepRange(first, last, shortcuts.ascii, flags, onMatch, twinError);
        if (twinError.empty() || count != 0) {
            error = twinError;
            return count;
        }
    }
    return expression.Grep(first, last, flags, onMatch, error);
}

unsigned CountUnicodeMatches(const UnicodeExpression& expression, const char* first, const char* last,
                             rc::match_flag_type flags, std::string& error)
{
    const UnicodeShortcuts& shortcuts = expression.Shortcuts();
    const std::size_t size = static_cast<std::size_t>(last - first);
    if (shortcuts.plan && shortcuts.plan->plain && LiteralFinder::FlagsAllow(flags)) {
        Counter counter;
        shortcuts.plan->plain->Search(first, size, counter, (flags & rc::match_posix) != 0);
        return counter.count;
    }
    if (shortcuts.hasAscii && IsAscii(first, last)) {
        std::string twinError;
        unsigned count = 0;
        if (size >= countThroughDriver && ChooseSearchPath(shortcuts.asciiPlan.get(), flags) != SearchPath::Whole) {
            Counter counter;
            RunSearch(shortcuts.ascii, expression.MarkCount() + 1, shortcuts.asciiPlan.get(), first, size, flags,
                      counter, twinError);
            count = counter.count;
        } else {
            count = GrepRange(first, last, shortcuts.ascii, flags, [](const boost::cmatch&) { return true; }, twinError);
        }
        if (twinError.empty())
            return count;
    }
    return expression.Grep(first, last, flags, [](const boost::cmatch&) { return true; }, error);
}

}  // namespace RegexEngine

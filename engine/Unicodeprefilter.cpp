// The automaton prefilter of the Unicode mode (see Unicodeprefilter.h).
#include "Unicodeprefilter.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "Syntaxflags.h"
#include "Unicodetables.h"
#include "Unicodetabletraits.h"

#if defined(QUORVEX_HAVE_ICU)
#include <unicode/uchar.h>
#endif

namespace RegexEngine {

namespace {

constexpr std::uint32_t lastCodePoint = 0x10FFFF;

// A set of code points: sorted, disjoint, not touching ranges [first, last].
using Ranges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

void Normalize(Ranges& r)
{
    std::sort(r.begin(), r.end());
    std::size_t out = 0;
    for (std::size_t i = 0; i < r.size(); ++i) {
        if (out > 0 && r[i].first <= r[out - 1].second + 1)
            r[out - 1].second = std::max(r[out - 1].second, r[i].second);
        else
            r[out++] = r[i];
    }
    r.resize(out);
}

Ranges Complement(const Ranges& r)
{
    Ranges out;
    std::uint32_t next = 0;
    for (const auto& range : r) {
        if (range.first > next)
            out.emplace_back(next, range.first - 1);
        next = range.second + 1;
    }
    if (next <= lastCodePoint)
        out.emplace_back(next, lastCodePoint);
    return out;
}

bool Contains(const Ranges& r, std::uint32_t c)
{
    const auto it = std::upper_bound(r.begin(), r.end(), c,
                                     [](std::uint32_t v, const std::pair<std::uint32_t, std::uint32_t>& x) {
                                         return v < x.first;
                                     });
    return it != r.begin() && c <= (it - 1)->second;
}

// `r` with every code point that simple case folding makes one letter with
// one of its members: what the engine may match ignoring case, whether it
// folds the subject's character, the class's members or both.
Ranges CaseClosure(Ranges r)
{
    namespace T = UnicodeTables;
    // Every code point that folds to another lies in a folding run.
    const auto eachFolding = [](const auto& visit) {
        for (std::size_t i = 0; i < T::caseFoldCount; ++i) {
            const T::CaseFoldRange& run = T::caseFolds[i];
            for (std::uint32_t c = run.first; c <= run.last; c += static_cast<std::uint32_t>(run.step)) {
                const auto folded = static_cast<std::uint32_t>(T::FoldCase(static_cast<std::int32_t>(c)));
                if (folded != c)
                    visit(c, folded);
            }
        }
    };
    // First the foldings of the members, then everything folding to a
    // member or to a member's folding.
    Ranges added;
    eachFolding([&](std::uint32_t c, std::uint32_t folded) {
        if (Contains(r, c))
            added.emplace_back(folded, folded);
    });
    r.insert(r.end(), added.begin(), added.end());
    Normalize(r);
    added.clear();
    eachFolding([&](std::uint32_t c, std::uint32_t folded) {
        if (Contains(r, folded))
            added.emplace_back(c, c);
    });
    r.insert(r.end(), added.begin(), added.end());
    Normalize(r);
    return r;
}

// The code points of one of the engine's classes (a mask of the table
// traits), from the tables' category runs and sets.
Ranges ClassRanges(UnicodeTableTraits::char_class_type mask)
{
    namespace T = UnicodeTables;
    namespace K = UnicodeClasses;
    Ranges out;
    for (std::size_t i = 0; i < T::categoryRunCount; ++i) {
        if ((mask & K::mask(static_cast<int>(T::categoryRuns[i] & 31u))) == 0)
            continue;
        const std::uint32_t first = T::categoryRuns[i] >> 5;
        const std::uint32_t last = i + 1 < T::categoryRunCount ? (T::categoryRuns[i + 1] >> 5) - 1 : lastCodePoint;
        out.emplace_back(first, last);
    }
    const auto addTable = [&](const T::CodePointRange* ranges, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            out.emplace_back(ranges[i].first, ranges[i].last);
    };
    if ((mask & K::blankBit) != 0)
        addTable(T::blankRanges, T::blankRangesCount);
    if ((mask & K::spaceBit) != 0)
        addTable(T::spaceRanges, T::spaceRangesCount);
    if ((mask & K::underscoreBit) != 0)
        out.emplace_back('_', '_');
    if ((mask & K::unicodeBit) != 0)
        out.emplace_back(0x100, lastCodePoint);
    if ((mask & K::anyBit) != 0)
        out.emplace_back(0, lastCodePoint);
    if ((mask & K::asciiBit) != 0)
        out.emplace_back(0, 0x7F);
    const UnicodeTableTraits::char_class_type rare = K::xdigitBit | K::horizontalBit | K::verticalBit;
    if ((mask & rare) != 0) {
        // Rare classes defined by a rule rather than a table: asked of the
        // traits for every code point.
        const UnicodeTableTraits traits;
        for (std::uint32_t c = 0; c <= lastCodePoint; ++c) {
            if (!traits.isctype(static_cast<std::int32_t>(c), mask & rare))
                continue;
            if (!out.empty() && out.back().second + 1 == c)
                out.back().second = c;
            else
                out.emplace_back(c, c);
        }
    }
    Normalize(out);
    return out;
}

void AppendByte(std::string& out, unsigned b)
{
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[(b >> 4) & 15];
    out += digits[b & 15];
}

unsigned Utf8Length(std::uint32_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

void Encode(std::uint32_t c, unsigned char* bytes)
{
    std::string s;
    AppendUtf8(s, c);
    std::memcpy(bytes, s.data(), s.size());
}

// One UTF-8 sequence as the range of bytes at each of its positions.
using ByteRanges = std::vector<std::pair<unsigned char, unsigned char>>;

// Appends to `sequences` the UTF-8 sequences of the code points [first,
// last] (no surrogates), split until every byte position is one range of
// bytes, as the UTF-8 range compilers of automaton libraries do.
void Sequences(std::uint32_t first, std::uint32_t last, std::vector<ByteRanges>& sequences)
{
    static const std::uint32_t lengthEnds[] = {0x7F, 0x7FF, 0xFFFF};
    for (const std::uint32_t end : lengthEnds) {
        if (first <= end && last > end) {
            Sequences(first, end, sequences);
            Sequences(end + 1, last, sequences);
            return;
        }
    }
    const unsigned length = Utf8Length(first);
    for (unsigned i = 1; i < length; ++i) {
        const std::uint32_t low = (std::uint32_t(1) << (6 * i)) - 1;  // the bits of the last i bytes
        if ((first & ~low) == (last & ~low))
            continue;
        if ((first & low) != 0) {
            Sequences(first, first | low, sequences);
            Sequences((first | low) + 1, last, sequences);
            return;
        }
        if ((last & low) != low) {
            Sequences(first, (last & ~low) - 1, sequences);
            Sequences(last & ~low, last, sequences);
            return;
        }
    }
    unsigned char a[4], b[4];
    Encode(first, a);
    Encode(last, b);
    ByteRanges sequence;
    for (unsigned i = 0; i < length; ++i)
        sequence.emplace_back(a[i], b[i]);
    sequences.push_back(std::move(sequence));
}

// The sequences as a tree of their common leading ranges, so that the
// automaton's expression names each leading byte once.
struct ByteTree {
    std::vector<std::pair<std::pair<unsigned char, unsigned char>, ByteTree>> next;
    bool end = false;  // a sequence ends here

    void Add(const ByteRanges& sequence, std::size_t at)
    {
        if (at == sequence.size()) {
            end = true;
            return;
        }
        for (auto& child : next) {
            if (child.first == sequence[at]) {
                child.second.Add(sequence, at + 1);
                return;
            }
        }
        next.emplace_back(sequence[at], ByteTree());
        next.back().second.Add(sequence, at + 1);
    }

    // The expression of what follows this node (which no sequence ends at).
    void Write(std::string& out) const
    {
        std::string ends;  // the ranges after which sequences end, as one class
        std::vector<std::string> branches;
        for (const auto& child : next) {
            std::string range;
            AppendByte(range, child.first.first);
            if (child.first.second != child.first.first) {
                range += '-';
                AppendByte(range, child.first.second);
            }
            if (child.second.end) {
                ends += range;
                continue;
            }
            std::string branch = child.first.second != child.first.first ? "[" + range + "]" : range;
            child.second.Write(branch);
            branches.push_back(std::move(branch));
        }
        if (!ends.empty())
            branches.insert(branches.begin(), ends.size() > 4 ? "[" + ends + "]" : ends);
        if (branches.size() == 1) {
            out += branches[0];
            return;
        }
        out += "(?:";
        for (std::size_t i = 0; i < branches.size(); ++i) {
            if (i > 0)
                out += '|';
            out += branches[i];
        }
        out += ')';
    }
};

// Sequences past which a class is not worth the automaton's compilation.
constexpr std::size_t maxSequences = 4000;

// The byte pattern of one character of the set `members`, as one group;
// false when the set is empty or too large. The line feed is left out (the
// engine sees lines without it), and so are the surrogates, which are no
// valid UTF-8.
bool AppendMembers(Ranges members, std::string& out)
{
    Normalize(members);
    Ranges left = Complement(members);
    left.emplace_back(0xD800, 0xDFFF);
    left.emplace_back('\n', '\n');
    Normalize(left);
    const Ranges kept = Complement(left);
    if (kept.empty())
        return false;
    std::vector<ByteRanges> sequences;
    for (const auto& range : kept) {
        Sequences(range.first, range.second, sequences);
        if (sequences.size() > maxSequences)
            return false;
    }
    ByteTree tree;
    for (const ByteRanges& sequence : sequences)
        tree.Add(sequence, 0);
    out += "(?:";
    tree.Write(out);
    out += ')';
    return true;
}

// Reads the code point at text[i] (valid UTF-8: the engine refused anything
// else) and moves past it.
std::uint32_t NextCodePoint(const std::string& text, std::size_t& i)
{
    const char* p = text.data() + i;
    std::size_t n = ValidUtf8Length(p, text.data() + text.size());
    if (n == 0)
        n = 1;
    const auto byte = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(p[k])); };
    std::uint32_t c = n == 1 ? byte(0) : n == 2 ? byte(0) & 0x1F : n == 3 ? byte(0) & 0x0F : byte(0) & 0x07;
    for (std::size_t k = 1; k < n; ++k)
        c = (c << 6) | (byte(k) & 0x3F);
    i += n;
    return c;
}

bool IsQuantifier(char c)
{
    return c == '*' || c == '+' || c == '?' || c == '{';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Translator {
public:
    Translator(const std::string& text, bool icase) : text_(text), icase_(icase) {}

    bool Run(std::string& out)
    {
        while (i_ < text_.size()) {
            if (!Step(out))
                return false;
        }
        return true;
    }

    // The whole text as characters to match.
    bool Literal(std::string& out)
    {
        while (i_ < text_.size())
            if (!AppendCharacter(NextCodePoint(text_, i_), out))
                return false;
        return true;
    }

private:
    // One character: its bytes, or ignoring case the alternation of its
    // case variants.
    bool AppendCharacter(std::uint32_t c, std::string& out)
    {
        if (icase_) {
            const std::vector<std::uint32_t> variants = SimpleCaseVariants(c);
            if (variants.size() > 1) {
                Ranges r;
                for (const std::uint32_t v : variants)
                    r.emplace_back(v, v);
                Normalize(r);
                return AppendMembers(r, out);
            }
        }
        if (c == '\n')
            return false;  // never in a line: the expression spans lines
        std::string bytes;
        AppendUtf8(bytes, c);
        out += bytes.size() > 1 ? "(?:" : "";
        for (const char b : bytes)
            AppendByte(out, static_cast<unsigned char>(b));
        out += bytes.size() > 1 ? ")" : "";
        return true;
    }

    // A set written with classes: the case closure when ignoring case.
    bool AppendSet(const Ranges& members, std::string& out)
    {
        return AppendMembers(icase_ ? CaseClosure(members) : members, out);
    }

    // The set of the class named `name` (as \p{name}, [[:name:]] or the
    // letter of \w \d \s), its scripts included; false when unknown, or
    // when ignoring case the engine may read it as another class.
    bool NamedClass(const std::string& name, bool scripts, Ranges& r)
    {
        r.clear();
        std::string inner = name;
        if (inner == "L")
            inner = "letter";
        else if (inner == "S")
            inner = "symbol";
        std::vector<UnicodeTables::CodePointRange> script;
        if (scripts && !UnicodeTables::IsCategoryName(inner) && UnicodeTables::ScriptRangesOf(inner, script) &&
            !script.empty()) {
            for (const auto& s : script)
                r.emplace_back(s.first, s.last);
            Normalize(r);
            return true;
        }
        const std::vector<std::int32_t> wide(inner.begin(), inner.end());
        const UnicodeTableTraits traits;
        const auto mask = traits.lookup_classname(wide.data(), wide.data() + wide.size());
        if (mask == 0)
            return false;
        namespace K = UnicodeClasses;
        constexpr auto cased = K::mask(K::Lu) | K::mask(K::Ll) | K::mask(K::Lt);
        if (icase_ && (mask & cased) != 0 && (mask & K::L) != K::L)
            return false;  // the engine may take every letter for [[:lower:]]
        r = ClassRanges(mask);
        return true;
    }

    // \p{Name}, \pN and their negations at text[i_] (after the letter p or
    // P); i_ moves past them.
    bool Property(Ranges& r)
    {
        if (i_ >= text_.size())
            return false;
        std::string name;
        if (text_[i_] == '{') {
            const std::size_t close = text_.find('}', i_ + 1);
            if (close == std::string::npos)
                return false;
            name = text_.substr(i_ + 1, close - i_ - 1);
            i_ = close + 1;
        } else {
            name = text_.substr(i_, 1);
            ++i_;
        }
        if (name.empty() || name[0] == '^')
            return false;
        return NamedClass(name, true, r);
    }

    // A character escape at text[i_] (after the backslash): its code point.
    bool CharacterEscape(std::uint32_t& c)
    {
        const char e = text_[i_];
        static const char controls[] = "n\nt\tr\rf\fa\ae\x1b";
        for (const char* p = controls; *p != '\0'; p += 2) {
            if (e == p[0]) {
                c = static_cast<unsigned char>(p[1]);
                ++i_;
                return true;
            }
        }
        if (e == 'x') {
            std::uint32_t value = 0;
            if (i_ + 1 < text_.size() && text_[i_ + 1] == '{') {
                const std::size_t close = text_.find('}', i_ + 2);
                if (close == std::string::npos || close == i_ + 2 || close - i_ - 2 > 6)
                    return false;
                for (std::size_t k = i_ + 2; k < close; ++k) {
                    const int h = HexValue(text_[k]);
                    if (h < 0)
                        return false;
                    value = value * 16 + static_cast<std::uint32_t>(h);
                }
                i_ = close + 1;
            } else {
                if (i_ + 2 >= text_.size() || HexValue(text_[i_ + 1]) < 0 || HexValue(text_[i_ + 2]) < 0)
                    return false;
                value = static_cast<std::uint32_t>(HexValue(text_[i_ + 1]) * 16 + HexValue(text_[i_ + 2]));
                i_ += 3;
            }
            if (value > lastCodePoint || (value >= 0xD800 && value <= 0xDFFF))
                return false;
            c = value;
            return true;
        }
        const unsigned char u = static_cast<unsigned char>(e);
        if (u < 0x80 && u > 0x20 && !std::isalnum(u)) {
            c = u;  // an escaped operator or punctuation
            ++i_;
            return true;
        }
        return false;
    }

    // A class escape (\w \W \d \D \s \S \p \P) at text[i_] (after the
    // backslash): its set, negations complemented. `taken` is false when the
    // escape is no class escape.
    bool ClassEscape(Ranges& r, bool& taken)
    {
        const char e = text_[i_];
        taken = std::strchr("wWdDsSpP", e) != nullptr && e != '\0';
        if (!taken)
            return true;
        ++i_;
        const bool negated = e == 'W' || e == 'D' || e == 'S' || e == 'P';
        bool known;
        if (e == 'p' || e == 'P')
            known = Property(r);
        else
            known = NamedClass(std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(e)))), false, r);
        if (!known)
            return false;
        if (negated)
            r = Complement(r);
        return true;
    }

    // The bracket expression at text[i_] (its `[`).
    bool Bracket(std::string& out)
    {
        ++i_;
        bool negated = false;
        if (i_ < text_.size() && text_[i_] == '^') {
            negated = true;
            ++i_;
        }
        Ranges members;
        bool first = true;
        for (;;) {
            if (i_ >= text_.size())
                return false;
            const char c = text_[i_];
            if (c == ']' && !first) {
                ++i_;
                break;
            }
            first = false;
            if (c == '[' && i_ + 1 < text_.size() && std::strchr(":.=", text_[i_ + 1]) != nullptr) {
                if (text_[i_ + 1] != ':')
                    return false;  // collating elements, equivalence classes
                const std::size_t close = text_.find(":]", i_ + 2);
                if (close == std::string::npos)
                    return false;
                const std::string name = text_.substr(i_ + 2, close - i_ - 2);
                Ranges r;
                if (name.empty() || name[0] == '^' || !NamedClass(name, false, r))
                    return false;
                members.insert(members.end(), r.begin(), r.end());
                i_ = close + 2;
                continue;
            }
            std::uint32_t low = 0;
            if (!SetCharacter(members, low))
                return false;
            if (low == noCharacter)
                continue;  // a class
            std::uint32_t high = low;
            if (i_ + 1 < text_.size() && text_[i_] == '-' && text_[i_ + 1] != ']') {
                ++i_;
                if (text_[i_] == '[')
                    return false;
                Ranges ignored;
                if (!SetCharacter(ignored, high) || high == noCharacter || high < low)
                    return false;
            }
            members.emplace_back(low, high);
            if (icase_) {
                // The engine folds a range's ends.
                const auto fold = [](std::uint32_t v) {
                    return static_cast<std::uint32_t>(UnicodeTables::FoldCase(static_cast<std::int32_t>(v)));
                };
                if (fold(low) <= fold(high))
                    members.emplace_back(fold(low), fold(high));
            }
        }
        Normalize(members);
        if (negated) {
            // What the engine leaves out ignoring case depends on how it
            // folds each class: not worth the risk.
            if (icase_)
                return false;
            members = Complement(members);
        }
        return AppendSet(members, out);
    }

    static constexpr std::uint32_t noCharacter = 0xFFFFFFFFu;

    // One member of a bracket expression at text[i_]: a character (in `c`)
    // or a class escape (added to `members`, `c` noCharacter).
    bool SetCharacter(Ranges& members, std::uint32_t& c)
    {
        if (text_[i_] != '\\') {
            c = NextCodePoint(text_, i_);
            return true;
        }
        ++i_;
        if (i_ >= text_.size())
            return false;
        Ranges r;
        bool taken = false;
        if (!ClassEscape(r, taken))
            return false;
        if (taken) {
            members.insert(members.end(), r.begin(), r.end());
            c = noCharacter;
            return true;
        }
        return CharacterEscape(c);
    }

    // Whether a quantifier follows text[i_]: an assertion taken out must
    // stand alone.
    bool Quantified() const { return i_ < text_.size() && IsQuantifier(text_[i_]); }

    bool Step(std::string& out)
    {
        const char c = text_[i_];
        if (c == '\\') {
            if (++i_ >= text_.size())
                return false;
            const char e = text_[i_];
            if (std::strchr("AzZbBG`'<>", e) != nullptr) {
                ++i_;
                return !Quantified();  // taken out: the engine's edges are no automaton's
            }
            if (e == 'Q') {
                const std::size_t close = text_.find("\\E", i_ + 1);
                const std::size_t stop = close == std::string::npos ? text_.size() : close;
                // Character by character, each a group of its own: a repeat
                // after \E takes the last quoted character only.
                ++i_;
                while (i_ < stop)
                    if (!AppendCharacter(NextCodePoint(text_, i_), out))
                        return false;
                i_ = close == std::string::npos ? stop : stop + 2;
                return true;
            }
            if (e >= '1' && e <= '9') {
                // A back-reference: any text (a group that took no part
                // matches the empty text in the engine).
                if (i_ + 1 < text_.size() && text_[i_ + 1] >= '0' && text_[i_ + 1] <= '9')
                    return false;
                ++i_;
                out += "(?:[\\x00-\\xFF]*)";
                return true;
            }
            Ranges r;
            bool taken = false;
            if (!ClassEscape(r, taken))
                return false;
            if (taken)
                return AppendSet(r, out);
            std::uint32_t character = 0;
            return CharacterEscape(character) && AppendCharacter(character, out);
        }
        if (c == '[')
            return Bracket(out);
        if (c == '.') {
            ++i_;
            return AppendMembers(Ranges{{0, lastCodePoint}}, out);
        }
        if (c == '^' || c == '$') {
            ++i_;
            return !Quantified();
        }
        if (c == '(') {
            ++i_;
            if (i_ < text_.size() && text_[i_] == '*')
                return false;  // control verbs
            if (i_ >= text_.size() || text_[i_] != '?') {
                out += '(';
                return true;
            }
            const std::string rest = text_.substr(i_, 4);
            for (const char* opener : {"?:", "?=", "?!", "?>", "?<=", "?<!"}) {
                if (rest.compare(0, std::strlen(opener), opener) == 0) {
                    out += '(';
                    out += opener;
                    i_ += std::strlen(opener);
                    return true;
                }
            }
            if (rest.compare(0, 2, "?#") == 0) {
                const std::size_t close = text_.find(')', i_);
                if (close == std::string::npos)
                    return false;
                i_ = close + 1;
                return true;
            }
            if (rest.compare(0, 2, "?<") == 0) {
                // A named group: the automaton needs no name.
                const std::size_t close = text_.find('>', i_);
                if (close == std::string::npos)
                    return false;
                for (std::size_t k = i_ + 2; k < close; ++k)
                    if (!std::isalnum(static_cast<unsigned char>(text_[k])) && text_[k] != '_')
                        return false;
                i_ = close + 1;
                out += '(';
                return true;
            }
            return false;  // inline options, conditionals, recursion, ...
        }
        if (c == ')' || c == '|' || c == '*' || c == '+' || c == '?') {
            out += c;
            ++i_;
            return true;
        }
        if (c == '{') {
            // A repeat {n}, {n,} or {n,m}; anything else is not read here.
            std::size_t k = i_ + 1;
            const std::size_t digits = k;
            while (k < text_.size() && std::isdigit(static_cast<unsigned char>(text_[k])))
                ++k;
            if (k == digits)
                return false;
            if (k < text_.size() && text_[k] == ',') {
                ++k;
                while (k < text_.size() && std::isdigit(static_cast<unsigned char>(text_[k])))
                    ++k;
            }
            if (k >= text_.size() || text_[k] != '}')
                return false;
            out.append(text_, i_, k + 1 - i_);
            i_ = k + 1;
            return true;
        }
        return AppendCharacter(NextCodePoint(text_, i_), out);
    }

    const std::string& text_;
    bool icase_;
    std::size_t i_ = 0;
};

// Whether the tables hold the classes the engine runs on: always for the
// table backend; for the ICU backend only when the ICU at run time has the
// tables' Unicode version (a newer one may give a script or a category code
// points the tables lack, and the prefilter would miss their lines).
bool TablesServeTheEngine()
{
#if defined(QUORVEX_HAVE_ICU)
    UVersionInfo version;
    u_getUnicodeVersion(version);
    const char* tables = UnicodeTables::unicodeVersion;
    char* rest = nullptr;
    const unsigned long major = std::strtoul(tables, &rest, 10);
    const unsigned long minor = *rest == '.' ? std::strtoul(rest + 1, nullptr, 10) : 0;
    return version[0] == major && version[1] == minor;
#else
    return true;
#endif
}

}  // namespace

bool UnicodeToByteExpression(const std::string& text, unsigned legacySyntax, std::string& out)
{
    using namespace LegacySyntax;
    out.clear();
    if (text.find('\0') != std::string::npos || !IsValidUtf8(text.data(), text.data() + text.size()))
        return false;
    Translator translator(text, (legacySyntax & icase) != 0);
    if ((legacySyntax & literal) != 0)
        return translator.Literal(out);
    // The normal syntax only: the others read operators differently.
    const unsigned others = limited_ops | newline_alt | bk_plus_qm | bk_braces | bk_parens | bk_vbar;
    if ((legacySyntax & others) != 0 || (legacySyntax & (escape_in_lists | char_classes | intervals)) !=
                                            (escape_in_lists | char_classes | intervals))
        return false;
    return translator.Run(out);
}

std::unique_ptr<AutomatonPrefilter> BuildUnicodePrefilter(const UnicodeExpression& expression)
{
    if (!AutomatonPrefilter::Available() || expression.Status() != 0)
        return nullptr;
    static const bool tablesServe = TablesServeTheEngine();
    if (!tablesServe)
        return nullptr;
    std::string bytes;
    if (!UnicodeToByteExpression(expression.Source(), expression.Syntax(), bytes))
        return nullptr;
    return AutomatonPrefilter::BuildBytes(bytes);
}

namespace {

// Hands on the matches of a part of the buffer with offsets from its start.
class Shifted final : public MatchSink {
public:
    Shifted(MatchSink& inner, unsigned marks) : inner_(inner), offsets_(2 * static_cast<std::size_t>(marks)) {}
    void From(std::size_t at) { at_ = at; }
    bool Take(const std::uint64_t* offsets) override
    {
        for (std::size_t i = 0; i < offsets_.size(); ++i)
            offsets_[i] = offsets[i] == noOffset ? noOffset : offsets[i] + at_;
        return inner_.Take(offsets_.data());
    }

private:
    MatchSink& inner_;
    std::vector<std::uint64_t> offsets_;
    std::size_t at_ = 0;
};

}  // namespace

SearchEnd SearchUnicodeCandidates(const UnicodeExpression& expression, const SearchPlan* plan,
                                  const AutomatonPrefilter& prefilter, unsigned marks, const char* data,
                                  std::size_t size, unsigned flags, MatchSink& sink, std::string& error)
{
    // ASCII text too: each candidate line goes to SearchUnicodeBuffer, which
    // gives an ASCII line to the byte-mode twin (the automaton's byte
    // sequences take in every line the twin can match).
    Shifted shifted(sink, marks);
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    std::size_t at = 0;
    while (at < size) {
        const std::size_t stop = AutomatonPrefilter::ChunkEnd(data, at, size);
        lines.clear();
        if (!prefilter.CandidateLines(data + at, stop - at, lines))
            lines.assign(1, {0, stop - at});  // every line of the chunk
        for (const auto& line : lines) {
            shifted.From(at + line.first);
            const SearchEnd end = SearchUnicodeBuffer(expression, plan, marks, data + at + line.first,
                                                      line.second - line.first, flags, shifted, error);
            if (end != SearchEnd::Finished)
                return end;
        }
        at = stop;
    }
    return SearchEnd::Finished;
}

}  // namespace RegexEngine

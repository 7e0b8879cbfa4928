// The engine's traits over 32-bit code points on the generated Unicode
// tables (Unicodetables.h): the same classes, case folding and digit values
// as the engine's ICU traits, with no ICU at run time. Included only by
// Unicodeexpression.cpp.
//
// What needs ICU's data beyond the tables is refused, never approximated:
// character names ([[.LATIN SMALL LETTER A.]], \N{...}) past the POSIX
// names, and equivalence classes ([[=e=]]), which need a collator. The
// refusal is recorded in Refused() for the compiler to report.
#ifndef QUORVEX_ENGINE_UNICODETABLETRAITS_H
#define QUORVEX_ENGINE_UNICODETABLETRAITS_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <locale>
#include <string>
#include <vector>

#include <boost/regex.hpp>

#include "Unicodetables.h"

namespace RegexEngine {

namespace UnicodeClasses {

using ClassMask = std::uint64_t;

// ICU's general category numbers.
enum Category {
    Cn, Lu, Ll, Lt, Lm, Lo, Mn, Me, Mc, Nd, Nl, No, Zs, Zl, Zp, Cc,
    Cf, Co, Cs, Pd, Ps, Pe, Pc, Po, Sm, Sc, Sk, So, Pi, Pf, categoryCount
};
constexpr ClassMask mask(int category) { return ClassMask(1) << category; }
constexpr ClassMask L = mask(Lu) | mask(Ll) | mask(Lt) | mask(Lm) | mask(Lo);
constexpr ClassMask M = mask(Mn) | mask(Me) | mask(Mc);
constexpr ClassMask N = mask(Nd) | mask(Nl) | mask(No);
constexpr ClassMask Z = mask(Zs) | mask(Zl) | mask(Zp);
constexpr ClassMask C = mask(Cc) | mask(Cf) | mask(Co) | mask(Cs) | mask(Cn);
constexpr ClassMask P =
    mask(Pd) | mask(Ps) | mask(Pe) | mask(Pc) | mask(Po) | mask(Pi) | mask(Pf);
constexpr ClassMask S = mask(Sm) | mask(Sc) | mask(Sk) | mask(So);
// The classes beyond the categories, above their bits.
constexpr ClassMask blankBit = mask(categoryCount);
constexpr ClassMask spaceBit = mask(categoryCount + 1);
constexpr ClassMask xdigitBit = mask(categoryCount + 2);
constexpr ClassMask underscoreBit = mask(categoryCount + 3);
constexpr ClassMask unicodeBit = mask(categoryCount + 4);
constexpr ClassMask anyBit = mask(categoryCount + 5);
constexpr ClassMask asciiBit = mask(categoryCount + 6);
constexpr ClassMask horizontalBit = mask(categoryCount + 7);
constexpr ClassMask verticalBit = mask(categoryCount + 8);

// The bits above those are free in both backends' masks: an expression's
// own classes (its scripts) take them, one bit each, so that the engine tests
// a script as a class (one table lookup) rather than as a bracket expression
// of ranges, which it compares one by one for every character it tests.
constexpr int firstOwnBit = categoryCount + 9;
constexpr int ownClassCount = 64 - firstOwnBit;
constexpr ClassMask ownBits = ~ClassMask(0) << firstOwnBit;
// An own class is written [:<marker><index>:] in the expression the engine
// compiles; the marker is a noncharacter, and an expression that holds it
// itself gets no own classes (see OwnClasses::Pending).
constexpr std::int32_t ownClassMarker = 0x10FFFF;

}  // namespace UnicodeClasses

// A set of code points with a constant-time test: a bit per code point of
// the Basic Multilingual Plane, the ranges above it searched by halves; the
// complement of its ranges when `negated`.
class CodePointSet {
public:
    CodePointSet() = default;
    CodePointSet(const std::vector<UnicodeTables::CodePointRange>& ranges, bool negated)
        : bmp_(bmpBits / 64, 0), negated_(negated)
    {
        for (const auto& r : ranges) {
            for (std::uint32_t c = r.first; c <= r.last && c < bmpBits; ++c)
                bmp_[c >> 6] |= std::uint64_t(1) << (c & 63);
            if (r.last >= bmpBits)
                above_.push_back({std::max<std::uint32_t>(r.first, bmpBits), r.last});
        }
        std::sort(above_.begin(), above_.end(),
                  [](const UnicodeTables::CodePointRange& a, const UnicodeTables::CodePointRange& b) {
                      return a.first < b.first;
                  });
    }
    bool Contains(std::int32_t c) const
    {
        if (c < 0 || bmp_.empty())
            return false;
        const auto u = static_cast<std::uint32_t>(c);
        bool in;
        if (u < bmpBits) {
            in = ((bmp_[u >> 6] >> (u & 63)) & 1u) != 0;
        } else {
            const auto at = std::upper_bound(above_.begin(), above_.end(), u,
                                             [](std::uint32_t v, const UnicodeTables::CodePointRange& r) {
                                                 return v < r.first;
                                             });
            in = at != above_.begin() && u <= (at - 1)->last;
        }
        return in != negated_;
    }

private:
    static constexpr std::uint32_t bmpBits = 0x10000;
    std::vector<std::uint64_t> bmp_;
    std::vector<UnicodeTables::CodePointRange> above_;
    bool negated_ = false;
};

// The classes an expression brings itself: the compiler lists their code
// points (OwnClassSource) and hands the list to the traits through Pending()
// while the engine parses; the traits keep each class named in the
// expression as a CodePointSet under its own mask bit.
struct OwnClassSource {
    std::vector<UnicodeTables::CodePointRange> ranges;
    bool negated;
};

class OwnClasses {
public:
    // The list of the compilation running on this thread; null outside one
    // (then no name is an own class).
    static const std::vector<OwnClassSource>*& Pending()
    {
        static thread_local const std::vector<OwnClassSource>* pending = nullptr;
        return pending;
    }

    // The mask of the own class named [p1, p2), made on first use; 0 when the
    // name is none.
    UnicodeClasses::ClassMask Lookup(const std::int32_t* p1, const std::int32_t* p2)
    {
        using namespace UnicodeClasses;
        const std::vector<OwnClassSource>* pending = Pending();
        if (pending == nullptr || p2 - p1 < 2 || *p1 != ownClassMarker)
            return 0;
        std::size_t index = 0;
        for (const std::int32_t* p = p1 + 1; p != p2; ++p) {
            if (*p < '0' || *p > '9' || index >= pending->size())
                return 0;
            index = index * 10 + static_cast<std::size_t>(*p - '0');
        }
        if (index >= pending->size() || index >= static_cast<std::size_t>(ownClassCount))
            return 0;
        if (sets_.size() <= index)
            sets_.resize(index + 1);
        sets_[index] = CodePointSet((*pending)[index].ranges, (*pending)[index].negated);
        return mask(firstOwnBit + static_cast<int>(index));
    }

    // Whether `c` is in one of the own classes of `f`.
    bool Test(std::int32_t c, UnicodeClasses::ClassMask f) const
    {
        using namespace UnicodeClasses;
        for (f = (f & ownBits) >> firstOwnBit; f != 0; f &= f - 1) {
            const auto index = static_cast<std::size_t>(LowestBit(f));
            if (index < sets_.size() && sets_[index].Contains(c))
                return true;
        }
        return false;
    }

private:
    static int LowestBit(UnicodeClasses::ClassMask f)
    {
        int n = 0;
        while ((f & 1u) == 0) {
            f >>= 1;
            ++n;
        }
        return n;
    }
    std::vector<CodePointSet> sets_;
};

class UnicodeTableTraits {
public:
    typedef std::int32_t char_type;
    typedef std::size_t size_type;
    typedef std::vector<char_type> string_type;
    typedef std::locale locale_type;
    typedef std::uint64_t char_class_type;
    struct boost_extensions_tag {};

    // What the last compilation on this thread asked for that the tables
    // cannot give.
    enum Refusal { none = 0, characterName = 1, equivalenceClass = 2 };
    static unsigned& Refused()
    {
        static thread_local unsigned refused = none;
        return refused;
    }

    UnicodeTableTraits() = default;

    static size_type length(const char_type* p)
    {
        size_type n = 0;
        while (p[n] != 0)
            ++n;
        return n;
    }
    boost::regex_constants::syntax_type syntax_type(char_type c) const
    {
        return (c < 0x7f && c > 0) ? boost::BOOST_REGEX_DETAIL_NS::get_default_syntax_type(static_cast<char>(c))
                                   : boost::regex_constants::syntax_char;
    }
    boost::regex_constants::escape_syntax_type escape_syntax_type(char_type c) const
    {
        return (c < 0x7f && c > 0) ? boost::BOOST_REGEX_DETAIL_NS::get_default_escape_syntax_type(static_cast<char>(c))
                                   : boost::regex_constants::syntax_char;
    }
    char_type translate(char_type c) const { return c; }
    char_type translate_nocase(char_type c) const { return UnicodeTables::FoldCase(c); }
    char_type translate(char_type c, bool icase) const { return icase ? translate_nocase(c) : c; }

    // Only with the collate option, which the Unicode mode never sets: the
    // code point order.
    string_type transform(const char_type* p1, const char_type* p2) const { return string_type(p1, p2); }
    // Equivalence classes need a collator: refused (an empty key makes the
    // engine reject the class).
    string_type transform_primary(const char_type*, const char_type*) const
    {
        Refused() |= equivalenceClass;
        return string_type();
    }

    char_class_type lookup_classname(const char_type* p1, const char_type* p2) const
    {
        using namespace UnicodeClasses;
        static const char_class_type masks[] = {
            0,
            L | mask(Nd),                                                              // alnum
            L,                                                                         // alpha
            blankBit,                                                                  // blank
            mask(Cc) | mask(Cf) | mask(Zl) | mask(Zp),                                 // cntrl
            mask(Nd),                                                                  // d
            mask(Nd),                                                                  // digit
            0x3FFFFFFFu & ~(mask(Cc) | mask(Cf) | mask(Cs) | mask(Cn) | Z),            // graph
            horizontalBit,                                                             // h
            mask(Ll),                                                                  // l
            mask(Ll),                                                                  // lower
            // print: as in the ICU traits, whose masks are 32 bits wide, so that
            // the blank and space bits are in and the other extra ones out.
            0xFFFFFFFFu & ~C,
            P,                                                                         // punct
            Z | spaceBit,                                                              // s
            Z | spaceBit,                                                              // space
            mask(Lu),                                                                  // u
            unicodeBit,                                                                // unicode
            mask(Lu),                                                                  // upper
            verticalBit,                                                               // v
            L | mask(Nd) | mask(Mn) | underscoreBit,                                   // w
            L | mask(Nd) | mask(Mn) | underscoreBit,                                   // word
            mask(Nd) | xdigitBit,                                                      // xdigit
        };
        if (const char_class_type own = own_.Lookup(p1, p2))
            return own;
        int id = boost::BOOST_REGEX_DETAIL_NS::get_default_class_id(p1, p2);
        if (id >= 0)
            return masks[id + 1];
        std::string name;
        for (const char_type* p = p1; p != p2; ++p) {
            if (*p <= 0 || *p >= 0x80)
                return 0;
            name += static_cast<char>(*p);
        }
        if (const char_class_type m = LookupName(name))
            return m;
        // Again without case, spaces, '-' and '_'.
        std::string loose;
        for (char c : name) {
            if (c == '-' || c == '_' || UnicodeTables::IsSpace(c))
                continue;
            loose += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        if (loose.empty())
            return 0;
        string_type wide(loose.begin(), loose.end());
        id = boost::BOOST_REGEX_DETAIL_NS::get_default_class_id(wide.data(), wide.data() + wide.size());
        if (id >= 0)
            return masks[id + 1];
        return LookupName(loose);
    }

    // The POSIX collating element names and single characters; a Unicode
    // character name would need ICU's name data and is refused.
    string_type lookup_collatename(const char_type* p1, const char_type* p2) const
    {
        string_type result;
        if (std::all_of(p1, p2, [](char_type c) { return c <= 0x7f; })) {
            const std::string s =
                boost::BOOST_REGEX_DETAIL_NS::lookup_default_collate_name(std::string(p1, p2));
            result.assign(s.begin(), s.end());
        }
        if (result.empty() && p2 - p1 == 1)
            result.push_back(*p1);
        if (result.empty())
            Refused() |= characterName;
        return result;
    }

    bool isctype(char_type c, char_class_type f) const
    {
        using namespace UnicodeClasses;
        if ((f & ownBits) != 0) {
            if (own_.Test(c, f))
                return true;
            f &= ~ownBits;
            if (f == 0)
                return false;
        }
        const int category = UnicodeTables::Category(c);
        const char_class_type m = mask(category);
        if ((m & f) != 0)
            return true;
        if ((f & blankBit) != 0 && UnicodeTables::IsBlank(c))
            return true;
        if ((f & spaceBit) != 0 && UnicodeTables::IsSpace(c))
            return true;
        if ((f & xdigitBit) != 0 && UnicodeTables::DigitValue(c, 16) >= 0)
            return true;
        if ((f & unicodeBit) != 0 && c >= 0x100)
            return true;
        if ((f & underscoreBit) != 0 && c == '_')
            return true;
        if ((f & anyBit) != 0 && c <= 0x10FFFF)
            return true;
        if ((f & asciiBit) != 0 && c <= 0x7F)
            return true;
        if ((f & verticalBit) != 0 && (boost::BOOST_REGEX_DETAIL_NS::is_separator(c) || c == '\v' ||
                                       category == Zl || category == Zp))
            return true;
        if ((f & horizontalBit) != 0 && !boost::BOOST_REGEX_DETAIL_NS::is_separator(c) &&
            UnicodeTables::IsSpace(c) && c != '\v')
            return true;
        return false;
    }

    std::intmax_t toi(const char_type*& p1, const char_type* p2, int radix) const
    {
        return boost::BOOST_REGEX_DETAIL_NS::global_toi(p1, p2, radix, *this);
    }
    int value(char_type c, int radix) const { return UnicodeTables::DigitValue(c, radix); }
    locale_type imbue(locale_type l) { return l; }
    locale_type getloc() const { return locale_type(); }
    std::string error_string(boost::regex_constants::error_type n) const
    {
        return boost::BOOST_REGEX_DETAIL_NS::get_default_error_string(n);
    }

private:
    // The expression's own classes (set while it compiles, read while it
    // matches: each compiled expression has its traits object).
    mutable OwnClasses own_;

    // The property names the engine's ICU traits take (already in their
    // loose form), with their classes.
    static char_class_type LookupName(const std::string& name)
    {
        using namespace UnicodeClasses;
        struct Entry {
            const char* name;
            char_class_type mask;
        };
        static const Entry table[] = {
            {"any", anyBit},
            {"ascii", asciiBit},
            {"assigned", 0x3FFFFFFFu & ~mask(Cn)},
            {"c*", C},
            {"cc", mask(Cc)},
            {"cf", mask(Cf)},
            {"closepunctuation", mask(Pe)},
            {"cn", mask(Cn)},
            {"co", mask(Co)},
            {"connectorpunctuation", mask(Pc)},
            {"control", mask(Cc)},
            {"cs", mask(Cs)},
            {"currencysymbol", mask(Sc)},
            {"dashpunctuation", mask(Pd)},
            {"decimaldigitnumber", mask(Nd)},
            {"enclosingmark", mask(Me)},
            {"finalpunctuation", mask(Pf)},
            {"format", mask(Cf)},
            {"initialpunctuation", mask(Pi)},
            {"l*", L},
            {"letter", L},
            {"letternumber", mask(Nl)},
            {"lineseparator", mask(Zl)},
            {"ll", mask(Ll)},
            {"lm", mask(Lm)},
            {"lo", mask(Lo)},
            {"lowercaseletter", mask(Ll)},
            {"lt", mask(Lt)},
            {"lu", mask(Lu)},
            {"m*", M},
            {"mark", M},
            {"mathsymbol", mask(Sm)},
            {"mc", mask(Mc)},
            {"me", mask(Me)},
            {"mn", mask(Mn)},
            {"modifierletter", mask(Lm)},
            {"modifiersymbol", mask(Sk)},
            {"n*", N},
            {"nd", mask(Nd)},
            {"nl", mask(Nl)},
            {"no", mask(No)},
            {"nonspacingmark", mask(Mn)},
            {"notassigned", mask(Cn)},
            {"number", N},
            {"openpunctuation", mask(Ps)},
            {"other", C},
            {"otherletter", mask(Lo)},
            {"othernumber", mask(No)},
            {"otherpunctuation", mask(Po)},
            {"othersymbol", mask(So)},
            {"p*", P},
            {"paragraphseparator", mask(Zp)},
            {"pc", mask(Pc)},
            {"pd", mask(Pd)},
            {"pe", mask(Pe)},
            {"pf", mask(Pf)},
            {"pi", mask(Pi)},
            {"po", mask(Po)},
            {"privateuse", mask(Co)},
            {"ps", mask(Ps)},
            {"punctuation", P},
            {"s*", S},
            {"sc", mask(Sc)},
            {"separator", Z},
            {"sk", mask(Sk)},
            {"sm", mask(Sm)},
            {"so", mask(So)},
            {"spaceseparator", mask(Zs)},
            {"spacingcombiningmark", mask(Mc)},
            {"surrogate", mask(Cs)},
            {"symbol", S},
            {"titlecase", mask(Lt)},
            {"titlecaseletter", mask(Lt)},
            {"uppercaseletter", mask(Lu)},
            {"z*", Z},
            {"zl", mask(Zl)},
            {"zp", mask(Zp)},
            {"zs", mask(Zs)},
        };
        for (const Entry& e : table)
            if (name == e.name)
                return e.mask;
        return 0;
    }
};

}  // namespace RegexEngine

#endif

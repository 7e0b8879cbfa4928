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

}  // namespace UnicodeClasses

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

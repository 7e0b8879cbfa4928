// The Unicode mode of the expression object, for the algorithms over any
// object type: an object takes part when it has the members
//   bool Unicode;                                            // the switch
//   std::shared_ptr<const UnicodeExpression> UnicodeCompiled; // its compilation
// Objects without them (and objects with the switch off) work in byte mode.
// In the mode the object's compilation is UnicodeCompiled; CompiledExpression
// is left as it was and not used for matching.
#ifndef QUORVEX_ENGINE_UNICODEOBJECT_H
#define QUORVEX_ENGINE_UNICODEOBJECT_H

#include <memory>
#include <type_traits>
#include <utility>

#include "Unicodeexpression.h"

namespace RegexEngine {

template <class Object, class = void>
struct HasUnicodeMode : std::false_type {};
template <class Object>
struct HasUnicodeMode<Object, std::void_t<decltype(std::declval<Object&>().Unicode),
                                          decltype(std::declval<Object&>().UnicodeCompiled)>> : std::true_type {};

template <class Object>
bool UnicodeOn(const Object& o)
{
    if constexpr (HasUnicodeMode<Object>::value)
        return o.Unicode;
    else
        return false;
}

// The object's Unicode compilation when the mode is on (after
// ParseExpression), else null. A copy of the pointer keeps the compilation
// alive for a scan whose handler recompiles the object.
template <class Object>
std::shared_ptr<const UnicodeExpression> UnicodeExpressionOf(const Object& o)
{
    if constexpr (HasUnicodeMode<Object>::value)
        return o.Unicode ? o.UnicodeCompiled : nullptr;
    else
        return nullptr;
}

template <class Object>
void SetUnicode(Object& o, bool on)
{
    if (o.Unicode == on)
        return;
    o.Unicode = on;
    o.ExpressionParsed = false;
}

// ParseExpression in the mode: compiles once per change, like byte mode.
template <class Object>
unsigned char ParseUnicodeExpression(Object& o)
{
    if constexpr (HasUnicodeMode<Object>::value) {
        if (!o.ExpressionParsed || o.UnicodeCompiled == nullptr) {
            if (o.Expression.empty())
                return 1;
            o.UnicodeCompiled = UnicodeExpression::Compile(o.Expression, o.GetFlagOptions());
            o.ExpressionParsed = true;
        }
        return o.ConvertREXResult(static_cast<unsigned>(o.UnicodeCompiled->Status()));
    } else {
        return 1;  // never called: such objects have no Unicode mode
    }
}

// The switch and the compilation travel with copies and count in comparisons.
template <class Object>
void AssignUnicodeSettings(Object& to, const Object& from)
{
    if constexpr (HasUnicodeMode<Object>::value) {
        to.Unicode = from.Unicode;
        to.UnicodeCompiled = from.UnicodeCompiled;
    }
}

template <class Object>
bool SameUnicodeSettings(const Object& a, const Object& b)
{
    if constexpr (HasUnicodeMode<Object>::value)
        return a.Unicode == b.Unicode;
    else
        return true;
}

}  // namespace RegexEngine

#endif

// The expression object's settings: defaults, copying, comparison, option
// sets, lazy compilation and its error text, as algorithms over any object
// type with the members of the expression object (see Objecttraits.h).
//
// Lazy compilation: changing the expression or the compile options only
// clears ExpressionParsed; the next operation that needs the compiled
// expression calls ParseExpression, which compiles once per change and keeps
// the outcome, success or error code, until the next change.
#ifndef QUORVEX_ENGINE_OBJECTSETTINGS_H
#define QUORVEX_ENGINE_OBJECTSETTINGS_H

#include <string>

#include "Compilation.h"
#include "Optionrules.h"
#include "Unicodeobject.h"

namespace RegexEngine {

// ---- Construction, copying, comparison --------------------------------

template <class Object>
void DefaultSettings(Object& o)
{
    DefaultCompileOptions(o.ExpressionOptions);
    DefaultMatchOptions(o.MatchOptions);
}

// What copying and assignment carry over: the settings and the compiled
// state, in declaration order. Not the locale, not the working state, not
// the event slots (their number differs between objects).
template <class Object>
void AssignSettings(Object& to, const Object& from)
{
    to.ExpressionOptions = from.ExpressionOptions;
    to.MatchOptions = from.MatchOptions;
    to.Expression = from.Expression;
    to.StringToMatch = from.StringToMatch;
    to.FilesToMatch = from.FilesToMatch;
    to.FormatString = from.FormatString;
    to.SaveExtension = from.SaveExtension;
    to.DirectoryRecursion = from.DirectoryRecursion;
    to.MergeCopy = from.MergeCopy;
    to.ExpressionParsed = from.ExpressionParsed;
    to.CompiledExpression = from.CompiledExpression;
    AssignUnicodeSettings(to, from);
}

// Equality of the settings only: locale, compiled state, handlers and
// working state are ignored.
template <class Object>
bool SameSettings(const Object& a, const Object& b)
{
    return a.ExpressionOptions == b.ExpressionOptions && a.MatchOptions == b.MatchOptions &&
           a.Expression == b.Expression && a.StringToMatch == b.StringToMatch &&
           a.FilesToMatch == b.FilesToMatch && a.FormatString == b.FormatString &&
           a.SaveExtension == b.SaveExtension && a.DirectoryRecursion == b.DirectoryRecursion &&
           a.MergeCopy == b.MergeCopy && SameUnicodeSettings(a, b);
}

// ---- Option sets --------------------------------------------------------

template <class Object>
void AddExpressionOption(Object& o, unsigned option)
{
    if (AddCompileOption(o.ExpressionOptions, option))
        o.ExpressionParsed = false;
}

template <class Object>
void DeleteExpressionOption(Object& o, unsigned option)
{
    if (DeleteCompileOption(o.ExpressionOptions, option))
        o.ExpressionParsed = false;
}

template <class Object>
void ClearExpressionOptions(Object& o)
{
    if (!o.ExpressionOptions.empty()) {
        o.ExpressionOptions.clear();
        o.ExpressionParsed = false;
    }
}

// Whole-set replacement (for objects whose options are set as a whole).
template <class Object, class Set>
void SetOptions(Object& o, const Set& options)
{
    if (ReplaceCompileOptions(o.ExpressionOptions, options))
        o.ExpressionParsed = false;
}

// A stored set of compile options put back exactly as it was stored (for
// example read back from a form file), without the whole-set rules: those
// compare the stored set with whatever the object held before, and from the
// defaults they would strip a stored set without a composite of the
// components of Normal. A changed set marks the expression as not compiled.
template <class Object, class Set>
void RestoreOptions(Object& o, const Set& options)
{
    if (o.ExpressionOptions == options)
        return;
    o.ExpressionOptions = options;
    o.ExpressionParsed = false;
}

template <class Object, class Set>
void SetMatches(Object& o, const Set& options)
{
    ReplaceMatchingOptions(o.MatchOptions, options);
}

// ---- Expression, compilation, errors -------------------------------------

template <class Object>
void SetExpression(Object& o, const std::string& text)
{
    o.Expression = text;
    o.ExpressionParsed = false;
}

// 0 when the expression compiled; 1 for an empty expression (nothing is
// compiled, and the test repeats on every call); otherwise the engine's
// error code, truncated to one byte.
template <class Object>
unsigned char ParseExpression(Object& o)
{
    if (UnicodeOn(o))
        return ParseUnicodeExpression(o);
    if (o.ExpressionParsed)
        return o.ConvertREXResult(static_cast<unsigned>(o.CompiledExpression.status()));
    if (o.Expression.empty())
        return 1;
    const int code = CompileExpression(o.CompiledExpression, o.Expression, o.GetFlagOptions(), o.ExpressionLocale);
    o.ExpressionParsed = true;
    return o.ConvertREXResult(static_cast<unsigned>(code));
}

// The engine's message for a failed compilation; empty when the expression
// compiled or has not been compiled since it last changed.
template <class Object>
std::string ExpressionError(const Object& o)
{
    if (!o.ExpressionParsed)
        return std::string();
    if (const auto unicode = UnicodeExpressionOf(o))
        return unicode->ErrorText();
    return CompilationErrorText(o.CompiledExpression, o.Expression);
}

// The byte offset in the expression at which its compilation failed, or -1
// when it compiled, has not been compiled since it last changed, the engine
// gives no place, or the expression is a Unicode-mode one.
template <class Object>
long ExpressionErrorPosition(const Object& o)
{
    if (!o.ExpressionParsed || UnicodeExpressionOf(o))
        return -1;
    return DiagnoseCompilation(o.CompiledExpression, o.Expression).Position;
}

// The number of parenthesised sub-expressions of the compiled expression;
// 0 when there is none to count (not compiled, or compilation failed).
template <class Object>
int CompiledSubexpressions(const Object& o)
{
    if (UnicodeOn(o))
        return o.ExpressionParsed && UnicodeExpressionOf(o) ? static_cast<int>(UnicodeExpressionOf(o)->MarkCount()) : 0;
    if (!o.ExpressionParsed || o.CompiledExpression.status() != 0)
        return 0;
    return static_cast<int>(o.CompiledExpression.mark_count());
}

template <class Object>
int NumberOfSubexpressions(Object& o)
{
    if (!o.ExpressionParsed)
        o.ParseExpression();
    return CompiledSubexpressions(o);
}

}  // namespace RegexEngine

#endif

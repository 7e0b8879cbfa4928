// What the shared algorithms need to know about the component (see
// engine/Objecttraits.h): AnsiString texts, 1-based positions in the lists of
// the subject string, closures as the only event slots, its own problem
// record and its own per-thread slot; and how its framework sets are read
// and changed by the option rules. Internal: not installed.
#ifndef QUORVPAK_REGULAREXPRESSIONCUSTOMTRAITS_H
#define QUORVPAK_REGULAREXPRESSIONCUSTOMTRAITS_H

#include <string>

#include "Objecttraits.h"
#include "Optionrules.h"
#include "Regularexpressioncustom.h"

class RegularExpressionTLSStack;

namespace RegexEngine {

// The option rules over a framework set: value n is bit n. Values outside
// the set's range are never members.
template <class T, unsigned char lo, unsigned char hi>
struct OptionSetAccess<System::Set<T, lo, hi>> {
    using Set = System::Set<T, lo, hi>;
    static bool Has(const Set& set, unsigned value) { return value <= hi && set.Contains(static_cast<T>(value)); }
    static void Insert(Set& set, unsigned value) { set << static_cast<T>(value); }
    static void Erase(Set& set, unsigned value) { set >> static_cast<T>(value); }
};

template <>
struct ObjectTraits<RegexComponent::RegularExpressionCustom> {
    using Object = RegexComponent::RegularExpressionCustom;
    using Record = RegexComponent::REMatch;
    using List = RegexComponent::REMatchInfo;
    using FileText = System::AnsiString;
    using Problem = Object::FileChangeProblem;

    static constexpr int StringPositionBase = 1;

    // The text of a sub-match, up to its first NUL.
    static System::AnsiString MakeText(const char* first, const char* last)
    {
        return System::AnsiString(first, static_cast<std::size_t>(last - first));
    }
    static System::AnsiString MakeFileText(const char* file) { return System::AnsiString(file); }

    // The component has closures only: each handler's function part is a
    // null function pointer of the event's parameter list.
    using MatchingFunction = void (*)(Object*, const List&, unsigned, unsigned);
    using GreppingFunction = void (*)(Object*, const List&, unsigned, unsigned, bool&);
    using FileMatchesFunction = void (*)(Object*, System::AnsiString, const List&, unsigned, bool&);
    using FindFilesFunction = void (*)(Object*, System::AnsiString, bool&);

    static auto OnMatching(const Object& o) { return MakeHandler(MatchingFunction(), o.OnMatching); }
    static auto OnSearching(const Object& o) { return MakeHandler(MatchingFunction(), o.OnSearching); }
    static auto OnGrepping(const Object& o) { return MakeHandler(GreppingFunction(), o.OnGrepping); }
    static auto OnMerging(const Object& o) { return MakeHandler(GreppingFunction(), o.OnMerging); }
    static auto OnGreppingFiles(const Object& o) { return MakeHandler(FileMatchesFunction(), o.OnGreppingFiles); }
    static auto OnFindFiles(const Object& o) { return MakeHandler(FindFilesFunction(), o.OnFindFiles); }
    static auto OnChangingFiles(const Object& o) { return MakeHandler(FileMatchesFunction(), o.OnChangingFiles); }

    static Problem MakeProblem(const std::string& file, unsigned char reason, unsigned position,
                               const std::string& text, unsigned error)
    {
        Problem problem;
        problem.FileName = System::AnsiString(file);
        problem.Reason = static_cast<Object::ProblemReason>(reason);
        problem.FilePosition = position;
        problem.Text = System::AnsiString(text);
        problem.SystemError = error;
        return problem;
    }

    // Defined with the package's per-thread stack, in Regularexpressioncustom.cpp.
    static RegularExpressionTLSStack& ThreadStack();
};

}  // namespace RegexEngine

#endif

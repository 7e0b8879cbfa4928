// The seam between the shared algorithms and the two public object classes.
//
// The class library's RegularExpression and the component package's
// RegularExpressionCustom have the same members under the same names and run
// the same algorithms; they differ in a few types and rules. The algorithms
// live once, in engine/, as function templates over the object type that
// read and write the object's public members by name. Everything that differs
// between the two objects is asked of ObjectTraits<Object>, which each
// library specialises for its own class (class/Regularexpressiontraits.h,
// component/...). Each shared library instantiates its own copy, with hidden
// symbols.
//
// A specialisation provides:
//   using Record   = ...;   // the match record: { Text, Position }
//   using List     = ...;   // std::vector<Record>
//   using FileText = ...;   // the type of the `file` argument of file events
//   using Problem  = ...;   // the object's FileChangeProblem
//   static constexpr int StringPositionBase;        // 0, or 1 (component)
//   static TextOf<Record> MakeText(const char* first, const char* last);
//   static FileText MakeFileText(const char* file);
//   static EventHandler<...> OnMatching(const Object&);  // and the other six events:
//        OnSearching, OnGrepping, OnMerging, OnGreppingFiles, OnFindFiles, OnChangingFiles
//   static Problem MakeProblem(const std::string& file, unsigned char reason,
//                              unsigned position, const std::string& text, unsigned error);
//   static RegularExpressionTLSStack& ThreadStack();   // this library's per-thread slot
//
// An object whose option sets are not std::sets also specialises
// OptionSetAccess for its set type (Optionrules.h), and an object that hands
// the engine's grep a predicate closure of its own has the members that
// Scanpredicate.h describes.
#ifndef QUORVEX_ENGINE_OBJECTTRAITS_H
#define QUORVEX_ENGINE_OBJECTTRAITS_H

#include <utility>

namespace RegexEngine {

template <class Object>
struct ObjectTraits;

// A snapshot of one event's two slots (plain function and closure), taken
// when an operation starts so that a handler replacing the handler does not
// change what the running operation calls. The function slot wins; the event
// counts as attached when either slot is set.
template <class Function, class ClosureType>
struct EventHandler {
    Function function = nullptr;
    ClosureType closure;

    explicit operator bool() const noexcept { return function != nullptr || closure.IsSet(); }

    template <class... Args>
    void operator()(Args&&... args) const
    {
        if (function != nullptr)
            function(std::forward<Args>(args)...);
        else
            closure(std::forward<Args>(args)...);
    }
};

template <class Function, class ClosureType>
EventHandler<Function, ClosureType> MakeHandler(Function function, const ClosureType& closure)
{
    return EventHandler<Function, ClosureType>{function, closure};
}

}  // namespace RegexEngine

#endif

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

// The third slot of an object without one: never set.
struct NoCallable {
    explicit operator bool() const noexcept { return false; }
    template <class... Args>
    void operator()(Args&&...) const noexcept
    {
    }
};

// A snapshot of one event's slots (plain function, closure, and for objects
// that have one any callable), taken when an operation starts so that a
// handler replacing the handler does not change what the running operation
// calls. The function slot wins, then the closure; the event counts as
// attached when any slot is set.
template <class Function, class ClosureType, class Callable = NoCallable>
struct EventHandler {
    Function function = nullptr;
    ClosureType closure;
    Callable callable;

    explicit operator bool() const noexcept
    {
        return function != nullptr || closure.IsSet() || static_cast<bool>(callable);
    }

    template <class... Args>
    void operator()(Args&&... args) const
    {
        if (function != nullptr)
            function(std::forward<Args>(args)...);
        else if (closure.IsSet())
            closure(std::forward<Args>(args)...);
        else
            callable(std::forward<Args>(args)...);
    }
};

template <class Function, class ClosureType>
EventHandler<Function, ClosureType> MakeHandler(Function function, const ClosureType& closure)
{
    return EventHandler<Function, ClosureType>{function, closure, NoCallable()};
}

template <class Function, class ClosureType, class Callable>
EventHandler<Function, ClosureType, Callable> MakeHandler(Function function, const ClosureType& closure,
                                                          const Callable& callable)
{
    return EventHandler<Function, ClosureType, Callable>{function, closure, callable};
}

}  // namespace RegexEngine

#endif

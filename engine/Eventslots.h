// The event slots of the objects: the rule that keeps at most one of an
// event's slots (plain function, closure, and where the object has it any
// callable) set, and the copy of every slot that copying and assignment make.
#ifndef QUORVEX_ENGINE_EVENTSLOTS_H
#define QUORVEX_ENGINE_EVENTSLOTS_H

#include <type_traits>
#include <utility>

namespace RegexEngine {

// Setting one slot clears the other, unless what is set is itself unset (a
// null function, or a closure without a member function), which leaves the
// other slot alone.

template <class Function, class ClosureType>
void SetFunctionSlot(Function& function, ClosureType& closure, Function handler)
{
    function = handler;
    if (handler != nullptr)
        closure = ClosureType();
}

template <class Function, class ClosureType>
void SetClosureSlot(Function& function, ClosureType& closure, const ClosureType& handler)
{
    closure = handler;
    if (handler.IsSet())
        function = nullptr;
}

// For objects with a third slot of any callable: setting a non-empty callable
// clears the function and closure slots; setting the other two to something
// set clears the callable (their setters do that).
template <class Function, class ClosureType, class Callable>
void SetCallableSlot(Function& function, ClosureType& closure, Callable& callable, Callable handler)
{
    callable = std::move(handler);
    if (callable) {
        function = nullptr;
        closure = ClosureType();
    }
}

template <class Object, class = void>
struct HasCallableSlots : std::false_type {};
template <class Object>
struct HasCallableSlots<Object, std::void_t<decltype(&Object::OnMatchingHandler)>> : std::true_type {};

template <class Object, class = void>
struct HasClosureSlots : std::false_type {};
template <class Object>
struct HasClosureSlots<Object, std::void_t<decltype(&Object::OnMatchingClosure)>> : std::true_type {};

// Copies the seven events of `from` into `to`: the slots named after the
// events and, for an object that also has plain-function slots beside them,
// the closure slots `On...Closure`.
template <class Object>
void CopyEventSlots(Object& to, const Object& from)
{
    to.OnMatching = from.OnMatching;
    to.OnSearching = from.OnSearching;
    to.OnGrepping = from.OnGrepping;
    to.OnGreppingFiles = from.OnGreppingFiles;
    to.OnFindFiles = from.OnFindFiles;
    to.OnMerging = from.OnMerging;
    to.OnChangingFiles = from.OnChangingFiles;
    if constexpr (HasClosureSlots<Object>::value) {
        to.OnMatchingClosure = from.OnMatchingClosure;
        to.OnSearchingClosure = from.OnSearchingClosure;
        to.OnGreppingClosure = from.OnGreppingClosure;
        to.OnGreppingFilesClosure = from.OnGreppingFilesClosure;
        to.OnFindFilesClosure = from.OnFindFilesClosure;
        to.OnMergingClosure = from.OnMergingClosure;
        to.OnChangingFilesClosure = from.OnChangingFilesClosure;
    }
    if constexpr (HasCallableSlots<Object>::value) {
        to.OnMatchingHandler = from.OnMatchingHandler;
        to.OnSearchingHandler = from.OnSearchingHandler;
        to.OnGreppingHandler = from.OnGreppingHandler;
        to.OnGreppingFilesHandler = from.OnGreppingFilesHandler;
        to.OnFindFilesHandler = from.OnFindFilesHandler;
        to.OnMergingHandler = from.OnMergingHandler;
        to.OnChangingFilesHandler = from.OnChangingFilesHandler;
    }
}

}  // namespace RegexEngine

#endif

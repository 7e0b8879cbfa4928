// The rule that keeps at most one of an event's two slots (plain function,
// closure) set: setting one of them clears the other, unless what is set is
// itself unset (a null function, or a closure without a member function),
// which leaves the other slot alone.
#ifndef QUORVEX_ENGINE_EVENTSLOTS_H
#define QUORVEX_ENGINE_EVENTSLOTS_H

namespace RegexEngine {

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

}  // namespace RegexEngine

#endif

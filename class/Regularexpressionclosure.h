// Closure: a member function bound to an object, stored as a plain value.
//
// An event can be attached as a free function or as a closure. A closure keeps
// both of its parts, the object and the member function, exactly as they were
// given, so that an accessor can hand them back unchanged; it counts as set
// when its member-function part is non-null, whatever the object part holds.
//
//   struct Log { void OnGrep(RegularExpression*, const REMatchInfo&, unsigned, unsigned, bool&); };
//   Log log;
//   re.SetOnGreppingClosure(RegexClass::Bind(&log, &Log::OnGrep));
//
// Header only: the class library and the component package share this type.
#ifndef QUORVEX_REGULAREXPRESSIONCLOSURE_H
#define QUORVEX_REGULAREXPRESSIONCLOSURE_H

#include <cstring>
#include <utility>

namespace RegexClass {

template <class Signature>
class Closure;

template <class R, class... Args>
class Closure<R(Args...)> {
public:
    // The member-function part: an opaque copy of a pointer to member function
    // together with the thunk that calls it. Null when no method is bound.
    class Method {
    public:
        Method() noexcept = default;
        explicit operator bool() const noexcept { return call_ != nullptr; }
        bool operator==(const Method& other) const noexcept
        {
            return call_ == other.call_ && std::memcmp(bytes_, other.bytes_, sizeof bytes_) == 0;
        }
        bool operator!=(const Method& other) const noexcept { return !(*this == other); }

    private:
        friend class Closure;
        using Thunk = R (*)(const Method&, void*, Args...);
        // Large enough for a pointer to member function on every ABI we build for.
        alignas(void*) unsigned char bytes_[2 * sizeof(void*)] = {};
        Thunk call_ = nullptr;
    };

    Closure() noexcept = default;

    // Binds a member function to an object. A null member function gives a
    // closure that is not set but still remembers the object.
    template <class T>
    Closure(T* object, R (T::*method)(Args...)) noexcept : object_(object)
    {
        store(method);
    }
    template <class T>
    Closure(T* object, R (T::*method)(Args...) const) noexcept : object_(object)
    {
        store(method);
    }

    void* Object() const noexcept { return object_; }
    const Method& GetMethod() const noexcept { return method_; }
    bool IsSet() const noexcept { return static_cast<bool>(method_); }
    explicit operator bool() const noexcept { return IsSet(); }

    // Calls the bound member function; only valid when IsSet().
    R operator()(Args... args) const
    {
        return method_.call_(method_, object_, std::forward<Args>(args)...);
    }

    bool operator==(const Closure& other) const noexcept
    {
        return object_ == other.object_ && method_ == other.method_;
    }
    bool operator!=(const Closure& other) const noexcept { return !(*this == other); }

private:
    template <class Pointer>
    void store(Pointer method) noexcept
    {
        static_assert(sizeof(Pointer) <= sizeof(method_.bytes_), "pointer to member too large");
        if (method == nullptr)
            return;
        std::memcpy(method_.bytes_, &method, sizeof method);
        method_.call_ = &invoke<Pointer>;
    }

    template <class Pointer>
    static R invoke(const Method& method, void* object, Args... args)
    {
        Pointer pointer;
        std::memcpy(&pointer, method.bytes_, sizeof pointer);
        using Class = typename MemberClass<Pointer>::type;
        return (static_cast<Class*>(object)->*pointer)(std::forward<Args>(args)...);
    }

    template <class Pointer>
    struct MemberClass;
    template <class T>
    struct MemberClass<R (T::*)(Args...)> { using type = T; };
    template <class T>
    struct MemberClass<R (T::*)(Args...) const> { using type = const T; };

    void* object_ = nullptr;
    Method method_;
};

// One-line binding: Bind(&handler, &Handler::OnMatch) gives the closure type
// of the member function's parameter list.
template <class T, class R, class... Args>
Closure<R(Args...)> Bind(T* object, R (T::*method)(Args...)) noexcept
{
    return Closure<R(Args...)>(object, method);
}
template <class T, class R, class... Args>
Closure<R(Args...)> Bind(T* object, R (T::*method)(Args...) const) noexcept
{
    return Closure<R(Args...)>(object, method);
}

}  // namespace RegexClass

#endif

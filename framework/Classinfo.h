// Vcl::ClassInfo: how a framework class describes itself.
//
// A class writes its description once, in its StaticClass(), listing its
// published properties in declaration order with their type, where each one is
// read and written (a data member or an accessor), its default and its stored
// condition, then its published methods and whether the framework may create
// it from its class:
//
//   Vcl::TClass Clock::StaticClass()
//   {
//       static const Vcl::TMetaClass meta =
//           Vcl::ClassInfo<Clock>("Clock", "Clockunit", Vcl::TComponent::StaticClass())
//               .Property("Interval", Vcl::TTypeInfo::Integer(), &Clock::Interval, &Clock::SetInterval)
//               .Default(1000)
//               .Property("Caption", Vcl::TTypeInfo::String(), &Clock::GetCaption, &Clock::SetCaption)
//               .Property("OnTick", TickEventType(), &Clock::OnTick, &Clock::OnTick)
//               .Constructible()
//               .Build();
//       return &meta;
//   }
//
// A reader is a data member or a const member function without parameters; a
// writer is a data member, a member function taking the value (by value or by
// constant reference), or nullptr for a read-only property. The C++ type of
// the value decides which kinds of type information fit: an integral type an
// Integer, bool or an enumeration an Enumeration, a System::Set a Set,
// System::AnsiString a String and a System::Closure a Method. A description
// that does not fit raises std::logic_error when it is built: that is a fault
// in the program, not in its input.
#ifndef QUORVEX_FRAMEWORK_CLASSINFO_H
#define QUORVEX_FRAMEWORK_CLASSINFO_H

#include "Classes.h"
#include "Closures.h"
#include "Frameworkset.h"
#include "Typeinfo.h"

#include <any>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace Vcl {

namespace ClassInfoDetail {

// How a C++ value type maps onto a property kind.
template <class V, class = void>
struct Codec {
    static constexpr bool supported = false;
};
template <>
struct Codec<bool> {
    static constexpr bool supported = true;
    static constexpr TTypeKind kind = TTypeKind::Enumeration;
    static Ordinal ToOrd(bool value) { return value ? 1 : 0; }
    static bool FromOrd(Ordinal value) { return value != 0; }
};
template <class V>
struct Codec<V, std::enable_if_t<std::is_integral<V>::value && !std::is_same<V, bool>::value>> {
    static constexpr bool supported = true;
    static constexpr TTypeKind kind = TTypeKind::Integer;
    static Ordinal ToOrd(V value) { return static_cast<Ordinal>(value); }
    static V FromOrd(Ordinal value) { return static_cast<V>(value); }
};
template <class V>
struct Codec<V, std::enable_if_t<std::is_enum<V>::value>> {
    static constexpr bool supported = true;
    static constexpr TTypeKind kind = TTypeKind::Enumeration;
    static Ordinal ToOrd(V value) { return static_cast<Ordinal>(value); }
    static V FromOrd(Ordinal value) { return static_cast<V>(value); }
};
template <class T, unsigned char lo, unsigned char hi>
struct Codec<System::Set<T, lo, hi>> {
    static constexpr bool supported = true;
    static constexpr TTypeKind kind = TTypeKind::Set;
    static constexpr int highest = hi;
    static Ordinal ToOrd(const System::Set<T, lo, hi>& value) { return value.ToInt(); }
    static System::Set<T, lo, hi> FromOrd(Ordinal value)
    {
        return System::Set<T, lo, hi>::FromInt(static_cast<std::uint32_t>(value));
    }
};
template <>
struct Codec<System::AnsiString> {
    static constexpr bool supported = true;
    static constexpr TTypeKind kind = TTypeKind::String;
};
template <class Signature>
struct Codec<System::Closure<Signature>> {
    static constexpr bool supported = true;
    static constexpr TTypeKind kind = TTypeKind::Method;
};

// Readers: a data member or a const getter.
template <class P>
struct Reader;
template <class V, class B>
struct Reader<V B::*> {
    static_assert(!std::is_function<V>::value, "a getter must be a const member function without parameters");
    using Value = V;
    using Class = B;
    static constexpr TAccess access = TAccess::Member;
    static const V& Get(const B& object, V B::*member) { return object.*member; }
};
template <class R, class B>
struct Reader<R (B::*)() const> {
    using Value = std::decay_t<R>;
    using Class = B;
    static constexpr TAccess access = TAccess::Method;
    static Value Get(const B& object, R (B::*getter)() const) { return (object.*getter)(); }
};
template <class R, class B>
struct Reader<R (B::*)() const noexcept> {
    using Value = std::decay_t<R>;
    using Class = B;
    static constexpr TAccess access = TAccess::Method;
    static Value Get(const B& object, R (B::*getter)() const noexcept) { return (object.*getter)(); }
};

// Writers: a data member, a setter, or nullptr.
template <class P>
struct Writer;
template <>
struct Writer<std::nullptr_t> {
    using Class = void;
    static constexpr TAccess access = TAccess::None;
};
template <class V, class B>
struct Writer<V B::*> {
    static_assert(!std::is_function<V>::value, "a setter must take exactly the value");
    using Value = V;
    using Class = B;
    static constexpr TAccess access = TAccess::Member;
    static void Set(B& object, V B::*member, const V& value) { object.*member = value; }
};
template <class A, class B>
struct Writer<void (B::*)(A)> {
    using Value = std::decay_t<A>;
    using Class = B;
    static constexpr TAccess access = TAccess::Method;
    static void Set(B& object, void (B::*setter)(A), const Value& value) { (object.*setter)(value); }
};
template <class A, class B>
struct Writer<void (B::*)(A) noexcept> {
    using Value = std::decay_t<A>;
    using Class = B;
    static constexpr TAccess access = TAccess::Method;
    static void Set(B& object, void (B::*setter)(A) noexcept, const Value& value) { (object.*setter)(value); }
};

}  // namespace ClassInfoDetail

template <class C>
class ClassInfo {
    static_assert(std::is_base_of<TObject, C>::value, "not a framework class");

public:
    // `name` is the class name that form files use, `unitName` the unit the
    // class belongs to, `parent` the description of its base class.
    ClassInfo(std::string name, std::string unitName, TClass parent)
        : meta_(std::move(name), std::move(unitName), parent)
    {
    }

    // Adds a published property (see the opening comment). Its default is 0,
    // it is always stored.
    template <class ReadAccess, class WriteAccess>
    ClassInfo& Property(std::string name, const TTypeInfo& type, ReadAccess read, WriteAccess write)
    {
        using R = ClassInfoDetail::Reader<ReadAccess>;
        using W = ClassInfoDetail::Writer<WriteAccess>;
        using V = typename R::Value;
        using Codec = ClassInfoDetail::Codec<V>;
        static_assert(Codec::supported, "no property kind for this value type");
        static_assert(std::is_base_of<typename R::Class, C>::value, "the reader is not a member of this class");
        if constexpr (W::access != TAccess::None) {
            static_assert(std::is_same<typename W::Value, V>::value, "reader and writer disagree on the value type");
            static_assert(std::is_base_of<typename W::Class, C>::value, "the writer is not a member of this class");
        }
        if (type.Kind() != Codec::kind)
            throw std::logic_error("Property " + name + " of " + meta_.ClassName() +
                                   ": the type information does not fit the value type");
        if constexpr (Codec::kind == TTypeKind::Set) {
            if (type.CompType()->MaxValue() > Codec::highest)
                throw std::logic_error("Property " + name + " of " + meta_.ClassName() +
                                       ": the set type has more elements than the set holds");
        }

        const std::string className = meta_.ClassName();
        auto get = [read, className](const TObject& object) -> V {
            return R::Get(Self(object, className), read);
        };
        TPropInfo::Accessors accessors;
        if constexpr (Codec::kind == TTypeKind::String) {
            accessors.getStr = get;
        } else if constexpr (Codec::kind == TTypeKind::Method) {
            accessors.getMethod = [get](const TObject& object) { return std::any(get(object)); };
            accessors.methodAssigned = [get](const TObject& object) { return get(object).IsSet(); };
        } else {
            accessors.getOrd = [get](const TObject& object) { return Codec::ToOrd(get(object)); };
        }
        if constexpr (W::access != TAccess::None) {
            auto set = [write, className](TObject& object, const V& value) {
                W::Set(Self(object, className), write, value);
            };
            if constexpr (Codec::kind == TTypeKind::String) {
                accessors.setStr = set;
            } else if constexpr (Codec::kind == TTypeKind::Method) {
                const std::string propertyName = name;
                accessors.setMethod = [set, propertyName](TObject& object, const std::any& value) {
                    const V* closure = std::any_cast<V>(&value);
                    if (closure == nullptr)
                        throw EComponentError("Property " + propertyName + ": the handler has another event type");
                    set(object, *closure);
                };
            } else {
                accessors.setOrd = [set](TObject& object, Ordinal value) { set(object, Codec::FromOrd(value)); };
            }
        }
        meta_.OwnProperties().emplace_back(std::move(name), type, R::access, W::access, std::move(accessors));
        return *this;
    }

    // The recorded default of the property added last.
    ClassInfo& Default(Ordinal value)
    {
        last().SetDefault(true, value);
        return *this;
    }
    // The property added last has no default: the form writer always stores it.
    ClassInfo& NoDefault()
    {
        last().SetDefault(false, 0);
        return *this;
    }
    // The property added last is stored always (true) or never (false).
    ClassInfo& Stored(bool stored)
    {
        last().SetStored(stored ? TStored::Always : TStored::Never, nullptr);
        return *this;
    }
    // The property added last is stored when `predicate` answers true.
    template <class B>
    ClassInfo& StoredWhen(bool (B::*predicate)() const)
    {
        static_assert(std::is_base_of<B, C>::value, "the predicate is not a member of this class");
        const std::string className = meta_.ClassName();
        last().SetStored(TStored::Method, [predicate, className](const TObject& object) {
            const B& self = Self(object, className);
            return (self.*predicate)();
        });
        return *this;
    }

    // Publishes a member function as a handler that form files can name.
    template <class B, class R, class... Args>
    ClassInfo& Method(std::string name, R (B::*method)(Args...))
    {
        static_assert(std::is_base_of<B, C>::value, "the method is not a member of this class");
        using Event = System::Closure<R(Args...)>;
        const std::string className = meta_.ClassName();
        TMethodEntry entry;
        entry.Name = std::move(name);
        entry.Bind = [method, className](TObject& object) {
            B& self = Self(object, className);
            return std::any(Event(&self, method));
        };
        entry.Is = [method, className](TObject& object, const std::any& closure) {
            const Event* event = std::any_cast<Event>(&closure);
            B& self = Self(object, className);
            return event != nullptr && *event == Event(&self, method);
        };
        meta_.OwnMethods().push_back(std::move(entry));
        return *this;
    }

    // Lets the framework create the class with an owner: new C(owner).
    ClassInfo& Constructible()
    {
        static_assert(std::is_base_of<TComponent, C>::value, "only components are constructed by class");
        meta_.SetFactory([](TComponent* owner) -> TComponent* { return new C(owner); });
        return *this;
    }

    // The finished description. std::logic_error for a property name that is
    // not an identifier or that the class or an ancestor already publishes.
    TMetaClass Build()
    {
        auto& own = meta_.OwnProperties();
        for (std::size_t i = 0; i < own.size(); ++i) {
            const std::string& name = own[i].Name();
            bool taken = !IsValidIdent(name) ||
                         (meta_.ClassParent() != nullptr && meta_.ClassParent()->FindProperty(name) != nullptr);
            for (std::size_t j = 0; j < i && !taken; ++j)
                taken = SameText(own[j].Name(), name);
            if (taken)
                throw std::logic_error("Property name " + name + " of " + meta_.ClassName() +
                                       " is not an identifier or is published twice");
        }
        return std::move(meta_);
    }

private:
    TPropInfo& last()
    {
        if (meta_.OwnProperties().empty())
            throw std::logic_error("No property to qualify in " + meta_.ClassName());
        return meta_.OwnProperties().back();
    }

    // The object as an instance of the described class, checked.
    template <class Object>
    static auto& Self(Object& object, const std::string& className)
    {
        using Target = std::conditional_t<std::is_const<Object>::value, const C, C>;
        Target* self = dynamic_cast<Target*>(&object);
        if (self == nullptr)
            throw EComponentError("A " + object.ClassName() + " has not the properties of " + className);
        return *self;
    }

    TMetaClass meta_;
};

}  // namespace Vcl

#endif

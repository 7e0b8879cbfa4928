// Published-property type information.
//
// Every framework class describes itself with a TMetaClass: its name, its
// parent, the unit it belongs to, its published properties in declaration
// order, its published methods (the handlers a form file can name), and,
// for components, how to construct it from its class with an owner. The
// description is written once per class with the Vcl::ClassInfo builder
// (Classinfo.h); this header holds what the form reader, the form writer,
// the designer and the property inspector read.
//
// Property types are described by TTypeInfo:
//   Integer      a signed 32-bit number, written in decimal;
//   Enumeration  ordinals 0..n-1 with a name each (bool is the enumeration
//                false, true);
//   Set          a set of an enumeration, stored as an integer word with bit n
//                for the value with ordinal n (System::Set);
//   String       System::AnsiString;
//   Method       a closure (an event): parameter names and passing modes.
//
// Ordinal values (integers, enumerations, sets) cross this interface as
// Vcl::Ordinal; texts as System::AnsiString; closures as a std::any holding
// the property's exact closure type.
#ifndef QUORVEX_FRAMEWORK_TYPEINFO_H
#define QUORVEX_FRAMEWORK_TYPEINFO_H

#include "Ansistring.h"
#include "Frameworkexport.h"

#include <any>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Vcl {

class TObject;
class TComponent;
class TMetaClass;

// A class reference: the description of one framework class.
using TClass = const TMetaClass*;

// An integer, enumeration or set value.
using Ordinal = std::int64_t;

enum class TTypeKind {
    Integer,      // signed 32-bit integer
    Enumeration,  // named ordinals 0..n-1
    Set,          // set of an enumeration
    String,       // System::AnsiString
    Method        // closure
};

// How an ordinal value is stored.
enum class TOrdType { SByte, UByte, SWord, UWord, SLong, ULong };

// How a closure parameter is passed.
enum class TParamMode {
    Value,          // by value
    Pointer,        // a pointer
    Reference,      // by reference, the callee may change it
    ConstReference  // by constant reference
};

struct TParamInfo {
    std::string Name;
    std::string TypeName;
    TParamMode Mode;
};

// The description of a property type. Made by the factories below, usually
// kept as a function-local static:
//
//   const Vcl::TTypeInfo& ColourType()
//   {
//       static const auto type = Vcl::TTypeInfo::Enumeration("Colour", Vcl::TOrdType::SByte,
//                                                           {"Red", "Green", "Blue"});
//       return type;
//   }
class QUORVEX_FRAMEWORK_API TTypeInfo {
public:
    // int: SLong, -2147483648..2147483647.
    static const TTypeInfo& Integer();
    // bool: an enumeration of UByte storage with the names "false" and "true".
    static const TTypeInfo& Boolean();
    // System::AnsiString.
    static const TTypeInfo& String();
    // An enumeration whose value i is named names[i]. The names must be
    // distinct identifiers (letters, digits, '_', not starting with a digit).
    static TTypeInfo Enumeration(std::string name, TOrdType storage, std::vector<std::string> names);
    // A set of `element` (an enumeration of at most 32 values), stored as an
    // ordinal of `storage`, which must have a bit for every element.
    static TTypeInfo SetOf(std::string name, TOrdType storage, const TTypeInfo& element);
    // A closure type with its parameters in order.
    static TTypeInfo MethodType(std::string name, std::vector<TParamInfo> params,
                                std::string resultType = "void");

    TTypeKind Kind() const noexcept { return kind_; }
    const std::string& Name() const noexcept { return name_; }

    // Integers, enumerations and sets: the storage and the range of values.
    // For a set the range is that of its element type.
    TOrdType OrdType() const noexcept { return ordType_; }
    Ordinal MinValue() const noexcept { return min_; }
    Ordinal MaxValue() const noexcept { return max_; }

    // Enumerations: the enumerator names, and the lookups between name and
    // ordinal. EnumValue ignores letter case and answers -1 for an unknown name;
    // EnumName answers an empty string for an ordinal out of range.
    const std::vector<std::string>& EnumNames() const noexcept { return names_; }
    std::string EnumName(Ordinal value) const;
    Ordinal EnumValue(const std::string& name) const;

    // Sets: the element type.
    const TTypeInfo* CompType() const noexcept { return element_; }

    // Methods: the parameters in order and the result type.
    const std::vector<TParamInfo>& Params() const noexcept { return params_; }
    const std::string& ResultType() const noexcept { return result_; }

private:
    TTypeInfo(TTypeKind kind, std::string name) : kind_(kind), name_(std::move(name)) {}

    TTypeKind kind_;
    std::string name_;
    TOrdType ordType_ = TOrdType::SLong;
    Ordinal min_ = 0;
    Ordinal max_ = 0;
    std::vector<std::string> names_;
    const TTypeInfo* element_ = nullptr;
    std::vector<TParamInfo> params_;
    std::string result_;
};

// Where a property reads or writes its value.
enum class TAccess {
    None,    // no access (a read-only property has no write access)
    Member,  // a data member, directly
    Method   // an accessor member function
};

// When the form writer stores a property.
enum class TStored {
    Always,  // whenever its value differs from the default
    Never,   // never
    Method   // when a predicate member function of the object says so
};

// One published property, with access to its value on an object of its class
// (or of a descendant). Every value access checks the kind of the property
// and the range of the value: ordinals outside the type's range and closures
// of another type are refused with an EComponentError.
class QUORVEX_FRAMEWORK_API TPropInfo {
public:
    // The type-erased accessors made by the ClassInfo builder. Only those of
    // the property's kind are set; a null reader or writer means no access.
    struct Accessors {
        std::function<Ordinal(const TObject&)> getOrd;
        std::function<void(TObject&, Ordinal)> setOrd;
        std::function<System::AnsiString(const TObject&)> getStr;
        std::function<void(TObject&, const System::AnsiString&)> setStr;
        std::function<std::any(const TObject&)> getMethod;
        std::function<bool(const TObject&)> methodAssigned;
        std::function<void(TObject&, const std::any&)> setMethod;
        std::function<bool(const TObject&)> stored;
    };

    TPropInfo(std::string name, const TTypeInfo& type, TAccess read, TAccess write, Accessors accessors);

    const std::string& Name() const noexcept { return name_; }
    const TTypeInfo& PropType() const noexcept { return *type_; }
    TAccess ReadAccess() const noexcept { return read_; }
    TAccess WriteAccess() const noexcept { return write_; }

    // The recorded default: the form writer leaves out an ordinal property
    // whose value equals it. Texts and closures ignore it (an empty text and
    // an unassigned closure are left out instead). A property without a
    // default is always written.
    bool HasDefault() const noexcept { return hasDefault_; }
    Ordinal Default() const noexcept { return default_; }
    TStored Stored() const noexcept { return stored_; }
    // Whether the stored condition holds for `object`.
    bool IsStored(const TObject& object) const;

    Ordinal GetOrd(const TObject& object) const;
    void SetOrd(TObject& object, Ordinal value) const;
    System::AnsiString GetStr(const TObject& object) const;
    void SetStr(TObject& object, const System::AnsiString& value) const;
    // The closure held by the property, as a std::any of its closure type.
    std::any GetMethod(const TObject& object) const;
    bool MethodAssigned(const TObject& object) const;
    // Assigns a closure; `value` must hold the property's closure type.
    void SetMethod(TObject& object, const std::any& value) const;

    // Used by the ClassInfo builder.
    void SetDefault(bool hasDefault, Ordinal value) noexcept { hasDefault_ = hasDefault; default_ = value; }
    void SetStored(TStored stored, std::function<bool(const TObject&)> predicate);

private:
    void requireKind(bool ok, const char* what) const;
    void requireAccess(bool ok, const char* what) const;

    std::string name_;
    const TTypeInfo* type_;
    TAccess read_;
    TAccess write_;
    bool hasDefault_ = true;
    Ordinal default_ = 0;
    TStored stored_ = TStored::Always;
    Accessors accessors_;
};

// A published method: a member function that a form file can name as the
// handler of an event.
struct QUORVEX_FRAMEWORK_API TMethodEntry {
    std::string Name;
    // The closure of this method bound to `object` (an instance of the class
    // that published it), as a std::any of the matching closure type.
    std::function<std::any(TObject& object)> Bind;
    // Whether `closure` is this method bound to `object`.
    std::function<bool(TObject& object, const std::any& closure)> Is;
};

// The description of one framework class.
class QUORVEX_FRAMEWORK_API TMetaClass {
public:
    TMetaClass(std::string name, std::string unitName, TClass parent);

    const std::string& ClassName() const noexcept { return name_; }
    const std::string& UnitName() const noexcept { return unit_; }
    TClass ClassParent() const noexcept { return parent_; }
    // Whether this class is `other` or descends from it.
    bool InheritsFrom(TClass other) const noexcept;

    // The published properties, those of the ancestors first, each class's in
    // declaration order; the position in this list is the property's index.
    std::vector<const TPropInfo*> Properties() const;
    // The published property of that name (letter case ignored), or null.
    const TPropInfo* FindProperty(const std::string& name) const;

    // The published method of that name (letter case ignored), searched in this
    // class and then its ancestors, or null.
    const TMethodEntry* FindMethod(const std::string& name) const;
    // The name of the published method that `closure` binds to `object`, or an
    // empty string when it binds something else.
    std::string MethodName(TObject& object, const std::any& closure) const;

    // Construction by class: only components whose description enables it.
    bool IsConstructible() const noexcept { return static_cast<bool>(factory_); }
    // Creates an instance of this class owned by `owner` (which may be null).
    // EComponentError when the class cannot be constructed by class.
    TComponent* Create(TComponent* owner) const;

    // Used by the ClassInfo builder.
    std::vector<TPropInfo>& OwnProperties() noexcept { return properties_; }
    std::vector<TMethodEntry>& OwnMethods() noexcept { return methods_; }
    void SetFactory(std::function<TComponent*(TComponent*)> factory) { factory_ = std::move(factory); }

private:
    std::string name_;
    std::string unit_;
    TClass parent_;
    std::vector<TPropInfo> properties_;
    std::vector<TMethodEntry> methods_;
    std::function<TComponent*(TComponent*)> factory_;
};

// Letter-case-insensitive comparison of two ASCII names, as the framework
// compares every identifier.
QUORVEX_FRAMEWORK_API bool SameText(const std::string& a, const std::string& b) noexcept;
// Whether `name` is an identifier: a letter or '_', then letters, digits and '_'.
QUORVEX_FRAMEWORK_API bool IsValidIdent(const std::string& name) noexcept;

}  // namespace Vcl

#endif

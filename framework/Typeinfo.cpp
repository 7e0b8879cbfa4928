// Type information: type descriptions, property access with kind and range
// checks, class descriptions.
#include "Typeinfo.h"

#include "Classes.h"
#include "Frameworkerrors.h"

#include <cctype>
#include <limits>
#include <stdexcept>

namespace Vcl {

namespace {

// The number of value bits of an ordinal storage.
int StorageBits(TOrdType type)
{
    switch (type) {
    case TOrdType::SByte:
    case TOrdType::UByte:
        return 8;
    case TOrdType::SWord:
    case TOrdType::UWord:
        return 16;
    case TOrdType::SLong:
    case TOrdType::ULong:
        return 32;
    }
    return 0;
}

}  // namespace

bool SameText(const std::string& a, const std::string& b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool IsValidIdent(const std::string& name) noexcept
{
    if (name.empty())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (!letter && !(i > 0 && c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

// ---- TTypeInfo ----

const TTypeInfo& TTypeInfo::Integer()
{
    static const TTypeInfo type = [] {
        TTypeInfo t(TTypeKind::Integer, "int");
        t.ordType_ = TOrdType::SLong;
        t.min_ = std::numeric_limits<std::int32_t>::min();
        t.max_ = std::numeric_limits<std::int32_t>::max();
        return t;
    }();
    return type;
}

const TTypeInfo& TTypeInfo::Boolean()
{
    static const TTypeInfo type = Enumeration("bool", TOrdType::UByte, {"false", "true"});
    return type;
}

const TTypeInfo& TTypeInfo::String()
{
    static const TTypeInfo type(TTypeKind::String, "AnsiString");
    return type;
}

TTypeInfo TTypeInfo::Enumeration(std::string name, TOrdType storage, std::vector<std::string> names)
{
    if (names.empty() || names.size() > (std::size_t{1} << (StorageBits(storage) - 1)))
        throw std::logic_error("Enumeration " + name + " has no names or more than its storage holds");
    for (std::size_t i = 0; i < names.size(); ++i) {
        bool bad = !IsValidIdent(names[i]);
        for (std::size_t j = 0; j < i && !bad; ++j)
            bad = SameText(names[i], names[j]);
        if (bad)
            throw std::logic_error("Enumeration " + name + ": bad or repeated name " + names[i]);
    }
    TTypeInfo t(TTypeKind::Enumeration, std::move(name));
    t.ordType_ = storage;
    t.min_ = 0;
    t.max_ = static_cast<Ordinal>(names.size()) - 1;
    t.names_ = std::move(names);
    return t;
}

TTypeInfo TTypeInfo::SetOf(std::string name, TOrdType storage, const TTypeInfo& element)
{
    if (element.Kind() != TTypeKind::Enumeration || element.MaxValue() >= StorageBits(storage) ||
        element.MaxValue() >= 32)
        throw std::logic_error("Set " + name + " needs an enumeration that fits its storage");
    TTypeInfo t(TTypeKind::Set, std::move(name));
    t.ordType_ = storage;
    t.min_ = element.MinValue();
    t.max_ = element.MaxValue();
    t.element_ = &element;
    return t;
}

TTypeInfo TTypeInfo::MethodType(std::string name, std::vector<TParamInfo> params, std::string resultType)
{
    TTypeInfo t(TTypeKind::Method, std::move(name));
    t.params_ = std::move(params);
    t.result_ = std::move(resultType);
    return t;
}

std::string TTypeInfo::EnumName(Ordinal value) const
{
    if (value < 0 || value >= static_cast<Ordinal>(names_.size()))
        return std::string();
    return names_[static_cast<std::size_t>(value)];
}

Ordinal TTypeInfo::EnumValue(const std::string& name) const
{
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (SameText(names_[i], name))
            return static_cast<Ordinal>(i);
    return -1;
}

// ---- TPropInfo ----

TPropInfo::TPropInfo(std::string name, const TTypeInfo& type, TAccess read, TAccess write, Accessors accessors)
    : name_(std::move(name)), type_(&type), read_(read), write_(write), accessors_(std::move(accessors))
{
}

void TPropInfo::SetStored(TStored stored, std::function<bool(const TObject&)> predicate)
{
    stored_ = stored;
    accessors_.stored = std::move(predicate);
}

bool TPropInfo::IsStored(const TObject& object) const
{
    switch (stored_) {
    case TStored::Always:
        return true;
    case TStored::Never:
        return false;
    case TStored::Method:
        return accessors_.stored(object);
    }
    return false;
}

void TPropInfo::requireKind(bool ok, const char* what) const
{
    if (!ok)
        throw EComponentError("Property " + name_ + " is not " + what);
}

void TPropInfo::requireAccess(bool ok, const char* what) const
{
    if (!ok)
        throw EComponentError("Property " + name_ + " is " + what);
}

Ordinal TPropInfo::GetOrd(const TObject& object) const
{
    const TTypeKind kind = type_->Kind();
    requireKind(kind == TTypeKind::Integer || kind == TTypeKind::Enumeration || kind == TTypeKind::Set,
                "an ordinal");
    requireAccess(read_ != TAccess::None, "write-only");
    return accessors_.getOrd(object);
}

void TPropInfo::SetOrd(TObject& object, Ordinal value) const
{
    const TTypeKind kind = type_->Kind();
    requireKind(kind == TTypeKind::Integer || kind == TTypeKind::Enumeration || kind == TTypeKind::Set,
                "an ordinal");
    requireAccess(write_ != TAccess::None, "read-only");
    bool inRange;
    if (kind == TTypeKind::Set) {
        // Every bit must belong to an element of the set's range.
        const std::uint64_t bits = static_cast<std::uint64_t>(value);
        const std::uint64_t allowed =
            ((std::uint64_t{1} << (type_->MaxValue() + 1)) - 1) & ~((std::uint64_t{1} << type_->MinValue()) - 1);
        inRange = value >= 0 && (bits & ~allowed) == 0;
    } else {
        inRange = value >= type_->MinValue() && value <= type_->MaxValue();
    }
    if (!inRange)
        throw EComponentError("Value " + std::to_string(value) + " out of range for property " + name_);
    accessors_.setOrd(object, value);
}

System::AnsiString TPropInfo::GetStr(const TObject& object) const
{
    requireKind(type_->Kind() == TTypeKind::String, "a string");
    requireAccess(read_ != TAccess::None, "write-only");
    return accessors_.getStr(object);
}

void TPropInfo::SetStr(TObject& object, const System::AnsiString& value) const
{
    requireKind(type_->Kind() == TTypeKind::String, "a string");
    requireAccess(write_ != TAccess::None, "read-only");
    accessors_.setStr(object, value);
}

std::any TPropInfo::GetMethod(const TObject& object) const
{
    requireKind(type_->Kind() == TTypeKind::Method, "an event");
    requireAccess(read_ != TAccess::None, "write-only");
    return accessors_.getMethod(object);
}

bool TPropInfo::MethodAssigned(const TObject& object) const
{
    requireKind(type_->Kind() == TTypeKind::Method, "an event");
    requireAccess(read_ != TAccess::None, "write-only");
    return accessors_.methodAssigned(object);
}

void TPropInfo::SetMethod(TObject& object, const std::any& value) const
{
    requireKind(type_->Kind() == TTypeKind::Method, "an event");
    requireAccess(write_ != TAccess::None, "read-only");
    accessors_.setMethod(object, value);
}

// ---- TMetaClass ----

TMetaClass::TMetaClass(std::string name, std::string unitName, TClass parent)
    : name_(std::move(name)), unit_(std::move(unitName)), parent_(parent)
{
}

bool TMetaClass::InheritsFrom(TClass other) const noexcept
{
    for (TClass cls = this; cls != nullptr; cls = cls->parent_)
        if (cls == other)
            return true;
    return false;
}

std::vector<const TPropInfo*> TMetaClass::Properties() const
{
    std::vector<const TPropInfo*> list = parent_ != nullptr ? parent_->Properties() : std::vector<const TPropInfo*>();
    for (const TPropInfo& property : properties_)
        list.push_back(&property);
    return list;
}

const TPropInfo* TMetaClass::FindProperty(const std::string& name) const
{
    for (TClass cls = this; cls != nullptr; cls = cls->parent_)
        for (const TPropInfo& property : cls->properties_)
            if (SameText(property.Name(), name))
                return &property;
    return nullptr;
}

const TMethodEntry* TMetaClass::FindMethod(const std::string& name) const
{
    for (TClass cls = this; cls != nullptr; cls = cls->parent_)
        for (const TMethodEntry& method : cls->methods_)
            if (SameText(method.Name, name))
                return &method;
    return nullptr;
}

std::string TMetaClass::MethodName(TObject& object, const std::any& closure) const
{
    for (TClass cls = this; cls != nullptr; cls = cls->parent_)
        for (const TMethodEntry& method : cls->methods_)
            if (method.Is(object, closure))
                return method.Name;
    return std::string();
}

TComponent* TMetaClass::Create(TComponent* owner) const
{
    if (!factory_)
        throw EComponentError("Class " + name_ + " cannot be created by class");
    TComponent* component = factory_(owner);
    if (component->ClassType() != this) {
        // A class that forgot to answer its own description would be streamed
        // and inspected as another class.
        const std::string reported = component->ClassName();
        delete component;
        throw EComponentError("Class " + name_ + " reports itself as " + reported);
    }
    return component;
}

}  // namespace Vcl

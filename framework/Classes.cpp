// TObject, TPersistent, TComponent and the class registry.
#include "Classes.h"

#include "Classinfo.h"

#include <algorithm>
#include <mutex>

namespace Vcl {

// ---- TObject ----

TObject::~TObject() = default;

TClass TObject::StaticClass()
{
    static const TMetaClass meta = ClassInfo<TObject>("TObject", "System", nullptr).Build();
    return &meta;
}

TClass TObject::ClassType() const
{
    return StaticClass();
}

std::string TObject::ClassName() const
{
    return ClassType()->ClassName();
}

bool TObject::InheritsFrom(TClass cls) const
{
    return ClassType()->InheritsFrom(cls);
}

// ---- TPersistent ----

TClass TPersistent::StaticClass()
{
    static const TMetaClass meta = ClassInfo<TPersistent>("TPersistent", "Classes", TObject::StaticClass()).Build();
    return &meta;
}

TClass TPersistent::ClassType() const
{
    return StaticClass();
}

void TPersistent::Assign(TPersistent* Source)
{
    if (Source == nullptr)
        AssignError(nullptr);
    Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest)
{
    Dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* Source) const
{
    const std::string source = Source != nullptr ? Source->ClassName() : std::string("null");
    throw EAssignError("Cannot assign a " + source + " to a " + ClassName());
}

// ---- TComponent ----

TComponent::TComponent(TComponent* Owner)
{
    if (Owner != nullptr)
        Owner->InsertComponent(this);
}

TComponent::~TComponent()
{
    DestroyComponents();
    if (owner_ != nullptr)
        owner_->RemoveComponent(this);
}

TClass TComponent::StaticClass()
{
    // The name is written in the header line of a form file, not as a property.
    static const TMetaClass meta =
        ClassInfo<TComponent>("TComponent", "Classes", TPersistent::StaticClass())
            .Property("Name", TTypeInfo::String(), &TComponent::GetName, &TComponent::SetName)
            .Stored(false)
            .Property("Tag", TTypeInfo::Integer(), &TComponent::GetTag, &TComponent::SetTag)
            .Default(0)
            .Constructible()
            .Build();
    return &meta;
}

TClass TComponent::ClassType() const
{
    return StaticClass();
}

TComponent* TComponent::GetComponent(int index) const
{
    if (index < 0 || index >= ComponentCount())
        throw ERangeError("Component index " + std::to_string(index) + " out of range");
    return components_[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(const System::AnsiString& name) const
{
    if (name.IsEmpty())
        return nullptr;
    for (TComponent* component : components_)
        if (SameText(component->name_.ToStdString(), name.ToStdString()))
            return component;
    return nullptr;
}

void TComponent::checkNameFree(const System::AnsiString& name, const TComponent* except) const
{
    const TComponent* found = FindComponent(name);
    if (found != nullptr && found != except)
        throw EComponentError("A component named " + name.ToStdString() + " already exists");
}

void TComponent::InsertComponent(TComponent* component)
{
    if (component == nullptr || component->owner_ == this)
        return;
    for (const TComponent* owner = this; owner != nullptr; owner = owner->owner_)
        if (owner == component)
            throw EComponentError("A component cannot own itself or its own owner");
    checkNameFree(component->name_, component);
    if (component->owner_ != nullptr)
        component->owner_->RemoveComponent(component);
    components_.push_back(component);
    component->owner_ = this;
}

void TComponent::RemoveComponent(TComponent* component)
{
    auto it = std::find(components_.begin(), components_.end(), component);
    if (it == components_.end())
        return;
    components_.erase(it);
    component->owner_ = nullptr;
}

void TComponent::DestroyComponents()
{
    while (!components_.empty()) {
        TComponent* component = components_.back();
        components_.pop_back();
        component->owner_ = nullptr;
        delete component;
    }
}

void TComponent::SetName(const System::AnsiString& name)
{
    if (name == name_)
        return;
    if (!name.IsEmpty() && !IsValidIdent(name.ToStdString()))
        throw EComponentError("\"" + name.ToStdString() + "\" is not a valid component name");
    if (owner_ != nullptr)
        owner_->checkNameFree(name, this);
    name_ = name;
}

void TComponent::UpdateRegistry(bool, const System::AnsiString, const System::AnsiString) {}

// ---- class registry ----

namespace {

struct Registry {
    std::mutex lock;
    std::vector<TClass> classes;
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

TClass Lookup(const std::vector<TClass>& classes, const std::string& name)
{
    for (TClass cls : classes)
        if (SameText(cls->ClassName(), name))
            return cls;
    return nullptr;
}

}  // namespace

void RegisterClass(TClass cls)
{
    if (cls == nullptr || !cls->InheritsFrom(TPersistent::StaticClass()))
        throw EComponentError("Only persistent classes can be registered");
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    const TClass existing = Lookup(registry.classes, cls->ClassName());
    if (existing == cls)
        return;
    if (existing != nullptr)
        throw EComponentError("A class named " + cls->ClassName() + " already exists");
    registry.classes.push_back(cls);
}

void UnRegisterClass(TClass cls)
{
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    registry.classes.erase(std::remove(registry.classes.begin(), registry.classes.end(), cls),
                           registry.classes.end());
}

TClass GetClass(const std::string& name)
{
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    return Lookup(registry.classes, name);
}

TClass FindClass(const std::string& name)
{
    const TClass cls = GetClass(name);
    if (cls == nullptr)
        throw EComponentError("Class " + name + " not found");
    return cls;
}

}  // namespace Vcl

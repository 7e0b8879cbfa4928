// The framework's class tree: TObject, TPersistent and TComponent, the class
// registry and the checked down-cast.
//
// Every framework class overrides ClassType() to answer its own description
// (a static TMetaClass made with Vcl::ClassInfo, see Classinfo.h):
//
//   class Clock : public Vcl::TComponent {
//   public:
//       explicit Clock(Vcl::TComponent* Owner) : TComponent(Owner) {}
//       static Vcl::TClass StaticClass();
//       Vcl::TClass ClassType() const override { return StaticClass(); }
//   };
//
// A component belongs to the owner it was created with: destroying the owner
// destroys it, and destroying it first takes it off its owner's list.
//
//   auto* form = new Vcl::TComponent(nullptr);
//   auto* clock = new Clock(form);
//   delete form;               // destroys clock too
#ifndef QUORVEX_FRAMEWORK_CLASSES_H
#define QUORVEX_FRAMEWORK_CLASSES_H

#include "Ansistring.h"
#include "Frameworkerrors.h"
#include "Frameworkexport.h"
#include "Typeinfo.h"

#include <string>
#include <type_traits>
#include <vector>

namespace Vcl {

// The root of every framework class.
class QUORVEX_FRAMEWORK_API TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject();

    static TClass StaticClass();
    // The description of the object's own class.
    virtual TClass ClassType() const;

    std::string ClassName() const;
    // Whether the object's class is `cls` or descends from it.
    bool InheritsFrom(TClass cls) const;
};

// An object that can be filled from another one with Assign.
class QUORVEX_FRAMEWORK_API TPersistent : public TObject {
public:
    static TClass StaticClass();
    TClass ClassType() const override;

    // Copies `Source` into this object. A class that can copy from some
    // sources overrides this and hands every other source (null included) to
    // the inherited Assign. This base can copy nothing: it asks the source to
    // copy itself into this object (AssignTo), which by default raises
    // EAssignError "Cannot assign a <source class> to a <this class>"; a null
    // source is named "null". The object is not changed.
    virtual void Assign(TPersistent* Source);

protected:
    // Copies this object into `Dest`; the default raises the assignment error.
    virtual void AssignTo(TPersistent* Dest);
    // Raises EAssignError naming `Source` (or "null") and this object's class.
    [[noreturn]] void AssignError(const TPersistent* Source) const;
};

// An object with an owner, a name and a tag, that destroys the components it
// owns. Components cannot be copied as components: a descendant that offers a
// copy constructor chooses the owner of the copy itself.
class QUORVEX_FRAMEWORK_API TComponent : public TPersistent {
public:
    // Creates a component owned by `Owner` (null: owned by nobody).
    explicit TComponent(TComponent* Owner);
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
    // Destroys the owned components (the last inserted first), then leaves
    // the owner's list.
    ~TComponent() override;

    static TClass StaticClass();
    TClass ClassType() const override;

    TComponent* GetOwner() const noexcept { return owner_; }

    // The owned components, in the order they were inserted.
    int ComponentCount() const noexcept { return static_cast<int>(components_.size()); }
    // The owned component at the 0-based `index`; ERangeError outside the list.
    TComponent* GetComponent(int index) const;
    // The owned component named `name` (letter case ignored), or null.
    TComponent* FindComponent(const System::AnsiString& name) const;
    // Takes `component` from its current owner (if any) and owns it.
    // EComponentError when its name is already used by an owned component.
    void InsertComponent(TComponent* component);
    // Gives up the ownership of `component` without destroying it.
    void RemoveComponent(TComponent* component);
    // Destroys every owned component.
    void DestroyComponents();

    // The name: empty or an identifier, unique among the owner's components
    // (letter case ignored). SetName raises EComponentError otherwise.
    System::AnsiString GetName() const { return name_; }
    virtual void SetName(const System::AnsiString& name);

    int GetTag() const noexcept { return tag_; }
    void SetTag(int tag) noexcept { tag_ = tag; }

    // True while the form reader assigns the properties stored for this
    // component (from its `object` line to its `end`), so that a write
    // accessor can tell a stored value being restored from a value being set.
    bool Loading() const noexcept { return loading_; }
    // Used by the form reader.
    void SetLoading(bool loading) noexcept { loading_ = loading; }

    // The framework's registration hook for automation servers; a component
    // without such a role has nothing to do here.
    virtual void UpdateRegistry(bool Register, const System::AnsiString ClassID,
                                const System::AnsiString ProgID);

private:
    void checkNameFree(const System::AnsiString& name, const TComponent* except) const;

    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    System::AnsiString name_;
    int tag_ = 0;
    bool loading_ = false;
};

// The checked down-cast between framework classes: `object` as a T, or null
// when it is null or not a T.
template <class T>
T* DownCast(TObject* object) noexcept
{
    static_assert(std::is_base_of<TObject, T>::value, "not a framework class");
    return dynamic_cast<T*>(object);
}
template <class T>
const T* DownCast(const TObject* object) noexcept
{
    static_assert(std::is_base_of<TObject, T>::value, "not a framework class");
    return dynamic_cast<const T*>(object);
}

// The class registry, through which form files name the classes to create.
// Registering a class twice does nothing; registering another class under a
// name already taken (letter case ignored) raises EComponentError, and so does
// registering a class that is not a TPersistent.
QUORVEX_FRAMEWORK_API void RegisterClass(TClass cls);
QUORVEX_FRAMEWORK_API void UnRegisterClass(TClass cls);
// The registered class of that name (letter case ignored), or null.
QUORVEX_FRAMEWORK_API TClass GetClass(const std::string& name);
// The registered class of that name; EComponentError when there is none.
QUORVEX_FRAMEWORK_API TClass FindClass(const std::string& name);

}  // namespace Vcl

#endif

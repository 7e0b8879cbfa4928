// The class tree: ownership, names, the class registry, construction by
// class, Assign, the down-cast and the published-property information.
#include "Testcomponents.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace FrameworkTest;
using System::AnsiString;
using Vcl::TComponent;

// A component that notes its destruction.
class Tracked : public TComponent {
public:
    Tracked(TComponent* owner, std::vector<std::string>& log, const char* name) : TComponent(owner), log_(log)
    {
        SetName(name);
    }
    ~Tracked() override { log_.push_back(GetName().ToStdString()); }

private:
    std::vector<std::string>& log_;
};

TEST(FrameworkOwnership, OwnerDestroysOwnedComponentsLastFirst)
{
    std::vector<std::string> log;
    auto* root = new Tracked(nullptr, log, "Root");
    auto* a = new Tracked(root, log, "A");
    new Tracked(a, log, "A1");
    new Tracked(root, log, "B");
    EXPECT_EQ(root->ComponentCount(), 2);
    EXPECT_EQ(a->GetOwner(), root);
    delete root;
    EXPECT_EQ(log, (std::vector<std::string>{"Root", "B", "A", "A1"}));
}

TEST(FrameworkOwnership, DestroyingAnOwnedComponentLeavesTheOwnersList)
{
    std::vector<std::string> log;
    auto* root = new Tracked(nullptr, log, "Root");
    auto* a = new Tracked(root, log, "A");
    new Tracked(root, log, "B");
    delete a;
    ASSERT_EQ(root->ComponentCount(), 1);
    EXPECT_EQ(root->GetComponent(0)->GetName(), "B");
    delete root;
    // A is destroyed once only.
    EXPECT_EQ(log, (std::vector<std::string>{"A", "Root", "B"}));
}

TEST(FrameworkOwnership, InsertComponentMovesAndRefusesCycles)
{
    TComponent first(nullptr), second(nullptr);
    auto* child = new TComponent(&first);
    second.InsertComponent(child);
    EXPECT_EQ(first.ComponentCount(), 0);
    EXPECT_EQ(second.ComponentCount(), 1);
    EXPECT_EQ(child->GetOwner(), &second);
    EXPECT_THROW(child->InsertComponent(&second), Vcl::EComponentError);
    EXPECT_THROW(child->InsertComponent(child), Vcl::EComponentError);
    second.RemoveComponent(child);
    EXPECT_EQ(child->GetOwner(), nullptr);
    delete child;
    EXPECT_THROW(second.GetComponent(0), Vcl::ERangeError);
}

TEST(FrameworkNames, MustBeIdentifiersUniqueAmongSiblings)
{
    TComponent form(nullptr);
    auto* a = new TComponent(&form);
    auto* b = new TComponent(&form);
    a->SetName("Button_1");
    EXPECT_EQ(form.FindComponent("BUTTON_1"), a);
    EXPECT_THROW(b->SetName("button_1"), Vcl::EComponentError);
    EXPECT_EQ(b->GetName(), "");
    for (const char* bad : {"1abc", "a b", "a-b", "\xE9t\xE9"})
        EXPECT_THROW(b->SetName(bad), Vcl::EComponentError) << bad;
    a->SetName("BUTTON_1");  // renaming itself with another case is fine
    a->SetName("");
    b->SetName("Button_1");
    EXPECT_EQ(form.FindComponent("button_1"), b);

    // The same name under another owner is free, but not when moved in.
    TComponent other(nullptr);
    auto* c = new TComponent(&other);
    c->SetName("Button_1");
    EXPECT_THROW(form.InsertComponent(c), Vcl::EComponentError);
    EXPECT_EQ(c->GetOwner(), &other);
}

// A class whose description exists but that does not answer it.
class Forgetful : public TComponent {
public:
    explicit Forgetful(TComponent* owner) : TComponent(owner) {}
    static Vcl::TClass StaticClass()
    {
        static const Vcl::TMetaClass meta =
            Vcl::ClassInfo<Forgetful>("Forgetful", "Testunit", TComponent::StaticClass()).Constructible().Build();
        return &meta;
    }
};

TEST(FrameworkClassRegistry, FindsRegisteredClassesByName)
{
    RegisterTestClasses();
    RegisterTestClasses();  // twice does nothing
    EXPECT_EQ(Vcl::GetClass("widget"), Widget::StaticClass());
    EXPECT_EQ(Vcl::FindClass("FORM"), Form::StaticClass());
    EXPECT_EQ(Vcl::GetClass("Nothing"), nullptr);
    EXPECT_THROW(Vcl::FindClass("Nothing"), Vcl::EComponentError);
    EXPECT_THROW(Vcl::RegisterClass(Vcl::TObject::StaticClass()), Vcl::EComponentError);

    // Another class under a taken name.
    static const Vcl::TMetaClass impostor =
        Vcl::ClassInfo<Widget>("WIDGET", "Elsewhere", TComponent::StaticClass()).Build();
    EXPECT_THROW(Vcl::RegisterClass(&impostor), Vcl::EComponentError);

    Vcl::UnRegisterClass(PlainWidget::StaticClass());
    EXPECT_EQ(Vcl::GetClass("PlainWidget"), nullptr);
    Vcl::RegisterClass(PlainWidget::StaticClass());
}

TEST(FrameworkClassRegistry, CreatesComponentsByClass)
{
    TComponent form(nullptr);
    const Vcl::TClass classes[] = {Widget::StaticClass(), PlainWidget::StaticClass(), TComponent::StaticClass()};
    for (Vcl::TClass cls : classes) {
        TComponent* made = cls->Create(&form);
        EXPECT_EQ(made->ClassType(), cls);
        EXPECT_EQ(made->GetOwner(), &form);
    }
    EXPECT_EQ(form.ComponentCount(), 3);
    EXPECT_NE(Vcl::DownCast<PlainWidget>(form.GetComponent(1)), nullptr);

    EXPECT_THROW(Vcl::TPersistent::StaticClass()->Create(&form), Vcl::EComponentError);
    EXPECT_THROW(Forgetful::StaticClass()->Create(&form), Vcl::EComponentError);
    EXPECT_EQ(form.ComponentCount(), 3);  // the refused instance is gone again
}

TEST(FrameworkClassTree, DescriptionsKnowTheirParentsAndUnits)
{
    PlainWidget plain(nullptr);
    EXPECT_EQ(plain.ClassName(), "PlainWidget");
    EXPECT_TRUE(plain.InheritsFrom(Widget::StaticClass()));
    EXPECT_TRUE(plain.InheritsFrom(Vcl::TPersistent::StaticClass()));
    EXPECT_FALSE(plain.InheritsFrom(Form::StaticClass()));
    EXPECT_EQ(PlainWidget::StaticClass()->ClassParent(), Widget::StaticClass());
    EXPECT_EQ(Widget::StaticClass()->UnitName(), "Testunit");
    EXPECT_EQ(TComponent::StaticClass()->ClassParent(), Vcl::TPersistent::StaticClass());
    EXPECT_EQ(Vcl::TObject::StaticClass()->ClassParent(), nullptr);
}

TEST(FrameworkDownCast, YieldsNullForOtherClasses)
{
    Form form(nullptr);
    PlainWidget plain(nullptr);
    Vcl::TObject* asForm = &form;
    Vcl::TObject* asPlain = &plain;
    EXPECT_EQ(Vcl::DownCast<Widget>(asForm), nullptr);
    EXPECT_EQ(Vcl::DownCast<Widget>(asPlain), &plain);
    EXPECT_EQ(Vcl::DownCast<PlainWidget>(static_cast<const Vcl::TObject*>(asPlain)), &plain);
    EXPECT_EQ(Vcl::DownCast<Form>(static_cast<Vcl::TObject*>(nullptr)), nullptr);
}

// A persistent class that can copy itself into a Widget's caption.
class Note : public Vcl::TPersistent {
public:
    AnsiString text;

protected:
    void AssignTo(Vcl::TPersistent* Dest) override
    {
        if (auto* widget = Vcl::DownCast<Widget>(Dest))
            widget->SetCaption(text);
        else
            TPersistent::AssignTo(Dest);
    }
};

TEST(FrameworkAssign, RaisesTheAssignmentErrorNamingBothClasses)
{
    Widget widget(nullptr);
    Form form(nullptr);
    try {
        widget.Assign(&form);
        FAIL() << "no error";
    } catch (const Vcl::EAssignError& error) {
        EXPECT_STREQ(error.what(), "Cannot assign a Form to a Widget");
    }
    try {
        form.Assign(nullptr);
        FAIL() << "no error";
    } catch (const Vcl::EAssignError& error) {
        EXPECT_STREQ(error.what(), "Cannot assign a null to a Form");
    }
    // A source that knows how to copy itself is asked first.
    Note note;
    note.text = "copied";
    widget.Assign(&note);
    EXPECT_EQ(widget.GetCaption(), "copied");
    EXPECT_THROW(form.Assign(&note), Vcl::EAssignError);
}

TEST(FrameworkTypeInfo, PublishedPropertiesInDeclarationOrder)
{
    struct Row {
        const char* name;
        const char* type;
        Vcl::TAccess read;
        Vcl::TAccess write;
    };
    using Vcl::TAccess;
    const Row expected[] = {
        {"Name", "AnsiString", TAccess::Method, TAccess::Method},
        {"Tag", "int", TAccess::Method, TAccess::Method},
        {"Flags", "Sides", TAccess::Member, TAccess::Method},
        {"Mode", "Mode", TAccess::Method, TAccess::Method},
        {"Enabled", "bool", TAccess::Member, TAccess::Member},
        {"Count", "int", TAccess::Member, TAccess::Member},
        {"Limit", "int", TAccess::Member, TAccess::Member},
        {"Caption", "AnsiString", TAccess::Method, TAccess::Method},
        {"Hint", "AnsiString", TAccess::Member, TAccess::Member},
        {"Serial", "int", TAccess::Method, TAccess::None},
        {"OnChange", "ChangeEvent", TAccess::Member, TAccess::Member},
        {"OnCount", "CountEvent", TAccess::Member, TAccess::Member},
    };
    const auto properties = PlainWidget::StaticClass()->Properties();
    ASSERT_EQ(properties.size(), std::size(expected));
    for (std::size_t i = 0; i < properties.size(); ++i) {
        EXPECT_EQ(properties[i]->Name(), expected[i].name) << i;
        EXPECT_EQ(properties[i]->PropType().Name(), expected[i].type) << i;
        EXPECT_EQ(properties[i]->ReadAccess(), expected[i].read) << i;
        EXPECT_EQ(properties[i]->WriteAccess(), expected[i].write) << i;
    }
    const Vcl::TPropInfo* limit = Widget::StaticClass()->FindProperty("LIMIT");
    ASSERT_NE(limit, nullptr);
    EXPECT_EQ(limit->Default(), 5);
    EXPECT_EQ(Widget::StaticClass()->FindProperty("Name")->Stored(), Vcl::TStored::Never);
    EXPECT_EQ(Widget::StaticClass()->FindProperty("Hint")->Stored(), Vcl::TStored::Method);
    EXPECT_EQ(Widget::StaticClass()->FindProperty("Missing"), nullptr);
}

TEST(FrameworkTypeInfo, EnumerationSetAndClosureTypes)
{
    const Vcl::TTypeInfo& sides = SidesType();
    EXPECT_EQ(sides.Kind(), Vcl::TTypeKind::Set);
    EXPECT_EQ(sides.OrdType(), Vcl::TOrdType::UByte);
    ASSERT_EQ(sides.CompType(), &SideType());
    EXPECT_EQ(SideType().EnumName(3), "Bottom");
    EXPECT_EQ(SideType().EnumName(4), "");
    EXPECT_EQ(SideType().EnumValue("top"), 2);
    EXPECT_EQ(SideType().EnumValue("Middle"), -1);
    EXPECT_EQ(Vcl::TTypeInfo::Boolean().EnumNames(), (std::vector<std::string>{"false", "true"}));
    EXPECT_EQ(Vcl::TTypeInfo::Boolean().OrdType(), Vcl::TOrdType::UByte);

    const auto& params = ChangeEventType().Params();
    ASSERT_EQ(params.size(), 2u);
    EXPECT_EQ(params[0].Name, "Sender");
    EXPECT_EQ(params[0].Mode, Vcl::TParamMode::Pointer);
    EXPECT_EQ(params[1].Name, "Handled");
    EXPECT_EQ(params[1].Mode, Vcl::TParamMode::Reference);

    EXPECT_THROW(Vcl::TTypeInfo::Enumeration("Bad", Vcl::TOrdType::SByte, {"A", "a"}), std::logic_error);
    EXPECT_THROW(Vcl::TTypeInfo::SetOf("Bad", Vcl::TOrdType::UByte, Vcl::TTypeInfo::Integer()), std::logic_error);
}

TEST(FrameworkTypeInfo, DescriptionsThatDoNotFitAreRefused)
{
    EXPECT_THROW(Vcl::ClassInfo<Widget>("W", "U", TComponent::StaticClass())
                     .Property("Count", Vcl::TTypeInfo::String(), &Widget::Count, &Widget::Count),
                 std::logic_error);
    EXPECT_THROW(Vcl::ClassInfo<Widget>("W", "U", TComponent::StaticClass())
                     .Property("Tag", Vcl::TTypeInfo::Integer(), &Widget::Count, &Widget::Count)
                     .Build(),
                 std::logic_error);
    EXPECT_THROW(Vcl::ClassInfo<Widget>("W", "U", TComponent::StaticClass()).Default(1), std::logic_error);
}

TEST(FrameworkTypeInfo, ValueAccessChecksKindAndRange)
{
    Widget widget(nullptr);
    const Vcl::TMetaClass& meta = *Widget::StaticClass();
    const Vcl::TPropInfo& mode = *meta.FindProperty("Mode");
    const Vcl::TPropInfo& flags = *meta.FindProperty("Flags");
    const Vcl::TPropInfo& count = *meta.FindProperty("Count");
    const Vcl::TPropInfo& onChange = *meta.FindProperty("OnChange");

    mode.SetOrd(widget, 2);
    EXPECT_EQ(widget.GetMode(), Mode::Idle);
    EXPECT_THROW(mode.SetOrd(widget, 3), Vcl::EComponentError);
    flags.SetOrd(widget, 0x9);
    EXPECT_EQ(widget.Flags, (System::Set<Side, 0, 3>{Side::Left, Side::Bottom}));
    EXPECT_EQ(flags.GetOrd(widget), 0x9);
    EXPECT_THROW(flags.SetOrd(widget, 0x10), Vcl::EComponentError);
    count.SetOrd(widget, -2147483648LL);
    EXPECT_EQ(widget.Count, -2147483647 - 1);
    EXPECT_THROW(count.SetOrd(widget, 2147483648LL), Vcl::EComponentError);
    EXPECT_THROW(count.GetStr(widget), Vcl::EComponentError);
    EXPECT_THROW(meta.FindProperty("Serial")->SetOrd(widget, 1), Vcl::EComponentError);

    Form form(nullptr);
    onChange.SetMethod(widget, std::any(System::Bind(&form, &Form::WidgetChanged)));
    EXPECT_TRUE(onChange.MethodAssigned(widget));
    bool handled = false;
    widget.OnChange(&widget, handled);
    EXPECT_TRUE(handled);
    EXPECT_THROW(onChange.SetMethod(widget, std::any(System::Bind(&form, &Form::CountChanged))),
                 Vcl::EComponentError);
    EXPECT_THROW(onChange.SetMethod(widget, std::any(5)), Vcl::EComponentError);

    // The accessors of a Widget property refuse an object of another class.
    EXPECT_THROW(count.GetOrd(form), Vcl::EComponentError);
}

}  // namespace

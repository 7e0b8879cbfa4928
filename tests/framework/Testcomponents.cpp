// Descriptions of the test classes.
#include "Testcomponents.h"

namespace FrameworkTest {

using Vcl::TOrdType;
using Vcl::TParamMode;
using Vcl::TTypeInfo;

const TTypeInfo& SideType()
{
    static const auto type = TTypeInfo::Enumeration("Side", TOrdType::SByte, {"Left", "Right", "Top", "Bottom"});
    return type;
}
const TTypeInfo& SidesType()
{
    static const auto type = TTypeInfo::SetOf("Sides", TOrdType::UByte, SideType());
    return type;
}
const TTypeInfo& ModeType()
{
    static const auto type = TTypeInfo::Enumeration("Mode", TOrdType::SByte, {"Slow", "Fast", "Idle"});
    return type;
}
const TTypeInfo& ChangeEventType()
{
    static const auto type = TTypeInfo::MethodType(
        "ChangeEvent", {{"Sender", "Widget", TParamMode::Pointer}, {"Handled", "bool", TParamMode::Reference}});
    return type;
}
const TTypeInfo& CountEventType()
{
    static const auto type = TTypeInfo::MethodType(
        "CountEvent", {{"Sender", "Widget", TParamMode::Pointer}, {"Count", "int", TParamMode::Value}});
    return type;
}

Vcl::TClass Widget::StaticClass()
{
    static const Vcl::TMetaClass meta =
        Vcl::ClassInfo<Widget>("Widget", "Testunit", Vcl::TComponent::StaticClass())
            .Property("Flags", SidesType(), &Widget::Flags, &Widget::SetFlags)
            .Default(1)
            .Property("Mode", ModeType(), &Widget::GetMode, &Widget::SetMode)
            .Property("Enabled", TTypeInfo::Boolean(), &Widget::Enabled, &Widget::Enabled)
            .Property("Count", TTypeInfo::Integer(), &Widget::Count, &Widget::Count)
            .Property("Limit", TTypeInfo::Integer(), &Widget::Limit, &Widget::Limit)
            .Default(5)
            .Property("Caption", TTypeInfo::String(), &Widget::GetCaption, &Widget::SetCaption)
            .Property("Hint", TTypeInfo::String(), &Widget::Hint, &Widget::Hint)
            .StoredWhen(&Widget::HintStored)
            .Property("Serial", TTypeInfo::Integer(), &Widget::GetSerial, nullptr)
            .Property("OnChange", ChangeEventType(), &Widget::OnChange, &Widget::OnChange)
            .Property("OnCount", CountEventType(), &Widget::OnCount, &Widget::OnCount)
            .Constructible()
            .Build();
    return &meta;
}

Vcl::TClass PlainWidget::StaticClass()
{
    static const Vcl::TMetaClass meta =
        Vcl::ClassInfo<PlainWidget>("PlainWidget", "Testunit", Widget::StaticClass()).Constructible().Build();
    return &meta;
}

Vcl::TClass Form::StaticClass()
{
    static const Vcl::TMetaClass meta = Vcl::ClassInfo<Form>("Form", "Testform", Vcl::TComponent::StaticClass())
                                            .Method("WidgetChanged", &Form::WidgetChanged)
                                            .Method("OtherChange", &Form::OtherChange)
                                            .Method("CountChanged", &Form::CountChanged)
                                            .Constructible()
                                            .Build();
    return &meta;
}

void RegisterTestClasses()
{
    Vcl::RegisterClass(Widget::StaticClass());
    Vcl::RegisterClass(PlainWidget::StaticClass());
    Vcl::RegisterClass(Form::StaticClass());
}

}  // namespace FrameworkTest

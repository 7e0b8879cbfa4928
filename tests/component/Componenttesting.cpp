// The test form's description and the class registration of the form tests.
#include "Componenttesting.h"

namespace ComponentTesting {

Vcl::TClass TestForm::StaticClass()
{
    static const Vcl::TMetaClass meta =
        Vcl::ClassInfo<TestForm>("TestForm", "Componenttesting", Vcl::TComponent::StaticClass())
            .Method("Found", &TestForm::Found)
            .Method("Grepped", &TestForm::Grepped)
            .Method("FileMatched", &TestForm::FileMatched)
            .Method("FileFound", &TestForm::FileFound)
            .Constructible()
            .Build();
    return &meta;
}

void RegisterFormClasses()
{
    Vcl::RegisterClass(TestForm::StaticClass());
    Vcl::RegisterClass(RegexComponent::RegularExpression::StaticClass());
    Vcl::RegisterClass(RegexComponent::RegularExpressionInterface::StaticClass());
}

}  // namespace ComponentTesting

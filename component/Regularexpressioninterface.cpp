// The unit Regularexpressioninterface: the palette component that publishes
// only the expression and its compile options, and its registration.
#include "Regularexpressioninterface.h"

#include "Publishing.h"

namespace RegexComponent {

RegularExpressionInterface::RegularExpressionInterface(Vcl::TComponent* Owner) : RegularExpressionCustom(Owner) {}

RegularExpressionInterface::RegularExpressionInterface(const RegularExpressionInterface& other)
    : RegularExpressionCustom(other)
{
}

RegularExpressionInterface& RegularExpressionInterface::operator=(const RegularExpressionInterface& other)
{
    RegularExpressionCustom::operator=(other);
    return *this;
}

bool RegularExpressionInterface::operator==(const RegularExpressionInterface& other) const
{
    return RegularExpressionCustom::operator==(other);
}

RegularExpressionInterface::~RegularExpressionInterface() = default;

Vcl::TClass RegularExpressionInterface::StaticClass()
{
    static const Vcl::TMetaClass meta = [] {
        Vcl::ClassInfo<RegularExpressionInterface> info("RegularExpressionInterface", "Regularexpressioninterface",
                                                        RegularExpressionCustom::StaticClass());
        PublishExpression(info).Constructible();
        return info.Build();
    }();
    return &meta;
}

Vcl::TClass RegularExpressionInterface::ClassType() const { return StaticClass(); }

void Regularexpressioninterface::Register() { RegisterOnPalette<RegularExpressionInterface>(); }

}  // namespace RegexComponent

// What both palette components publish, described once. Internal: not
// installed.
#ifndef QUORVPAK_PUBLISHING_H
#define QUORVPAK_PUBLISHING_H

#include "Classinfo.h"
#include "Packages.h"
#include "Regularexpressioncustom.h"

namespace RegexComponent {

// ExpressionOptions and Expression, in this order. ExpressionOptions has no
// recorded default, so a form file stores it always, the empty set included:
// with a default of 0 an emptied set would not be stored and a form read
// back would bring the constructor's options in its place.
template <class C>
Vcl::ClassInfo<C>& PublishExpression(Vcl::ClassInfo<C>& info)
{
    return info.Property("ExpressionOptions", OptionSetType(), &RegularExpressionCustom::ExpressionOptions,
                         &RegularExpressionCustom::SetOptions)
        .NoDefault()
        .Property("Expression", Vcl::TTypeInfo::String(), &RegularExpressionCustom::GetExpression,
                  &RegularExpressionCustom::SetExpression);
}

// Puts one component class on the package's palette page.
template <class C>
void RegisterOnPalette()
{
    const Vcl::TClass classes[] = {C::StaticClass()};
    Vcl::RegisterComponents(PalettePage, classes, 0);
}

}  // namespace RegexComponent

#endif

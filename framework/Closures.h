// System::Closure: an event handler, a member function bound to an object.
//
// The framework uses the project's closure type as it stands (the class
// library and the component package share it), so a handler bound once can
// be given to either:
//
//   struct Form { void Changed(Vcl::TObject* sender); };
//   System::Closure<void(Vcl::TObject*)> onChange = System::Bind(&form, &Form::Changed);
//   if (onChange) onChange(sender);
#ifndef QUORVEX_FRAMEWORK_CLOSURES_H
#define QUORVEX_FRAMEWORK_CLOSURES_H

#include "Regularexpressionclosure.h"

namespace System {

template <class Signature>
using Closure = RegexClass::Closure<Signature>;

using RegexClass::Bind;

}  // namespace System

#endif

// Form files: a component tree as text, and back.
//
// A form file holds one root component and, nested inside it, the components
// it owns, each in an `object` block:
//
//   object Form1: TestForm
//     Tag = 7
//     object Widget1: TestWidget
//       Flags = [Left, Right]
//       Mode = Fast
//       Enabled = true
//       Count = -3
//       Caption = 'It''s'#13#10'done'
//       OnChange = WidgetChanged
//     end
//   end
//
// One `Property = value` line is written for each published property that has
// both read and write access, whose stored condition holds and whose value is
// not the recorded default: an ordinal equal to its default, an empty text and
// an unassigned event are left out. Values are written as:
//   integers     in decimal;
//   enumerations by their enumerator names (booleans as false / true);
//   sets         as [A, B], the names of the members in ordinal order;
//   texts        in single quotes, a quote doubled, and every character below
//                32 or above 126 as #n (its decimal code) outside the quotes;
//   events       as the name of the handler: a published method of the root
//                component (the form) to which the event is bound. An event
//                bound to anything else has no name in the form and is not
//                written.
// A component without a name is written as `object ClassName`.
//
// Reading creates each nested component from its class name through the class
// registry (RegisterClass), owned by the component of the enclosing block,
// gives it its name, then assigns the properties in the order they appear
// through their write access (so setters run; the component's Loading() is
// true until its `end`), and resolves each event name
// with a published-method lookup on the root. Names, property names,
// enumerator names and class names are compared without regard to letter
// case. Whatever is wrong with the text (unknown class or property, a value of
// the wrong kind or out of range, an unknown handler, a broken string, nesting
// deeper than MaxFormDepth, text after the last `end`) raises EReadError
// naming the line; components created by a failed read are destroyed.
#ifndef QUORVEX_FRAMEWORK_FORMSTREAM_H
#define QUORVEX_FRAMEWORK_FORMSTREAM_H

#include "Classes.h"
#include "Frameworkexport.h"

#include <iosfwd>
#include <string>
#include <string_view>

namespace Vcl {

// The deepest nesting of object blocks that the reader accepts (the root is
// at depth 0) and the writer produces.
constexpr int MaxFormDepth = 64;
// The longest identifier the reader accepts.
constexpr std::size_t MaxIdentLength = 255;

// Writes `root` and everything it owns. EWriteError when the ownership tree is
// deeper than MaxFormDepth.
QUORVEX_FRAMEWORK_API void WriteComponentText(std::ostream& out, const TComponent& root);
QUORVEX_FRAMEWORK_API std::string ComponentToText(const TComponent& root);

// Creates the root component that `text` describes, owned by `owner` (which
// may be null), with everything nested in it. The caller (or `owner`) owns the
// result.
QUORVEX_FRAMEWORK_API TComponent* ReadComponentText(std::string_view text, TComponent* owner);

// Reads `text` into the existing `root`, whose class the text must name:
// the root takes the name and properties of the text and gains the nested
// components. On failure the components created so far are destroyed; the
// root keeps what was assigned to it before the error.
QUORVEX_FRAMEWORK_API void ReadComponentTextInto(std::string_view text, TComponent& root);

// The value of one property of `object` as the form file writes it; for an
// event, the handler's method name on `root` (empty when it has none or when
// `root` is null).
QUORVEX_FRAMEWORK_API std::string PropertyValueText(const TPropInfo& property, const TObject& object,
                                                    const TComponent* root);

}  // namespace Vcl

#endif

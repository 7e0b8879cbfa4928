// RegularExpressionInterface: the palette component that publishes only the
// expression and its compile options; the subject string, the format string,
// the file settings and the events are set in code (through the accessors
// and members of RegularExpressionCustom).
//
// Published, after Name and Tag: ExpressionOptions, Expression.
#ifndef QUORVPAK_REGULAREXPRESSIONINTERFACE_H
#define QUORVPAK_REGULAREXPRESSIONINTERFACE_H

#include "Regularexpressioncustom.h"

namespace RegexComponent {

class QUORVPAK_API RegularExpressionInterface : public RegularExpressionCustom {
public:
    explicit RegularExpressionInterface(Vcl::TComponent* Owner);
    RegularExpressionInterface(const RegularExpressionInterface& other);
    RegularExpressionInterface& operator=(const RegularExpressionInterface& other);
    bool operator==(const RegularExpressionInterface& other) const;
    bool operator!=(const RegularExpressionInterface& other) const { return !(*this == other); }
    ~RegularExpressionInterface() override;

    static Vcl::TClass StaticClass();
    Vcl::TClass ClassType() const override;
};

// The unit Regularexpressioninterface.
namespace Regularexpressioninterface {
// Puts RegularExpressionInterface on the palette page "RegExp"; called by
// the designer when it installs the package.
QUORVPAK_API void Register();
}  // namespace Regularexpressioninterface

}  // namespace RegexComponent

#endif

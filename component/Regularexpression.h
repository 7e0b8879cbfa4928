// RegularExpression: the palette component that publishes everything, all
// ten settings and all seven events, for configuring it at design time.
//
// Published, after Name and Tag: MatchOptions, ExpressionOptions, Expression,
// FormatString, DirectoryRecursion, MergeCopy, Unicode, StringToMatch, FilesToMatch,
// SaveExtension, OnMatching, OnSearching, OnGrepping, OnMerging,
// OnGreppingFiles, OnFindFiles, OnChangingFiles. A form file stores the two
// sets always, the booleans when true, the texts when not empty and the
// events by the names of their handler methods.
#ifndef QUORVPAK_REGULAREXPRESSION_H
#define QUORVPAK_REGULAREXPRESSION_H

#include "Regularexpressioncustom.h"

namespace RegexComponent {

class QUORVPAK_API RegularExpression : public RegularExpressionCustom {
public:
    explicit RegularExpression(Vcl::TComponent* Owner);
    RegularExpression(const RegularExpression& other);
    RegularExpression& operator=(const RegularExpression& other);
    bool operator==(const RegularExpression& other) const;
    bool operator!=(const RegularExpression& other) const { return !(*this == other); }
    ~RegularExpression() override;

    static Vcl::TClass StaticClass();
    Vcl::TClass ClassType() const override;
};

// The unit Regularexpression.
namespace Regularexpression {
// Puts RegularExpression on the palette page "RegExp"; called by the
// designer when it installs the package.
QUORVPAK_API void Register();
}  // namespace Regularexpression

}  // namespace RegexComponent

#endif

// The unit Regularexpression: the palette component that publishes every
// setting and every event, and its registration.
#include "Regularexpression.h"

#include "Publishing.h"

namespace RegexComponent {

RegularExpression::RegularExpression(Vcl::TComponent* Owner) : RegularExpressionCustom(Owner) {}
RegularExpression::RegularExpression(const RegularExpression& other) : RegularExpressionCustom(other) {}

RegularExpression& RegularExpression::operator=(const RegularExpression& other)
{
    RegularExpressionCustom::operator=(other);
    return *this;
}

bool RegularExpression::operator==(const RegularExpression& other) const
{
    return RegularExpressionCustom::operator==(other);
}

RegularExpression::~RegularExpression() = default;

Vcl::TClass RegularExpression::StaticClass()
{
    using Base = RegularExpressionCustom;
    using Vcl::TTypeInfo;
    static const Vcl::TMetaClass meta = [] {
        Vcl::ClassInfo<RegularExpression> info("RegularExpression", "Regularexpression", Base::StaticClass());
        info.Property("MatchOptions", MatchSetType(), &Base::MatchOptions, &Base::SetMatches);
        PublishExpression(info)
            .Property("FormatString", TTypeInfo::String(), &Base::GetFormatString, &Base::SetFormatString)
            .Property("DirectoryRecursion", TTypeInfo::Boolean(), &Base::DirectoryRecursion, &Base::DirectoryRecursion)
            .Property("MergeCopy", TTypeInfo::Boolean(), &Base::MergeCopy, &Base::MergeCopy)
            .Property("Unicode", TTypeInfo::Boolean(), &Base::Unicode, &Base::SetUnicode)
            .Property("StringToMatch", TTypeInfo::String(), &Base::GetStringToMatch, &Base::SetStringToMatch)
            .Property("FilesToMatch", TTypeInfo::String(), &Base::GetFilesToMatch, &Base::SetFilesToMatch)
            .Property("SaveExtension", TTypeInfo::String(), &Base::GetSaveExtension, &Base::SetSaveExtension)
            .Property("OnMatching", MatchingEventType(), &Base::OnMatching, &Base::OnMatching)
            .Property("OnSearching", MatchingEventType(), &Base::OnSearching, &Base::OnSearching)
            .Property("OnGrepping", GreppingEventType(), &Base::OnGrepping, &Base::OnGrepping)
            .Property("OnMerging", GreppingEventType(), &Base::OnMerging, &Base::OnMerging)
            .Property("OnGreppingFiles", FileMatchesEventType(), &Base::OnGreppingFiles, &Base::OnGreppingFiles)
            .Property("OnFindFiles", FindFilesEventType(), &Base::OnFindFiles, &Base::OnFindFiles)
            .Property("OnChangingFiles", FileMatchesEventType(), &Base::OnChangingFiles, &Base::OnChangingFiles)
            .Constructible();
        return info.Build();
    }();
    return &meta;
}

Vcl::TClass RegularExpression::ClassType() const { return StaticClass(); }

void Regularexpression::Register() { RegisterOnPalette<RegularExpression>(); }

}  // namespace RegexComponent

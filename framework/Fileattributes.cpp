// FileGetAttr over the platform layer: read-only is the read-only attribute
// (on POSIX systems, the owner's write permission being off).
#include "Fileattributes.h"

#include "Platform.h"

namespace Vcl {

int FileGetAttr(const System::AnsiString& FileName)
{
    if (FileName.IsEmpty())
        return -1;
    const std::uint32_t bits = RegexPlatform::GetAttributes(FileName.c_str());
    if (bits == RegexPlatform::InvalidAttributes)
        return -1;
    int attributes = 0;
    if ((bits & RegexPlatform::AttributeReadOnly) != 0)
        attributes |= faReadOnly;
    if ((bits & RegexPlatform::AttributeDirectory) != 0)
        attributes |= faDirectory;
    return attributes;
}

}  // namespace Vcl

// FileGetAttr on POSIX: read-only means the owner's write permission is off.
#include "Fileattributes.h"

#include <sys/stat.h>

namespace Vcl {

int FileGetAttr(const System::AnsiString& FileName)
{
    struct stat info;
    if (FileName.IsEmpty() || ::stat(FileName.c_str(), &info) != 0)
        return -1;
    int attributes = 0;
    if ((info.st_mode & S_IWUSR) == 0)
        attributes |= faReadOnly;
    if (S_ISDIR(info.st_mode))
        attributes |= faDirectory;
    return attributes;
}

}  // namespace Vcl

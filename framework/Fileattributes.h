// FileGetAttr: the attribute bits of a named file.
//
//   int attributes = Vcl::FileGetAttr("notes.txt");
//   bool readOnly = (attributes & Vcl::faReadOnly) != 0;
//
// A file whose attributes cannot be read (missing, unreachable, empty name)
// gives -1, every bit set, so it also counts as read-only.
#ifndef QUORVEX_FRAMEWORK_FILEATTRIBUTES_H
#define QUORVEX_FRAMEWORK_FILEATTRIBUTES_H

#include "Ansistring.h"
#include "Frameworkexport.h"

namespace Vcl {

constexpr int faReadOnly = 0x01;   // the owner may not write the file
constexpr int faDirectory = 0x10;  // the name is a directory

QUORVEX_FRAMEWORK_API int FileGetAttr(const System::AnsiString& FileName);

}  // namespace Vcl

#endif

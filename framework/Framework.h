// The component framework stand-in, all of it: the text and set types,
// closures, the class tree with its type information, form files, packages,
// the designer and the file-attribute query.
#ifndef QUORVEX_FRAMEWORK_FRAMEWORK_H
#define QUORVEX_FRAMEWORK_FRAMEWORK_H

#include "Ansistring.h"
#include "Classes.h"
#include "Classinfo.h"
#include "Closures.h"
#include "Designer.h"
#include "Fileattributes.h"
#include "Formstream.h"
#include "Frameworkerrors.h"
#include "Frameworkset.h"
#include "Packages.h"
#include "Typeinfo.h"

#endif

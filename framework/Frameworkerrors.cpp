// Out-of-line destructors: they anchor each exception type's type information
// in this library, so that a catch in another module recognises it.
#include "Frameworkerrors.h"

namespace Vcl {

Exception::Exception(const std::string& message) : std::runtime_error(message) {}
Exception::~Exception() = default;
EAssignError::~EAssignError() = default;
ERangeError::~ERangeError() = default;
EComponentError::~EComponentError() = default;
EReadError::~EReadError() = default;
EWriteError::~EWriteError() = default;
EPackageError::~EPackageError() = default;

}  // namespace Vcl

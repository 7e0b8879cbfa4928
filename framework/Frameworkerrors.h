// The framework's exception types.
//
// Everything the framework refuses is raised as one of these, all derived from
// Vcl::Exception (itself a std::runtime_error), so a caller can catch the
// framework's errors as a group or one kind at a time:
//
//   try { Vcl::ReadComponentText(text, nullptr); }
//   catch (const Vcl::EReadError& e) { std::cerr << e.what() << '\n'; }
#ifndef QUORVEX_FRAMEWORK_FRAMEWORKERRORS_H
#define QUORVEX_FRAMEWORK_FRAMEWORKERRORS_H

#include "Frameworkexport.h"

#include <stdexcept>
#include <string>

namespace Vcl {

// Base of every framework error.
class QUORVEX_FRAMEWORK_API Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message);
    ~Exception() override;
};

// A persistent object was asked to take a source it cannot copy from. The
// message names both classes: "Cannot assign a TFoo to a TBar".
class QUORVEX_FRAMEWORK_API EAssignError : public Exception {
public:
    using Exception::Exception;
    ~EAssignError() override;
};

// An index or a set element outside its range.
class QUORVEX_FRAMEWORK_API ERangeError : public Exception {
public:
    using Exception::Exception;
    ~ERangeError() override;
};

// Component names, ownership, the class registry, construction by class and
// palette registration.
class QUORVEX_FRAMEWORK_API EComponentError : public Exception {
public:
    using Exception::Exception;
    ~EComponentError() override;
};

// A form file that cannot be read. The message starts with the line number.
class QUORVEX_FRAMEWORK_API EReadError : public Exception {
public:
    using Exception::Exception;
    ~EReadError() override;
};

// A component tree that the form writer cannot write readably.
class QUORVEX_FRAMEWORK_API EWriteError : public Exception {
public:
    using Exception::Exception;
    ~EWriteError() override;
};

// Package loading, unit tables and package resources.
class QUORVEX_FRAMEWORK_API EPackageError : public Exception {
public:
    using Exception::Exception;
    ~EPackageError() override;
};

}  // namespace Vcl

#endif

// Symbol export for the framework stand-in library. Everything is hidden by
// default; the public classes and functions carry QUORVEX_FRAMEWORK_API.
#ifndef QUORVEX_FRAMEWORK_FRAMEWORKEXPORT_H
#define QUORVEX_FRAMEWORK_FRAMEWORKEXPORT_H

#if defined(_WIN32)
#  if defined(QUORVEX_FRAMEWORK_BUILDING)
#    define QUORVEX_FRAMEWORK_API __declspec(dllexport)
#  else
#    define QUORVEX_FRAMEWORK_API __declspec(dllimport)
#  endif
#else
#  define QUORVEX_FRAMEWORK_API __attribute__((visibility("default")))
#endif

#endif

// Symbol export for the quorvex shared library. Everything is hidden by
// default; the public class and functions carry QUORVEX_API.
#ifndef QUORVEX_QUORVEXEXPORT_H
#define QUORVEX_QUORVEXEXPORT_H

#if defined(_WIN32)
#  if defined(QUORVEX_BUILDING)
#    define QUORVEX_API __declspec(dllexport)
#  else
#    define QUORVEX_API __declspec(dllimport)
#  endif
#else
#  define QUORVEX_API __attribute__((visibility("default")))
#endif

#endif

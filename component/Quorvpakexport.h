// Symbol export for the component package library. Everything is hidden by
// default; the public classes and functions carry QUORVPAK_API.
#ifndef QUORVPAK_QUORVPAKEXPORT_H
#define QUORVPAK_QUORVPAKEXPORT_H

#if defined(_WIN32)
#  if defined(QUORVPAK_BUILDING)
#    define QUORVPAK_API __declspec(dllexport)
#  else
#    define QUORVPAK_API __declspec(dllimport)
#  endif
#else
#  define QUORVPAK_API __attribute__((visibility("default")))
#endif

#endif

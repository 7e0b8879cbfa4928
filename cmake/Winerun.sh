#!/bin/sh
# Runs a cross-built Windows program under Wine: Winerun.sh PREFIX PROGRAM [ARGS...]
# A private prefix (created on first use), no display, no debug output, no
# offer to install Wine's .NET or HTML engines; the compiler's run-time DLLs
# are found through WINEPATH.
prefix=$1
shift
WINEPREFIX=$prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
WINEPATH="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)");/usr/x86_64-w64-mingw32/lib"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES WINEPATH
unset DISPLAY WAYLAND_DISPLAY
exec "${WINE:-/usr/lib/wine/wine64}" "$@"

# Cross-compiling for Windows with Debian's mingw-w64 compilers (the POSIX
# thread model, so that std::thread works). QUORVEX_MINGW_ARCH is x86_64 or
# i686; the two toolchain files beside this one set it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUORVEX_MINGW_ARCH})
set(QUORVEX_MINGW_TRIPLE ${QUORVEX_MINGW_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${QUORVEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine, headless, in a private prefix of the build
# tree, finding the compiler's run-time DLLs through WINEPATH (64-bit only:
# 32-bit programs are built, not run).
if(QUORVEX_MINGW_ARCH STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR
    /bin/sh ${CMAKE_CURRENT_LIST_DIR}/Winerun.sh ${CMAKE_BINARY_DIR}/wineprefix)
endif()

# Header-only CLI11 from the build machine (see cross/CLI11Config.cmake).
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/cross)

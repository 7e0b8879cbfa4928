# 32-bit Windows with mingw-w64: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/Toolchain-mingw-i686.cmake
set(QUORVEX_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/Mingwtoolchain.cmake)

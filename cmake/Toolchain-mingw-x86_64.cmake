# 64-bit Windows with mingw-w64: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/Toolchain-mingw-x86_64.cmake
set(QUORVEX_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/Mingwtoolchain.cmake)

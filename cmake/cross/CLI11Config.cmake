# CLI11 for cross-builds: the build machine's header-only CLI11
# (/usr/include/CLI, Debian's libcli11-dev), seen through a folder of the
# build tree that holds nothing else, so that no other header of the build
# machine reaches the cross compiler.
if(NOT TARGET CLI11::CLI11)
  set(_quorvex_cli11 ${CMAKE_BINARY_DIR}/cli11-include)
  if(NOT EXISTS ${_quorvex_cli11}/CLI/CLI.hpp)
    file(MAKE_DIRECTORY ${_quorvex_cli11})
    file(CREATE_LINK /usr/include/CLI ${_quorvex_cli11}/CLI SYMBOLIC)
  endif()
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_quorvex_cli11})
endif()
set(CLI11_FOUND TRUE)

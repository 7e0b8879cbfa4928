# Install rules: the shared libraries with versioned names, the public
# headers under include/quorvex, the command-line tool with its manual page,
# a CMake package (find_package(Quorvex CONFIG) gives Quorvex::quorvex and,
# when built, Quorvex::quorvpak) and pkg-config files.
#
# Three install components, one per Debian package: Runtime (the shared
# libraries), Development (headers, import libraries and .so links, CMake
# and pkg-config files) and Tool (the quorvex program, its manual page and
# bash completion). A public header is installed by naming it in the HEADERS
# list of its library (quorvex_shared_library), one line each.
include(CMakePackageConfigHelpers)

set(QUORVEX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvex CACHE STRING
    "Where the CMake package files are installed, relative to the prefix")
set(QUORVEX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/quorvex)

# The shared libraries that form the package. Their internal static
# libraries are linked in privately and are neither installed nor exported.
# The component package comes with the framework library it is built on.
set(quorvex_package_targets quorvex)
if(TARGET quorvpak)
  if(TARGET quorvex_framework)
    list(APPEND quorvex_package_targets quorvex_framework)
  endif()
  list(APPEND quorvex_package_targets quorvpak)
endif()

# PUBLIC_HEADER entries are given relative to each library's own folder;
# install(TARGETS) here would read them relative to the top folder.
foreach(quorvex_target ${quorvex_package_targets})
  get_target_property(quorvex_headers ${quorvex_target} PUBLIC_HEADER)
  if(quorvex_headers)
    get_target_property(quorvex_target_dir ${quorvex_target} SOURCE_DIR)
    set(quorvex_absolute_headers)
    foreach(quorvex_header ${quorvex_headers})
      if(NOT IS_ABSOLUTE "${quorvex_header}")
        set(quorvex_header "${quorvex_target_dir}/${quorvex_header}")
      endif()
      list(APPEND quorvex_absolute_headers "${quorvex_header}")
    endforeach()
    set_target_properties(${quorvex_target} PROPERTIES PUBLIC_HEADER "${quorvex_absolute_headers}")
  endif()
endforeach()

install(TARGETS ${quorvex_package_targets}
  EXPORT QuorvexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT Runtime
    NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  PUBLIC_HEADER DESTINATION ${QUORVEX_INSTALL_INCLUDEDIR} COMPONENT Development
  INCLUDES DESTINATION ${QUORVEX_INSTALL_INCLUDEDIR})

install(EXPORT QuorvexTargets
  NAMESPACE Quorvex::
  FILE QuorvexTargets.cmake
  DESTINATION ${QUORVEX_INSTALL_CMAKEDIR}
  COMPONENT Development)

# Built against standalone Boost.Regex headers: they go with the public
# headers (which include boost/regex.hpp), and the package defines the
# Boost::regex target over them instead of looking for an installed Boost.
set(QUORVEX_PACKAGE_BOOST_STANDALONE OFF)
if(QUORVEX_BOOST_REGEX_HEADERS)
  set(QUORVEX_PACKAGE_BOOST_STANDALONE ON)
  install(DIRECTORY ${QUORVEX_BOOST_REGEX_HEADERS}/boost/regex
    DESTINATION ${QUORVEX_INSTALL_INCLUDEDIR}/boost COMPONENT Development)
  install(FILES ${QUORVEX_BOOST_REGEX_HEADERS}/boost/regex.hpp ${QUORVEX_BOOST_REGEX_HEADERS}/boost/regex_fwd.hpp
    DESTINATION ${QUORVEX_INSTALL_INCLUDEDIR}/boost COMPONENT Development)
endif()

configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/QuorvexConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QuorvexConfig.cmake
  INSTALL_DESTINATION ${QUORVEX_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/QuorvexConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/QuorvexConfig.cmake
  ${PROJECT_BINARY_DIR}/QuorvexConfigVersion.cmake
  DESTINATION ${QUORVEX_INSTALL_CMAKEDIR}
  COMPONENT Development)

# pkg-config: one file per library. Paths are written relative to the
# prefix (${pcfiledir}), so the installed tree can be moved. Built against
# the standalone Boost.Regex headers, the package carries them and there is
# no Boost library to link.
if(QUORVEX_PACKAGE_BOOST_STANDALONE)
  set(QUORVEX_PC_CFLAGS " -DBOOST_REGEX_STANDALONE -DBOOST_HAS_THREADS")
  set(QUORVEX_PC_BOOST_LIBS "")
else()
  set(QUORVEX_PC_CFLAGS "")
  set(QUORVEX_PC_BOOST_LIBS " -lboost_regex")
endif()
file(RELATIVE_PATH quorvex_pc_to_prefix
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
foreach(quorvex_pc_target quorvex quorvpak)
  if(NOT TARGET ${quorvex_pc_target})
    continue()
  endif()
  set(QUORVEX_PC_NAME ${quorvex_pc_target})
  if(quorvex_pc_target STREQUAL "quorvex")
    set(QUORVEX_PC_DESCRIPTION "C++ regular-expression toolkit built on Boost.Regex")
    set(QUORVEX_PC_LIBS "-lquorvex")
  else()
    set(QUORVEX_PC_DESCRIPTION "Component package of the Quorvex regular-expression toolkit")
    set(QUORVEX_PC_LIBS "-lquorvpak")
    if(TARGET quorvex_framework)
      string(APPEND QUORVEX_PC_LIBS " -lquorvex_framework")
    endif()
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/quorvex.pc.in
                 ${PROJECT_BINARY_DIR}/pkgconfig/${quorvex_pc_target}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${quorvex_pc_target}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT Development)
endforeach()

# Files installed compressed, as Debian wants them (gzip -n: the same bytes on
# every build); where gzip is missing they are installed as they are.
# quorvex_install_compressed(source destination component [EXCLUDE_FROM_ALL])
find_program(QUORVEX_GZIP gzip)
function(quorvex_install_compressed source destination component)
  get_filename_component(name ${source} NAME)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  if(QUORVEX_GZIP)
    execute_process(COMMAND ${QUORVEX_GZIP} -9 -n -c ${source}
      OUTPUT_FILE ${PROJECT_BINARY_DIR}/compressed/${name}.gz RESULT_VARIABLE failed)
    if(NOT failed)
      install(FILES ${PROJECT_BINARY_DIR}/compressed/${name}.gz DESTINATION ${destination}
        COMPONENT ${component} ${ARGN})
      return()
    endif()
  endif()
  install(FILES ${source} DESTINATION ${destination} COMPONENT ${component} ${ARGN})
endfunction()
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/compressed)

# The Debian package names: the libraries' package is named after their
# SONAME (libquorvex.so.MAJOR).
set(QUORVEX_DEB_RUNTIME libquorvex${PROJECT_VERSION_MAJOR})
set(QUORVEX_DEB_DEVELOPMENT libquorvex-dev)
set(QUORVEX_DEB_TOOL quorvex)

if(TARGET quorvex_cli)
  install(TARGETS quorvex_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tool)
  if(NOT WIN32)
    quorvex_install_compressed(${PROJECT_SOURCE_DIR}/man/quorvex.1 ${CMAKE_INSTALL_MANDIR}/man1 Tool)
    # bash-completion loads completions/NAME when NAME is first completed.
    install(FILES ${PROJECT_SOURCE_DIR}/cli/quorvex-completion.bash
      DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
      RENAME quorvex
      COMPONENT Tool)
  endif()
endif()

if(WIN32)
  include(${PROJECT_SOURCE_DIR}/cmake/QuorvexWindowsPackage.cmake)
  return()
endif()

# Every Debian package carries its copyright file and changelog in
# share/doc/PACKAGE. They are part of the packages only: an install from the
# build tree (make install) leaves them out.
foreach(quorvex_component Runtime Development Tool)
  string(TOUPPER ${quorvex_component} quorvex_upper)
  set(quorvex_doc ${CMAKE_INSTALL_DATADIR}/doc/${QUORVEX_DEB_${quorvex_upper}})
  quorvex_install_compressed(${PROJECT_SOURCE_DIR}/cmake/debian/changelog ${quorvex_doc}
    ${quorvex_component} EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright DESTINATION ${quorvex_doc}
    COMPONENT ${quorvex_component} EXCLUDE_FROM_ALL)
endforeach()

# Debian packages (`make package`, or `cpack -G DEB` in the build directory),
# split as Debian splits a C++ library: one .deb per install component,
# PACKAGE_VERSION_ARCH.deb. dpkg-shlibdeps works out the run-time
# dependencies; the libraries' package carries their shlibs file and the
# ldconfig trigger.
if(NOT CPACK_GENERATOR)
  set(CPACK_GENERATOR DEB)
endif()
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_CONTACT "Quorvex maintainers <maintainers@quorvex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "regular-expression toolkit: C++ library and grep/replace tool")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The tool needs the package's own libraries: dpkg-shlibdeps finds them here
# (they have no shlibs entry yet, so the tool's Depends names them below).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/class ${PROJECT_BINARY_DIR}/component
    ${PROJECT_BINARY_DIR}/framework)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${QUORVEX_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "regular-expression toolkit: shared libraries
A C++ regular-expression object built on Boost.Regex: search,
grep and replace in strings and files, with a safe rewrite of
changed files, and its component package.
.
This package holds the shared libraries.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${QUORVEX_DEB_DEVELOPMENT})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The public headers include boost/regex.hpp.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${QUORVEX_DEB_RUNTIME} (= ${PROJECT_VERSION}), libboost-regex-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "regular-expression toolkit: development files
A C++ regular-expression object built on Boost.Regex: search,
grep and replace in strings and files, with a safe rewrite of
changed files, and its component package.
.
This package holds the headers, the CMake package and the
pkg-config files.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${QUORVEX_DEB_TOOL})
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${QUORVEX_DEB_RUNTIME} (>= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_TOOL_DESCRIPTION "grep and safe in-place replace with regular expressions
quorvex is a grep with the switches grep users know and a
replace that rewrites files in place safely, with a
unified-diff preview, built on the Quorvex library.")
include(CPack)

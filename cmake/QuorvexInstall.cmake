# Install rules: the shared libraries with versioned names, the public
# headers under include/quorvex, the command-line tool with its manual page,
# a CMake package (find_package(Quorvex CONFIG) gives Quorvex::quorvex and,
# when built, Quorvex::quorvpak) and pkg-config files.
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
# prefix (${pcfiledir}), so the installed tree can be moved.
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

if(TARGET quorvex_cli)
  install(TARGETS quorvex_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  install(FILES ${PROJECT_SOURCE_DIR}/man/quorvex.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT Runtime)
endif()

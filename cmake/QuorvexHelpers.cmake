# Shared CMake helpers.

# Compile warnings used for every target of the project; errors with
# QUORVEX_WERROR (which `make test` and CI turn on).
function(quorvex_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(QUORVEX_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
      if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        # g++'s may-be-uninitialized analysis changes with the optimisation
        # level and sanitizer instrumentation, and reports false positives
        # inside the standard library's own headers (std::regex at -O1 with
        # AddressSanitizer): shown, but not fatal.
        target_compile_options(${target} PRIVATE -Wno-error=maybe-uninitialized)
      endif()
    endif()
  endif()
endfunction()

# quorvex_shared_library(name BUILDING macro [VERSION v] SOURCES a.cpp ...
#                        HEADERS a.h ...)
# One of the installed shared libraries: alias Quorvex::name, hidden symbols
# with `macro` defined while it is built (its export header turns that into
# the export attribute), versioned file name with the major version as
# SONAME, no undefined symbols, and the public headers installed under
# include/quorvex. VERSION defaults to the project's version.
function(quorvex_shared_library name)
  cmake_parse_arguments(ARG "" "BUILDING;VERSION" "SOURCES;HEADERS" ${ARGN})
  if(NOT ARG_VERSION)
    set(ARG_VERSION ${PROJECT_VERSION})
  endif()
  add_library(${name} SHARED ${ARG_SOURCES})
  add_library(Quorvex::${name} ALIAS ${name})
  target_compile_definitions(${name} PRIVATE ${ARG_BUILDING})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/quorvex>)
  set_target_properties(${name} PROPERTIES
    VERSION ${ARG_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    PUBLIC_HEADER "${ARG_HEADERS}")
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
  quorvex_warnings(${name})
endfunction()

# Internal code linked into a shared library: position independent, hidden symbols.
function(quorvex_internal_library target)
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  quorvex_warnings(${target})
endfunction()

# quorvex_add_test(name SOURCES a.cpp b.cpp LIBS lib1 lib2)
# One GoogleTest executable, registered with ctest test by test; the shared
# test helpers of tests/support are on its include path.
function(quorvex_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  quorvex_warnings(${name})
  if(CMAKE_CROSSCOMPILING)
    # Listed when ctest runs (through the emulator), so that building needs
    # no way to run the programs.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

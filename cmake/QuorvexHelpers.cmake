# Shared CMake helpers.

# Compile warnings used for every target of the project.
function(quorvex_warnings target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  endif()
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
# One GoogleTest executable, registered with ctest test by test.
function(quorvex_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  quorvex_warnings(${name})
  if(CMAKE_CROSSCOMPILING)
    # Listed when ctest runs (through the emulator), so that building needs
    # no way to run the programs.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

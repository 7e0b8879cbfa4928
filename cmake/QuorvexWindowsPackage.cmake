# The Windows package (`make package-windows`, or `cpack -G ZIP` in the
# cross-build directory): quorvex-VERSION-win64.zip (win32 for i686) that
# runs on a bare Windows. bin/ holds the program, the DLLs and the compiler's
# run-time DLLs that they load, lib/ the import libraries and the CMake and
# pkg-config files, include/quorvex the headers with the Boost.Regex headers
# they include, and README.txt says how to use it.
#
# The run-time DLLs are shipped rather than linked statically: the libraries'
# interface passes standard-library objects (std::string, std::vector,
# std::function, streams) and exceptions between the program and the DLLs,
# which works only when every module shares one libstdc++ and one unwinder.
# A static run-time in each module would give each its own copy, with its own
# locale facet ids and exception type identities.

# The folders of the compiler's run-time DLLs, as the compiler reports them.
set(quorvex_runtime_dirs)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  foreach(quorvex_probe libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${quorvex_probe}
      OUTPUT_VARIABLE quorvex_probe_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${quorvex_probe_path}" AND EXISTS "${quorvex_probe_path}")
      get_filename_component(quorvex_probe_path "${quorvex_probe_path}" REALPATH)
      get_filename_component(quorvex_probe_dir "${quorvex_probe_path}" DIRECTORY)
      list(APPEND quorvex_runtime_dirs "${quorvex_probe_dir}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES quorvex_runtime_dirs)
endif()

# At install time, the DLLs that the installed programs and libraries load
# (followed through the DLLs found) are looked up in those folders alone and
# installed beside them, stripped when the install strips. What is not found
# there is Windows' own (KERNEL32.dll, msvcrt.dll, ...) or the project's.
if(quorvex_runtime_dirs)
  if(NOT CMAKE_OBJDUMP)
    message(FATAL_ERROR "the Windows package needs objdump to find the run-time DLLs")
  endif()
  set(quorvex_pe_files)
  foreach(quorvex_target ${quorvex_package_targets} quorvex_cli)
    if(TARGET ${quorvex_target})
      list(APPEND quorvex_pe_files "\"$<TARGET_FILE:${quorvex_target}>\"")
    endif()
  endforeach()
  string(REPLACE ";" " " quorvex_pe_files "${quorvex_pe_files}")
  set(quorvex_quoted_dirs)
  foreach(quorvex_dir ${quorvex_runtime_dirs})
    string(APPEND quorvex_quoted_dirs " \"${quorvex_dir}\"")
  endforeach()
  install(CODE "
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
    set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND \"${CMAKE_OBJDUMP}\")
    file(GET_RUNTIME_DEPENDENCIES
      LIBRARIES ${quorvex_pe_files}
      DIRECTORIES ${quorvex_quoted_dirs}
      RESOLVED_DEPENDENCIES_VAR quorvex_resolved
      UNRESOLVED_DEPENDENCIES_VAR quorvex_unresolved)
    set(quorvex_runtime_dirs ${quorvex_quoted_dirs})
    foreach(quorvex_dll \${quorvex_resolved})
      get_filename_component(quorvex_dir \"\${quorvex_dll}\" DIRECTORY)
      list(FIND quorvex_runtime_dirs \"\${quorvex_dir}\" quorvex_found)
      if(quorvex_found LESS 0)
        continue()
      endif()
      file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\" TYPE SHARED_LIBRARY
        FILES \"\${quorvex_dll}\")
      get_filename_component(quorvex_name \"\${quorvex_dll}\" NAME)
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${quorvex_name}\")
      endif()
    endforeach()
    " COMPONENT Runtime)
endif()

# README.txt for Windows users, with Windows line ends.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QUORVEX_WINDOWS_SYSTEM win64)
else()
  set(QUORVEX_WINDOWS_SYSTEM win32)
endif()
set(QUORVEX_WINDOWS_COMPILER "${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/README.txt.in ${PROJECT_BINARY_DIR}/windows/README.txt
  @ONLY NEWLINE_STYLE WIN32)
install(FILES ${PROJECT_BINARY_DIR}/windows/README.txt DESTINATION . COMPONENT Runtime)

if(NOT CPACK_GENERATOR)
  set(CPACK_GENERATOR ZIP)
endif()
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "regular-expression toolkit: C++ library and grep/replace tool")
set(CPACK_SYSTEM_NAME ${QUORVEX_WINDOWS_SYSTEM})
set(CPACK_PACKAGE_FILE_NAME quorvex-${PROJECT_VERSION}-${QUORVEX_WINDOWS_SYSTEM})
# Unzipped, everything is in one folder named like the zip.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

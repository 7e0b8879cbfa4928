# Checks the export table of a DLL: cmake -DOBJDUMP=... -DDLL=... -DALLOWED=regex -P Dllexports.cmake
# Every exported name must match ALLOWED (the library's public namespaces and
# entry points) and none may belong to the internal layers, Boost or the
# standard library; the table must not be empty.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(.*)" table "${dump}")
string(REGEX REPLACE "\n\n.*" "" table "${CMAKE_MATCH_1}")
string(REGEX REPLACE "[^\n]*\\] " "" table "${table}")
string(STRIP "${table}" table)
string(REPLACE "\n" ";" names "${table}")
list(LENGTH names count)
if(count EQUAL 0)
  message(FATAL_ERROR "${DLL} exports nothing")
endif()
set(bad "")
foreach(name ${names})
  # The name's own namespace (not those of its parameters) decides.
  if(NOT name MATCHES "${ALLOWED}" OR name MATCHES "^_Z(N|NK|TIN|TVN|TSN)(11RegexEngine|13RegexPlatform|5boost)"
     OR name MATCHES "^_Z(N|NK|TI|TV|TS)?St")
    list(APPEND bad "${name}")
  endif()
endforeach()
if(bad)
  string(REPLACE ";" "\n  " bad "${bad}")
  message(FATAL_ERROR "${DLL} exports names outside its interface:\n  ${bad}")
endif()
message(STATUS "${DLL}: ${count} exports, all of its interface")

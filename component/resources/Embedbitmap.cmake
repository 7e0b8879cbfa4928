# Writes OUTPUT: the bytes of the file INPUT as a C++ array named NAME.
#   cmake -DINPUT=file.bmp -DNAME=Array -DOUTPUT=file.inc -P Embedbitmap.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" length)
set(lines "")
set(offset 0)
while(offset LESS length)
  # 16 bytes a line.
  string(SUBSTRING "${hex}" ${offset} 32 chunk)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," chunk "${chunk}")
  string(APPEND lines "    ${chunk}\n")
  math(EXPR offset "${offset} + 32")
endwhile()
get_filename_component(source "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp" "// Generated from ${source}: do not edit.\nconst unsigned char ${NAME}[] = {\n${lines}};\n")
# Rewrite only a changed file, so that nothing is rebuilt needlessly.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")

# Turns binary files into constant byte arrays, so the executable carries its pictures
# and looks nothing up on disk. Run as a script:
#   cmake -DOUTPUT=<file.cpp> -DFILES=<symbol>=<path>;... -P EmbedFiles.cmake
set(text "// Generated from the files in res/ at build time; edit those, not this.\n#include <cstddef>\n\n")
foreach(entry IN LISTS FILES)
  string(REPLACE "=" ";" pair "${entry}")
  list(GET pair 0 symbol)
  list(GET pair 1 path)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND text "extern const unsigned char ${symbol}[] = {\n  ${bytes}\n};\n")
  string(APPEND text "extern const size_t ${symbol}Size = ${size};\n\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "${text}")
# Keep the old file when nothing changed, so nothing rebuilds needlessly.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")

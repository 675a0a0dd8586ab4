# Writes the C++ source that embeds the artwork under fixed symbol names.
# Run as: cmake -DART_DIR=<folder with ArtList.cmake> -DOUTPUT=<file.cpp> -P EmbedArt.cmake
include(${ART_DIR}/ArtList.cmake)

string(REPEAT "[0-9a-f]" 32 row)
set(body "// Generated from src/resources/png by EmbedArt.cmake; do not edit.\n\n")
string(APPEND body "#include \"resources/VYRBIN.h\"\n\nnamespace VYRBIN\n{\n")

list(LENGTH VYRBIN_ITEMS count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET VYRBIN_ITEMS ${i} item)
  list(GET VYRBIN_ITEMS ${j} file)
  file(SIZE ${ART_DIR}/png/${file} size)
  file(READ ${ART_DIR}/png/${file} hex HEX)
  # 16 bytes to a line, each byte as a character literal.
  string(REGEX REPLACE "(${row})" "\\1\n    " hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," hex "${hex}")
  string(STRIP "${hex}" hex)
  string(APPEND body "// ${file}\n")
  string(APPEND body "extern const char temp_binary_data_${item}[] = {\n    ${hex}\n};\n")
  string(APPEND body "extern const int temp_binary_data_${item}Size = ${size};\n\n")
endforeach()
string(APPEND body "} // namespace VYRBIN\n")

# Only touch the output when it changes, so that nothing rebuilds needlessly.
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
  if(old STREQUAL body)
    return()
  endif()
endif()
file(WRITE ${OUTPUT} "${body}")

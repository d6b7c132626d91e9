# Build step: turns the UTF-8 texts of diagnostics.def into the code page
# 932 bytes the compiler prints, written as CP932(Name, "\x..") rows for
# catalog_cp932.cpp. The conversion is iconv's, the same table the C
# library uses for CP932 everywhere else.
#   cmake -DDEF=diagnostics.def -DOUT=diagnostics_cp932.inc -DICONV=iconv -P cp932.cmake
file(STRINGS "${DEF}" lines ENCODING UTF-8)
set(names "")
set(texts "")
foreach(line IN LISTS lines)
  if(line MATCHES "^(ERROR|ERROR1|ERROR2|WARNING|WARNING1|WARNING2|FATAL|FATAL1|TEXT)\\(([A-Za-z_0-9]+),.*\"([^\"\\\\]*)\"\\)$")
    list(APPEND names "${CMAKE_MATCH_2}")
    string(APPEND texts "${CMAKE_MATCH_3}\n")
  elseif(line MATCHES "^[A-Z0-9]+\\(")
    message(FATAL_ERROR "${DEF}: row not understood: ${line}")
  endif()
endforeach()

set(utf8 "${OUT}.utf8")
file(WRITE "${utf8}" "${texts}")
execute_process(COMMAND "${ICONV}" -f UTF-8 -t CP932 "${utf8}"
                OUTPUT_FILE "${OUT}.bytes" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "iconv could not convert the texts of ${DEF} to CP932")
endif()
file(READ "${OUT}.bytes" hex HEX)
string(REGEX MATCHALL ".." bytes "${hex}")

set(out "// Generated from diagnostics.def by cp932.cmake; do not edit.\n")
set(row "")
set(index 0)
foreach(byte IN LISTS bytes)
  if(byte STREQUAL "0a")
    list(GET names ${index} name)
    string(APPEND out "CP932(${name}, \"${row}\")\n")
    set(row "")
    math(EXPR index "${index} + 1")
  else()
    string(APPEND row "\\x${byte}")
  endif()
endforeach()
file(WRITE "${OUT}.tmp" "${out}")
configure_file("${OUT}.tmp" "${OUT}" COPYONLY)
file(REMOVE "${utf8}" "${OUT}.bytes" "${OUT}.tmp")

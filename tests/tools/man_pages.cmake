# Formats every manual page with groff's man macros and all warnings on;
# any output on standard error (a warning or an error) fails the test.
find_program(GROFF groff)
if(NOT GROFF)
  message(FATAL_ERROR "groff not found (Debian package groff-base)")
endif()
file(GLOB pages "${MAN_DIR}/*.1")
list(LENGTH pages count)
if(count LESS 3)
  message(FATAL_ERROR "expected the three manual pages in ${MAN_DIR}, found ${count}")
endif()
foreach(page IN LISTS pages)
  execute_process(COMMAND ${GROFF} -man -ww -z ${page}
                  RESULT_VARIABLE status ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT status EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "${page}: groff status ${status}\n${err}")
  endif()
  # A page must document its program's exit statuses.
  file(READ ${page} text)
  if(NOT text MATCHES "\\.SH EXIT STATUS")
    message(FATAL_ERROR "${page}: no EXIT STATUS section")
  endif()
endforeach()

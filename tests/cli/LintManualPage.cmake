# Formats a manual page with groff's warnings on; any warning or error fails.
# Run as: cmake -DPAGE=page.1 -P LintManualPage.cmake
find_program(GROFF groff REQUIRED)
execute_process(COMMAND ${GROFF} -man -ww -z -Tutf8 ${PAGE}
                RESULT_VARIABLE result ERROR_VARIABLE warnings OUTPUT_QUIET)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff on ${PAGE} (status ${result}):\n${warnings}")
endif()

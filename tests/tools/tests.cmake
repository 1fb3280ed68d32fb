# krtracecheck as an operator runs it: exit codes and output for a clean file,
# a file with warnings (with and without --strict), a refused file, a missing
# file and usage errors.
if(KRERRLOG_BUILD_TOOLS)  # the tool is defined after the tests
  add_test(NAME krtracecheck_exit_codes
    COMMAND ${CMAKE_COMMAND} -DCHECKER=$<TARGET_FILE:krtracecheck>
            -DFILES=${CMAKE_CURRENT_LIST_DIR}/krtracecheck
            -P ${CMAKE_CURRENT_LIST_DIR}/krtracecheck_test.cmake)
endif()

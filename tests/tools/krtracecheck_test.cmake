# Runs krtracecheck on the files beside this script and compares exit codes
# and the lines that matter.
function(check expected_rc expected_output)
  execute_process(COMMAND ${CHECKER} ${ARGN} WORKING_DIRECTORY ${FILES}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected_rc)
    message(SEND_ERROR "krtracecheck ${ARGN}: exit code ${rc}, expected ${expected_rc}\n${out}${err}")
  endif()
  string(FIND "${out}${err}" "${expected_output}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "krtracecheck ${ARGN}: no \"${expected_output}\" in:\n${out}${err}")
  endif()
endfunction()

check(0 "filters (1):\n  User == \"alice \"\n" clean.trace)
check(0 "clean.trace: read (0 warnings)\ncomponents (2): Log, Log/Legacy\ndata fields, in output order (2): User, Realm\n"
      --strict clean.trace)
check(0 "warnings.trace:1: warning: unknown component \"Nope\" ignored\nwarnings.trace:3: warning: \"Username==alice\" does not start with a data field followed by an operator" warnings.trace)
check(1 "warnings.trace: read (2 warnings)" --strict warnings.trace)
check(1 "refused.trace:2: error: a filter line (\"User\") where the components line belongs\nrefused.trace: refused" refused.trace)
check(2 "absent.trace: No such file or directory" absent.trace)
check(2 "not a regular file" .)
check(2 "usage: krtracecheck" --strict)
check(2 "unknown option --bogus" --bogus clean.trace)
check(0 "Exit codes: 0 read" --help)
check(0 "ExecutionTime\nTenant\nTag\n" --fields)

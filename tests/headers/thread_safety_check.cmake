# Runs the compiler on thread_safety_violation.cpp three times with the lock
# checks as errors: the correct variant must compile, each violation must fail
# with clang's own finding (not, say, a missing header).
# -DCXX=<compiler> -DSOURCE=<cpp> -DINCLUDE=<dir> -DFLAGS=<;-list of flags>
set(findings
  "1|requires holding mutex 'first'"
  "2|mutex 'first' must be acquired before 'second'")
set(base ${CXX} -std=c++20 -fsyntax-only ${FLAGS} -Werror -I${INCLUDE} ${SOURCE})

execute_process(COMMAND ${base} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the correct variant does not compile:\n${err}")
endif()
foreach(finding ${findings})
  string(REPLACE "|" ";" parts "${finding}")
  list(GET parts 0 variant)
  list(GET parts 1 text)
  execute_process(COMMAND ${base} -DVIOLATION=${variant} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(rc EQUAL 0)
    message(FATAL_ERROR "violation ${variant} compiled: the analysis did not bite")
  endif()
  string(FIND "${err}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "violation ${variant} failed without the finding '${text}':\n${err}")
  endif()
endforeach()

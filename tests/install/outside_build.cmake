# Shared by the scripts that build a program outside the tree: run a command
# and stop with its output when it fails; configure a project with the
# compilers (and compiler launcher) of the build under test.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

function(configure_outside source binary)
  set(options -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_C_COMPILER=${C_COMPILER})
  if(COMPILER_LAUNCHER)
    list(APPEND options -DCMAKE_CXX_COMPILER_LAUNCHER=${COMPILER_LAUNCHER}
                        -DCMAKE_C_COMPILER_LAUNCHER=${COMPILER_LAUNCHER})
  endif()
  run(${CMAKE_COMMAND} -S ${source} -B ${binary} ${options} ${ARGN})
endfunction()

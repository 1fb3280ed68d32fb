# Shared by the scripts that build a program outside the tree: run a command
# and stop with its output when it fails; configure a project with the
# compilers (and compiler launcher) of the build under test; build and run the
# consumer with the flags pkg-config gives for an installed tree.
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

# Builds tests/install/consumer/consumer.cpp with the flags pkg-config reads
# from prefix's krerrlog.pc, and runs it.
function(run_pkg_config_consumer pkg_config prefix)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  execute_process(COMMAND ${pkg_config} --cflags --libs krerrlog
    OUTPUT_VARIABLE flags RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not find krerrlog in ${prefix}")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX_COMPILER} -std=c++17 ${SOURCE_DIR}/tests/install/consumer/consumer.cpp ${flags}
      -Wl,-rpath,${prefix}/${LIBDIR} -o ${WORK_DIR}/consumer-pc)
  run(${WORK_DIR}/consumer-pc)
endfunction()

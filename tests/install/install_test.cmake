# Installs the built library into a scratch prefix, then builds and runs a
# program outside the tree against it, once through find_package and once
# through pkg-config; with the Java bridge, a Java program against the
# installed jar and library.
include(${CMAKE_CURRENT_LIST_DIR}/outside_build.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The include folder holds exactly the public headers.
include(${SOURCE_DIR}/cmake/krerrlogSources.cmake)
file(GLOB_RECURSE installed RELATIVE ${prefix}/include/krerrlog ${prefix}/include/krerrlog/*)
list(SORT installed)
list(SORT KRERRLOG_PUBLIC_HEADERS)
if(NOT installed STREQUAL KRERRLOG_PUBLIC_HEADERS)
  list(REMOVE_ITEM installed ${KRERRLOG_PUBLIC_HEADERS})
  message(FATAL_ERROR "installed headers differ from the public list; not public: ${installed}")
endif()
configure_outside(${SOURCE_DIR}/tests/install/consumer ${WORK_DIR}/consumer -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer)

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs krerrlog
    OUTPUT_VARIABLE flags RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know krerrlog")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX_COMPILER} -std=c++17 ${SOURCE_DIR}/tests/install/consumer/consumer.cpp ${flags}
      -Wl,-rpath,${prefix}/${LIBDIR} -o ${WORK_DIR}/consumer-pc)
  run(${WORK_DIR}/consumer-pc)
endif()

if(JAVA)
  set(jar ${prefix}/share/java/krerrlog.jar)
  if(NOT EXISTS ${jar})
    message(FATAL_ERROR "krerrlog.jar is not installed in share/java")
  endif()
  run(${JAVA} -cp ${jar} -Djava.library.path=${prefix}/${LIBDIR}
      ${SOURCE_DIR}/tests/install/consumer/JavaConsumer.java ${WORK_DIR}/java-consumer.log)
endif()

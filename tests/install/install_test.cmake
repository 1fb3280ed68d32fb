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
  run_pkg_config_consumer(${PKG_CONFIG} ${prefix})
endif()

if(JAVA)
  set(jar ${prefix}/share/java/krerrlog.jar)
  if(NOT EXISTS ${jar})
    message(FATAL_ERROR "krerrlog.jar is not installed in share/java")
  endif()
  run(${JAVA} -cp ${jar} -Djava.library.path=${prefix}/${LIBDIR}
      ${SOURCE_DIR}/tests/install/consumer/JavaConsumer.java ${WORK_DIR}/java-consumer.log)
endif()

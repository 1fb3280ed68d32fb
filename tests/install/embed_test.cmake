# Builds a host project that embeds the library with add_subdirectory (no
# tests, benchmarks or examples of the library come with it) and runs its
# program against the library built there.
include(${CMAKE_CURRENT_LIST_DIR}/outside_build.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
configure_outside(${SOURCE_DIR}/tests/install/embedder ${WORK_DIR} -DKRERRLOG_SOURCE_DIR=${SOURCE_DIR})
run(${CMAKE_COMMAND} --build ${WORK_DIR} --target consumer)
run(${WORK_DIR}/consumer)

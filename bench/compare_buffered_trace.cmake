# Buffered tracing against spdlog's asynchronous logger and bare write(),
# built only when spdlog is installed (bench/install-comparisons.sh). Named
# bench_* so that `./build.sh bench` runs it with the others.
find_package(spdlog QUIET)
if(NOT spdlog_FOUND)
  message(STATUS "spdlog not found: the buffered trace comparison is not built")
  return()
endif()
add_executable(bench_compare_buffered_trace ${CMAKE_CURRENT_LIST_DIR}/compare_buffered_trace.cpp)
target_link_libraries(bench_compare_buffered_trace PRIVATE krerrlog_testable krerrlog_allocation_counter spdlog::spdlog)
target_compile_options(bench_compare_buffered_trace PRIVATE ${KRERRLOG_WARNINGS})

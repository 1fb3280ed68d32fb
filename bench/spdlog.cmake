# The comparisons with spdlog, built only when spdlog is installed
# (bench/install-comparisons.sh installs it): the spdlog benchmark program and
# buffered tracing against spdlog's asynchronous logger and bare write(). Named
# bench_* so that `./build.sh bench` runs them with the others.
find_package(spdlog QUIET)
if(NOT spdlog_FOUND)
  message(STATUS "spdlog not found: the spdlog comparisons are not built")
  return()
endif()
add_executable(bench_compare_spdlog ${CMAKE_CURRENT_LIST_DIR}/compare_spdlog.cpp)
target_link_libraries(bench_compare_spdlog PRIVATE krerrlog_testable benchmark::benchmark spdlog::spdlog
  krerrlog_allocation_counter)
add_executable(bench_compare_buffered_trace ${CMAKE_CURRENT_LIST_DIR}/compare_buffered_trace.cpp)
target_link_libraries(bench_compare_buffered_trace PRIVATE krerrlog_testable krerrlog_allocation_counter spdlog::spdlog)
foreach(comparison bench_compare_spdlog bench_compare_buffered_trace)
  target_compile_options(${comparison} PRIVATE ${KRERRLOG_WARNINGS})
endforeach()

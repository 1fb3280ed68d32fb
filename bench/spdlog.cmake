# The spdlog comparison, built only when spdlog is installed
# (bench/install-comparisons.sh installs it). Named bench_* so that
# `./build.sh bench` runs it with the others.
find_package(spdlog QUIET)
if(NOT spdlog_FOUND)
  message(STATUS "spdlog not found: the spdlog comparison is not built")
  return()
endif()
add_executable(bench_compare_spdlog ${CMAKE_CURRENT_LIST_DIR}/compare_spdlog.cpp)
target_link_libraries(bench_compare_spdlog PRIVATE krerrlog_testable benchmark::benchmark spdlog::spdlog
  krerrlog_allocation_counter)
target_compile_options(bench_compare_spdlog PRIVATE ${KRERRLOG_WARNINGS})

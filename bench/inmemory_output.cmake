# The in-memory output benchmark counts allocations with the shared counter.
if(TARGET bench_inmemory_output)
  target_link_libraries(bench_inmemory_output PRIVATE krerrlog_allocation_counter)
endif()

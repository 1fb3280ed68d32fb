# The trace record benchmark counts allocations with the shared counter.
if(TARGET bench_trace_record)
  target_link_libraries(bench_trace_record PRIVATE krerrlog_allocation_counter)
endif()

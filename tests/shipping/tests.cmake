# Log shipping: a real rsyslogd follows the rolling error and audit logs with
# the imfile settings of examples/rsyslog/ and must deliver every line exactly
# once, in order per thread, across the roll-overs. Skipped (77) where rsyslogd
# is not installed (./build.sh test installs it).
add_executable(krerrlog_shipping_writer ${CMAKE_CURRENT_LIST_DIR}/ShippingWriter.cpp)
target_link_libraries(krerrlog_shipping_writer PRIVATE krerrlog Threads::Threads)
target_compile_options(krerrlog_shipping_writer PRIVATE ${KRERRLOG_WARNINGS})
add_test(NAME rsyslog_follows_rolling_logs
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/rsyslog_shipping_test.sh
          $<TARGET_FILE:krerrlog_shipping_writer> ${PROJECT_BINARY_DIR}/shipping-test
          ${PROJECT_SOURCE_DIR}/examples/rsyslog/krerrlog-imfile.conf)
set_tests_properties(rsyslog_follows_rolling_logs PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)

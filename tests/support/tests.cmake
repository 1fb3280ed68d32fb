# A small shared library that the loader tests find beside the test program:
# lib<base>.so in the test programs' folder.
add_library(krerrlog_support_test_plugin SHARED ${CMAKE_CURRENT_LIST_DIR}/plugin/SupportTestPlugin.cpp)
set_target_properties(krerrlog_support_test_plugin PROPERTIES
  OUTPUT_NAME krsupporttestplugin
  LIBRARY_OUTPUT_DIRECTORY ${KRERRLOG_TEST_BIN_DIR})
target_compile_options(krerrlog_support_test_plugin PRIVATE ${KRERRLOG_WARNINGS})
if(TARGET krerrlog_support_tests)
  add_dependencies(krerrlog_support_tests krerrlog_support_test_plugin)
endif()

# Component libraries the logger tests load. KrLoadLibrary looks beside the
# code that calls it: for the tests, which link the static archive, that is the
# folder of the test programs, where the test component libraries land.
#   krtestcomponent        row 1: a working component with a bundle
#   kragentfunccomponent   row 2: loads, but has no GetComponentPtr
#   kragentconmgrcomponent row 3: GetComponentPtr returns null
set(krerrlog_test_components
  krtestcomponent:KrTestComponent.cpp
  kragentfunccomponent:KrNoEntryPointComponent.cpp
  kragentconmgrcomponent:KrNullEntryPointComponent.cpp)
foreach(entry ${krerrlog_test_components})
  string(REPLACE ":" ";" parts ${entry})
  list(GET parts 0 component_name)
  list(GET parts 1 component_source)
  set(component_target krerrlog_test_${component_name})
  add_library(${component_target} SHARED ${CMAKE_CURRENT_LIST_DIR}/components/${component_source})
  set_target_properties(${component_target} PROPERTIES OUTPUT_NAME ${component_name})
  # Only the headers, as a component built outside the tree would use them.
  target_include_directories(${component_target} PRIVATE ${PROJECT_SOURCE_DIR}/common)
  target_compile_options(${component_target} PRIVATE ${KRERRLOG_WARNINGS})
  if(NOT KRERRLOG_SANITIZE AND NOT KRERRLOG_BUILD_FUZZ)
    # Proves that a component needs nothing of the logging library at link time.
    target_link_options(${component_target} PRIVATE -Wl,--no-undefined)
  endif()
  # The catalogue tests of the logger and of the message texts load them.
  foreach(consumer krerrlog_logger_tests krerrlog_message_tests)
    if(TARGET ${consumer})
      add_dependencies(${consumer} ${component_target})
    endif()
  endforeach()
endforeach()

# The test component's bundle in two locales, beside the test programs, where
# bundles are looked up until a host names another resource folder.
foreach(bundle KrTestComponent_en KrTestComponent_de)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/bundles/${bundle}.properties
    ${KRERRLOG_TEST_BIN_DIR}/${bundle}.properties COPYONLY)
endforeach()

# The bridge driven from a real JVM: Java programs call every native method of
# KrLogger (and the java.util.logging handler) and check the files they make.
if(NOT KRERRLOG_JAVA_JAR)
  return()
endif()

include(UseJava)
set(krerrlog_java_test_dir ${CMAKE_CURRENT_LIST_DIR})
file(GLOB krerrlog_java_test_sources CONFIGURE_DEPENDS ${krerrlog_java_test_dir}/krerrlog/javatests/*.java)
set(CMAKE_JAVA_COMPILE_FLAGS --release 11 -Xlint:all -Werror)
add_jar(krerrlog_java_tests
  SOURCES ${krerrlog_java_test_sources}
  INCLUDE_JARS krerrlog_jar
  OUTPUT_DIR ${PROJECT_BINARY_DIR}/tests/java)

# The empty native method of the benchmark's baseline.
add_library(krjnibaseline SHARED ${krerrlog_java_test_dir}/native/KrJniBaseline.cpp)
target_include_directories(krjnibaseline PRIVATE ${JNI_INCLUDE_DIRS})
target_compile_options(krjnibaseline PRIVATE ${KRERRLOG_WARNINGS})

# The test component library (and its bundle, which the programs point at with
# SetResourcesDirectory) must be built before the programs run.
add_dependencies(krerrlog_java_tests krerrlog krerrlog_test_krtestcomponent krjnibaseline)

get_target_property(krerrlog_jar_file krerrlog_jar JAR_FILE)
get_target_property(krerrlog_java_tests_jar krerrlog_java_tests JAR_FILE)
set(krerrlog_java_classpath "${krerrlog_jar_file}:${krerrlog_java_tests_jar}")
set(krerrlog_java_work ${PROJECT_BINARY_DIR}/tests/java/work)

# Under AddressSanitizer the JVM gets the runtime preloaded (it must come
# first) and keeps its own SIGSEGV handling; the JVM's own allocations are not
# leak-checked. A JVM does not run under ThreadSanitizer: no Java tests there.
set(krerrlog_java_sanitizer_env "")
if(KRERRLOG_SANITIZE MATCHES "thread" OR KRERRLOG_BUILD_FUZZ)
  return()
elseif(KRERRLOG_SANITIZE MATCHES "address")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
    OUTPUT_VARIABLE krerrlog_asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${krerrlog_asan_runtime}" OR NOT EXISTS "${krerrlog_asan_runtime}")
    message(STATUS "no shared AddressSanitizer runtime: Java bridge tests left out")
    return()
  endif()
  set(krerrlog_java_sanitizer_env
    "LD_PRELOAD=${krerrlog_asan_runtime}"
    "ASAN_OPTIONS=detect_leaks=0:handle_segv=0:allow_user_segv_handler=1:abort_on_error=1")
endif()

function(krerrlog_java_test name main)
  cmake_parse_arguments(arg "" "" "JVM_OPTIONS" ${ARGN})
  add_test(NAME ${name}
    COMMAND ${Java_JAVA_EXECUTABLE} ${arg_JVM_OPTIONS}
            -Dkrerrlog.library=$<TARGET_FILE:krerrlog>
            -Dkrerrlog.bundles=${krerrlog_java_test_dir}/bundles
            -Dkrerrlog.baseline=$<TARGET_FILE:krjnibaseline>
            -cp ${krerrlog_java_classpath} krerrlog.javatests.${main} ${krerrlog_java_work}/${name})
  # EnableTag=true makes named loggers tag their lines; Kolkata time is 5:30
  # away from UTC, so local-time lines are told from UTC ones.
  set_tests_properties(${name} PROPERTIES
    TIMEOUT 300
    LABELS java
    ENVIRONMENT "EnableTag=true;TZ=Asia/Kolkata;LC_ALL=en_US.UTF-8;HALV_PS_OPACK=;LD_LIBRARY_PATH=${KRERRLOG_TEST_BIN_DIR};${krerrlog_java_sanitizer_env}")
endfunction()

krerrlog_java_test(java_bridge_errors ErrorLogTests)
krerrlog_java_test(java_bridge_trace TraceTests)
krerrlog_java_test(java_bridge_concurrent ConcurrentTests)
krerrlog_java_test(java_bridge_logging_handler LogHandlerTests)
# Every native method again under the JVM's JNI checks: any warning fails
# (local references left over or beyond capacity, calls with an exception pending).
krerrlog_java_test(java_bridge_checkjni AllBridgeTests JVM_OPTIONS -Xcheck:jni)
set_tests_properties(java_bridge_checkjni PROPERTIES FAIL_REGULAR_EXPRESSION "WARNING|FATAL ERROR|Warning")

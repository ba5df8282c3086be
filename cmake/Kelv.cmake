# Helpers shared by every folder.
#
#   kelv_library(name [QT] SOURCES ... DEPS ...)   static library; QT: built only when Qt is (not in fuzz builds)
#   kelv_test(name [SERIAL] SOURCES ... DEPS ...)  GoogleTest executable, cases discovered by ctest
#                                                   (SERIAL: each case runs alone)
#   kelv_qtest(name SOURCES ... DEPS ...)          Qt Test executable, one ctest entry
#   kelv_fuzz(name SOURCES ... DEPS ... CORPUS d)  libFuzzer target (fuzz builds only) with its seed corpus
#   kelv_bench(name SOURCES ... DEPS ...)          Google Benchmark executable

set(KELV_TEST_ENV
  "QT_QPA_PLATFORM=offscreen"
  "KELV_TESTDATA=${KELV_TESTDATA_DIR}"
  "KELV_SOURCE=${CMAKE_SOURCE_DIR}"
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
  "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
# A test's time limit is a hang guard only, far beyond what any test takes on a loaded machine:
# slowness must never fail a test.
set(KELV_TEST_TIMEOUT 1500)

function(kelv_library name)
  cmake_parse_arguments(A "QT" "" "SOURCES;DEPS" ${ARGN})
  if(A_QT AND KELV_FUZZ)
    return()
  endif()
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_DEPS})
endfunction()

function(kelv_test name)
  if(KELV_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "SERIAL" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT ${KELV_TEST_TIMEOUT})
  endif()
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_DEPS} kelv_testsupport GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 600
    TEST_LIST ${name}_TESTS)
  # The properties of the discovered cases, set once ctest has them: a list (the environment)
  # passed through gtest_discover_tests's PROPERTIES falls apart into words, and the words after
  # it (the time limit) with it.
  if(A_SERIAL)
    set(serial TRUE)
  else()
    set(serial FALSE)
  endif()
  set(properties "${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake")
  file(GENERATE OUTPUT ${properties} CONTENT
    "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT \"${KELV_TEST_ENV}\" TIMEOUT ${A_TIMEOUT} RUN_SERIAL ${serial})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${properties})
endfunction()

function(kelv_qtest name)
  if(KELV_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT ${KELV_TEST_TIMEOUT})
  endif()
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_DEPS} Qt6::Test)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${KELV_TEST_ENV}" TIMEOUT ${A_TIMEOUT})
endfunction()

function(kelv_fuzz name)
  if(NOT KELV_FUZZ)
    return()
  endif()
  cmake_parse_arguments(A "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY KELV_FUZZ_TARGETS "${name}=${A_CORPUS}")
endfunction()

function(kelv_bench name)
  if(KELV_FUZZ OR NOT KELV_BENCH)
    return()
  endif()
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/bench)
  target_link_libraries(${name} PRIVATE ${A_DEPS} benchmark::benchmark)
endfunction()

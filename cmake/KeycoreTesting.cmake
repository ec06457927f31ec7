# Every test is registered through these helpers. The system names its System V objects and its
# FIFOs under /tmp by fixed names, so each test runs in its own IPC namespace with a private /tmp
# (scripts/isolated). Where no namespace can be had, the tests run one at a time instead.
include(GoogleTest)
find_package(GTest REQUIRED)

set(KEYCORE_ISOLATED ${CMAKE_SOURCE_DIR}/scripts/isolated)
set(KEYCORE_TEST_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)

execute_process(COMMAND ${KEYCORE_ISOLATED} --check
    OUTPUT_VARIABLE _isolation OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _isolation_rc)
if(_isolation_rc EQUAL 0 AND _isolation STREQUAL "isolated")
    set(KEYCORE_TESTS_SERIAL FALSE)
else()
    message(STATUS "No private IPC namespace available: tests run serially")
    set(KEYCORE_TESTS_SERIAL TRUE)
endif()

# Every test runs through a small launcher generated into the build directory: it sets the
# environment tests rely on (sanitizers stop at the first report; the libusb replacement may be
# preloaded in front of the ASan runtime; where the build and the sources are) and then isolates.
set(KEYCORE_TEST_LAUNCHER ${CMAKE_BINARY_DIR}/keycore-test-launcher)
file(WRITE ${KEYCORE_TEST_LAUNCHER} "#!/bin/sh
export ASAN_OPTIONS=\"halt_on_error=1:abort_on_error=0:detect_leaks=1:verify_asan_link_order=0\${ASAN_OPTIONS:+:\$ASAN_OPTIONS}\"
export UBSAN_OPTIONS=\"halt_on_error=1:print_stacktrace=1\"
export KEYCORE_BUILD_DIR='${CMAKE_BINARY_DIR}'
export KEYCORE_SOURCE_DIR='${CMAKE_SOURCE_DIR}'
exec '${KEYCORE_ISOLATED}' \"\$@\"
")
file(CHMOD ${KEYCORE_TEST_LAUNCHER} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)

function(_keycore_test_properties)
    set(props "")
    if(KEYCORE_TESTS_SERIAL)
        list(APPEND props RUN_SERIAL TRUE)
    endif()
    set(_keycore_props "${props}" PARENT_SCOPE)
endfunction()

# keycore_add_gtest(NAME target SOURCES ... [LIBS ...] [TIMEOUT s])
# Builds a GoogleTest program; each of its tests becomes one ctest test in its own namespace.
function(keycore_add_gtest)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    keycore_project_target(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    set_target_properties(${T_NAME} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${KEYCORE_TEST_OUTPUT_DIRECTORY}
        CROSSCOMPILING_EMULATOR ${KEYCORE_TEST_LAUNCHER})
    _keycore_test_properties()
    gtest_discover_tests(${T_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${T_TIMEOUT} ${_keycore_props})
endfunction()

# keycore_add_test_command(NAME name COMMAND cmd args... [TIMEOUT s])
# Registers a plain command (a script or a tool) as one isolated test.
function(keycore_add_test_command)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_test(NAME ${T_NAME} COMMAND ${KEYCORE_TEST_LAUNCHER} ${T_COMMAND})
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
    if(KEYCORE_TESTS_SERIAL)
        set_tests_properties(${T_NAME} PROPERTIES RUN_SERIAL TRUE)
    endif()
endfunction()

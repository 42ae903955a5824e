# Test helpers: GoogleTest from Debian's source package, built with our toolchain, and
# one CTest entry per test case, each run under Wine with the shared wine server running.
include(GoogleTest)

set(ORVIN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")

function(orvin_use_gtest)
    if(TARGET gtest)
        return()
    endif()
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(${ORVIN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()

# orvin_add_gtest(TARGET LABEL label SOURCES ... LIBS ... [RESOURCE_LOCK name] [TIMEOUT s] [RUN_SERIAL])
# RUN_SERIAL: for tests that change machine-wide state every test process reads, such as
# the trace settings in the registry (any agent code that traces would write to their sink).
function(orvin_add_gtest target)
    cmake_parse_arguments(T "RUN_SERIAL" "LABEL;TIMEOUT" "SOURCES;LIBS;RESOURCE_LOCK" ${ARGN})
    orvin_use_gtest()
    add_executable(${target} ${T_SOURCES})
    target_link_libraries(${target} PRIVATE ${T_LIBS} gmock gtest_main)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    gtest_add_tests(TARGET ${target} SOURCES ${T_SOURCES} TEST_LIST added)
    set_tests_properties(${added} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
                         FIXTURES_REQUIRED wine)
    if(T_RESOURCE_LOCK)
        set_tests_properties(${added} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
    endif()
    if(T_RUN_SERIAL)
        set_tests_properties(${added} PROPERTIES RUN_SERIAL TRUE)
    endif()
endfunction()

# orvin_add_system_test(NAME LABEL label COMMAND ... [RESOURCE_LOCK name] [TIMEOUT s] [RUN_SERIAL])
# A test driven by a host script (bash) that starts Windows programs through wine-run.
function(orvin_add_system_test name)
    cmake_parse_arguments(T "RUN_SERIAL" "LABEL;TIMEOUT" "COMMAND;RESOURCE_LOCK;DEPENDS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_test(NAME ${name} COMMAND ${T_COMMAND})
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT} FIXTURES_REQUIRED wine
                         ENVIRONMENT "WINE_RUN=${ORVIN_WINE_RUN};BUILD_DIR=${CMAKE_BINARY_DIR}")
    if(T_RESOURCE_LOCK)
        set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
    endif()
    if(T_RUN_SERIAL)
        set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
endfunction()

# Fuzz programs: GoogleTest cases run by the shared fuzz main of tests/lib/fuzz (the seed,
# --seed=N, --cases=N, --seconds=S, the crash report), one CTest entry per case.
function(orvin_use_fuzz)
    orvin_use_gtest()
    if(TARGET orvin_fuzz)
        return()
    endif()
    add_library(orvin_fuzz STATIC ${PROJECT_SOURCE_DIR}/tests/lib/fuzz/Fuzz.cpp)
    target_include_directories(orvin_fuzz PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(orvin_fuzz PUBLIC gtest)
endfunction()

# orvin_add_fuzz(TARGET LABEL label SOURCES ... LIBS ... [RESOURCE_LOCK name] [TIMEOUT s] [RUN_SERIAL])
# The CTest names of its cases are left in ${TARGET}_TESTS for properties of single cases.
function(orvin_add_fuzz target)
    cmake_parse_arguments(T "RUN_SERIAL" "LABEL;TIMEOUT" "SOURCES;LIBS;RESOURCE_LOCK" ${ARGN})
    orvin_use_fuzz()
    add_executable(${target} ${T_SOURCES})
    target_link_libraries(${target} PRIVATE ${T_LIBS} orvin_fuzz gmock)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    gtest_add_tests(TARGET ${target} SOURCES ${T_SOURCES} TEST_LIST added)
    set_tests_properties(${added} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
                         FIXTURES_REQUIRED wine)
    if(T_RESOURCE_LOCK)
        set_tests_properties(${added} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
    endif()
    if(T_RUN_SERIAL)
        set_tests_properties(${added} PROPERTIES RUN_SERIAL TRUE)
    endif()
    set(${target}_TESTS ${added} PARENT_SCOPE)
endfunction()

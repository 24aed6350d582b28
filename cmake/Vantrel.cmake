# Helpers shared by the module, test and benchmark folders.

# vantrel_module(NAME SOURCES... [DEPS targets...])
# A static library for one module; its folder's parent (src/) is on the include
# path, so code includes "VantrelCore/WindowInfo.h".
function(vantrel_module name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# vantrel_test(NAME SOURCES... [DEPS targets...] [LABELS labels...] [SERIAL] [PROPERTIES name value...])
# One GoogleTest executable; each test case becomes a ctest test, with these
# ctest properties added.
function(vantrel_test name)
    cmake_parse_arguments(ARG "SERIAL" "" "SOURCES;DEPS;LABELS;PROPERTIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} VantrelTestSupport GTest::gmock GTest::gtest_main)
    if(NOT ARG_LABELS)
        set(ARG_LABELS unit)
    endif()
    set(props LABELS "${ARG_LABELS}")
    if(ARG_SERIAL)
        list(APPEND props RUN_SERIAL TRUE)
    endif()
    # Tests on X servers of their own still fail on each other's timing when
    # two run at once (a tray docking, an activation, a key hold): one at a time.
    if("x11" IN_LIST ARG_LABELS)
        list(APPEND props RESOURCE_LOCK x11)
    endif()
    list(APPEND props ${ARG_PROPERTIES})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()

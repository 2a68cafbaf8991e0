# Language standard, warnings and strict Qt defines shared by every target.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

add_library(vt_common INTERFACE)
target_compile_options(vt_common INTERFACE -Wall -Wextra -Wno-unused-parameter)
target_compile_definitions(vt_common INTERFACE
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_FOREACH
    QT_USE_QSTRINGBUILDER
    QT_STRICT_ITERATORS
    VT_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    VT_TESTDATA_DIR="${CMAKE_SOURCE_DIR}/../shared/testdata")
target_include_directories(vt_common INTERFACE "${CMAKE_SOURCE_DIR}")

if(VT_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# vt_add_test(name SOURCES ... LIBS ... [GUI]): one GoogleTest program, each
# case its own CTest test. GUI tests run offscreen, carry the label "gui" and
# take their main() with its application object from tests/support.
function(vt_add_test name)
    cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE vt_common GTest::gtest GTest::gmock ${ARG_LIBS})
    if(ARG_GUI)
        target_link_libraries(${name} PRIVATE vt_gui_test_main)
    else()
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    set(env "VT_TESTDATA=${CMAKE_SOURCE_DIR}/../shared/testdata")
    set(labels ${name})
    if(ARG_GUI)
        list(APPEND env "QT_QPA_PLATFORM=offscreen")
        list(APPEND labels gui)
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "${env}" LABELS "${labels}" TIMEOUT 300)
endfunction()

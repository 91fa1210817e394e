# Helpers shared by every CMakeLists of the tree.

# Warnings for our own code; errors in CI (QX_WERROR).
function(qx_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
    # GCC's -Wshadow=local has no clang spelling; clang (the fuzz preset)
    # gets the closest it knows.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        target_compile_options(${target} PRIVATE -Wshadow=local)
    else()
        target_compile_options(${target} PRIVATE -Wshadow-uncaptured-local)
    endif()
    if(QX_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# Product code: no exceptions, sanitizers when asked.
function(qx_product target)
    qx_warnings(${target})
    target_compile_options(${target} PRIVATE -fno-exceptions)
endfunction()

if(QX_SANITIZE AND NOT WIN32)
    add_compile_options(-fsanitize=${QX_SANITIZE} -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${QX_SANITIZE})
    if(QX_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/Fuzz.cmake)

# Adds the platform half of an OS seam: NAME_win32.cpp in the Windows build,
# NAME_sim.cpp (the virtual notebook) in the host build.
function(qx_seam target)
    foreach(name IN LISTS ARGN)
        target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${name}_${QX_PLATFORM}.cpp)
    endforeach()
endfunction()

# Environment and fixture of a ctest test that runs under Wine.
set(QX_WINE_TEMPLATE "${PROJECT_BINARY_DIR}/wine-template")
function(qx_wine_properties test)
    set_tests_properties(${test} PROPERTIES
        FIXTURES_REQUIRED wine_prefix
        ENVIRONMENT "QX_WINE_TEMPLATE=${QX_WINE_TEMPLATE};QX_DIST=${QX_WINDOWS_DIST};QX_SRC=${PROJECT_SOURCE_DIR}")
endfunction()

# qx_add_unit_test(NAME n SOURCES ... [LIBS ...] [THREADED] [WINDOWS | WINDOWS_ONLY])
# Registers a GoogleTest executable with ctest. In the host tree it also
# registers the same executable of the host-asan tree and, for THREADED tests,
# of the host-tsan tree, so one ctest run covers the sanitizer builds too.
# WINDOWS also cross-builds the test and runs it under Wine (winunit.n);
# WINDOWS_ONLY builds it for Windows alone (tests of *_win32.cpp files).
function(qx_add_unit_test)
    cmake_parse_arguments(T "THREADED;WINDOWS;WINDOWS_ONLY" "NAME" "SOURCES;LIBS" ${ARGN})
    if(T_WINDOWS OR T_WINDOWS_ONLY)
        if(NOT WIN32)
            add_test(NAME winunit.${T_NAME}
                     COMMAND bash ${PROJECT_SOURCE_DIR}/tests/wine/run-gtest.sh
                             ${QX_WINDOWS_DIST}/tests/${T_NAME}.exe)
            qx_wine_properties(winunit.${T_NAME})
        endif()
    elseif(WIN32)
        return()
    endif()
    if(T_WINDOWS_ONLY AND NOT WIN32)
        return()
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    qx_warnings(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
    if(WIN32)
        install(TARGETS ${T_NAME} RUNTIME DESTINATION tests)
        return()
    endif()
    add_test(NAME unit.${T_NAME} COMMAND ${T_NAME})
    if(QX_SANITIZER_SIBLINGS)
        file(RELATIVE_PATH rel ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR})
        add_test(NAME asan.${T_NAME}
                 COMMAND ${PROJECT_SOURCE_DIR}/build/host-asan/${rel}/${T_NAME})
        if(T_THREADED)
            add_test(NAME tsan.${T_NAME}
                     COMMAND ${PROJECT_SOURCE_DIR}/build/host-tsan/${rel}/${T_NAME})
            set_tests_properties(tsan.${T_NAME} PROPERTIES
                ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1")
        endif()
        set_tests_properties(asan.${T_NAME} PROPERTIES
            ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
    endif()
endfunction()

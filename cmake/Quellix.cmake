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

# qx_os_halves(<target> [PROGRAM daemon|service|uninstall] [DEVICE sim|kmdf]
#              [PROVIDER <library>])
# The one place that chooses the OS halves of a program's seams for an
# executable or test, and links them with the program's portable logic
# (qx_<program>, default the daemon):
#   Windows build   qx_<program>_win32
#   host build      qx_<program>_sim; for the daemon, plus the device channel
#                   and node reset on the controller model (DEVICE sim, the
#                   default) or through QXVeltrane on the KMDF simulation
#                   (DEVICE kmdf)
# PROVIDER names the library that defines the daemon's exported qx_wifi_*
# functions: its own (qx_wifi_provider, the default) or a test's double.
# Exactly one of each is linked, so no definition depends on link order. The
# portable logic and its halves call each other, so they go in as one group
# that the linker rescans.
function(qx_os_halves target)
    cmake_parse_arguments(H "" "PROGRAM;DEVICE;PROVIDER" "" ${ARGN})
    if(H_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "qx_os_halves(${target}): unknown arguments ${H_UNPARSED_ARGUMENTS}")
    endif()
    if(NOT H_PROGRAM)
        set(H_PROGRAM daemon)
    endif()
    if(WIN32)
        set(platform win32)
    else()
        set(platform sim)
    endif()
    if(H_PROGRAM MATCHES "^(service|uninstall)$")
        if(H_DEVICE OR H_PROVIDER)
            message(FATAL_ERROR "qx_os_halves(${target}): DEVICE and PROVIDER are halves of the daemon")
        endif()
        target_link_libraries(${target} PRIVATE "$<LINK_GROUP:RESCAN,qx_${H_PROGRAM},qx_${H_PROGRAM}_${platform}>")
        return()
    elseif(NOT H_PROGRAM STREQUAL "daemon")
        message(FATAL_ERROR "qx_os_halves(${target}): PROGRAM is daemon, service or uninstall, not ${H_PROGRAM}")
    endif()
    if(NOT H_DEVICE)
        set(H_DEVICE sim)
    endif()
    if(NOT H_PROVIDER)
        set(H_PROVIDER qx_wifi_provider)
    endif()
    if(NOT H_DEVICE MATCHES "^(sim|kmdf)$")
        message(FATAL_ERROR "qx_os_halves(${target}): DEVICE is sim or kmdf, not ${H_DEVICE}")
    endif()
    if(WIN32)
        if(NOT H_DEVICE STREQUAL "sim")
            message(FATAL_ERROR "qx_os_halves(${target}): the Windows build talks to the real device")
        endif()
        set(halves qx_daemon_win32)
    else()
        set(halves qx_daemon_sim qx_daemon_device_${H_DEVICE})
    endif()
    list(JOIN halves "," halves)
    target_link_libraries(${target} PRIVATE "$<LINK_GROUP:RESCAN,qx_daemon,${H_PROVIDER},${halves}>")
endfunction()

# The halves of every program whose portable logic a test's LIBS name.
function(qx_os_halves_for_libs target libs device provider)
    foreach(program IN ITEMS service uninstall)
        if(qx_${program} IN_LIST libs)
            qx_os_halves(${target} PROGRAM ${program})
        endif()
    endforeach()
    if(qx_daemon IN_LIST libs)
        qx_os_halves(${target} DEVICE "${device}" PROVIDER "${provider}")
    elseif(device OR provider)
        message(FATAL_ERROR "${target}: DEVICE and PROVIDER choose halves of qx_daemon, which it does not link")
    endif()
endfunction()

# Every ctest entry carries one label that says which build tree its
# binaries come from, so that a test preset can leave out the trees a
# machine has not built (CMakePresets.json):
#   unit, system   this tree's own programs (system: whole programs, scenarios),
#                  with threaded besides for a THREADED test (the tsan tree runs those)
#   format         the tree's sources
#   bench          this tree's benchmarks, held to their goals under callgrind
#   sanitizer      a binary of the host-asan or host-tsan tree (also asan or tsan)
#   fuzz           a binary of the fuzz tree
#   windows        dist/windows alone; wine: dist/windows under Wine
# tests/CMakeLists.txt refuses an entry without one.

# Environment, fixture and label of a ctest test that runs under Wine.
set(QX_WINE_TEMPLATE "${PROJECT_BINARY_DIR}/wine-template")
function(qx_wine_properties test)
    set_tests_properties(${test} PROPERTIES
        LABELS wine
        FIXTURES_REQUIRED wine_prefix
        ENVIRONMENT "QX_WINE_TEMPLATE=${QX_WINE_TEMPLATE};QX_DIST=${QX_WINDOWS_DIST};QX_SRC=${PROJECT_SOURCE_DIR}")
endfunction()

# qx_add_seam_contract(NAME n CONTRACT <test.cpp> PREFIX <rig file prefix> [WINE_DOUBLE <double>]
#                      [THREADED] [NO_KMDF])
# One seam's contract against each of its halves: n_sim_test with <prefix>_sim.cpp on the
# notebook, n_kmdf_test with <prefix>_kmdf.cpp through QXVeltrane on the KMDF simulation (not
# for a seam with no KMDF half: NO_KMDF), and n_win32_test with <prefix>_win32.cpp, run under
# Wine with QX_GTEST_DOUBLE=<double> when the half talks to one of our stand-ins.
function(qx_add_seam_contract)
    cmake_parse_arguments(C "THREADED;NO_KMDF" "NAME;CONTRACT;PREFIX;WINE_DOUBLE" "" ${ARGN})
    set(threaded)
    if(C_THREADED)
        set(threaded THREADED)
    endif()
    qx_add_unit_test(NAME ${C_NAME}_sim_test ${threaded}
        SOURCES ${C_CONTRACT} ${C_PREFIX}_sim.cpp
        LIBS qx_daemon qx_test_support)
    if(NOT C_NO_KMDF)
        qx_add_unit_test(NAME ${C_NAME}_kmdf_test ${threaded}
            SOURCES ${C_CONTRACT} ${C_PREFIX}_kmdf.cpp
            LIBS qx_daemon qx_kmdf_usermode DEVICE kmdf)
    endif()
    qx_add_unit_test(NAME ${C_NAME}_win32_test WINDOWS_ONLY
        SOURCES ${C_CONTRACT} ${C_PREFIX}_win32.cpp
        LIBS qx_daemon)
    if(C_WINE_DOUBLE AND NOT WIN32)
        set_property(TEST winunit.${C_NAME}_win32_test APPEND PROPERTY
            ENVIRONMENT QX_GTEST_DOUBLE=${C_WINE_DOUBLE})
    endif()
endfunction()

# qx_add_unit_test(NAME n SOURCES ... [LIBS ...] [THREADED] [WINDOWS | WINDOWS_ONLY]
#                  [DEVICE sim|kmdf] [PROVIDER <library>] [LABEL unit|system])
# Registers a GoogleTest executable with ctest (label unit unless LABEL says). A test whose LIBS name
# qx_daemon, qx_service or qx_uninstall gets that program's OS halves through
# qx_os_halves (DEVICE and PROVIDER are passed on). In the host tree it also
# registers the same executable of the host-asan tree and, for THREADED tests,
# of the host-tsan tree, so one ctest run covers the sanitizer builds too.
# WINDOWS also cross-builds the test and runs it under Wine (winunit.n);
# WINDOWS_ONLY builds it for Windows alone (tests of *_win32.cpp files).
function(qx_add_unit_test)
    cmake_parse_arguments(T "THREADED;WINDOWS;WINDOWS_ONLY" "NAME;DEVICE;PROVIDER;LABEL" "SOURCES;LIBS" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL unit)
    elseif(NOT T_LABEL MATCHES "^(unit|system)$")
        message(FATAL_ERROR "qx_add_unit_test(${T_NAME}): LABEL is unit or system, not ${T_LABEL}")
    endif()
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
    qx_os_halves_for_libs(${T_NAME} "${T_LIBS}" "${T_DEVICE}" "${T_PROVIDER}")
    if(WIN32)
        install(TARGETS ${T_NAME} RUNTIME DESTINATION tests)
        return()
    endif()
    add_test(NAME unit.${T_NAME} COMMAND ${T_NAME})
    if(T_THREADED)
        list(APPEND T_LABEL threaded)
    endif()
    set_tests_properties(unit.${T_NAME} PROPERTIES LABELS "${T_LABEL}")
    if(QX_SANITIZER_SIBLINGS)
        file(RELATIVE_PATH rel ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR})
        add_test(NAME asan.${T_NAME}
                 COMMAND ${PROJECT_SOURCE_DIR}/build/host-asan/${rel}/${T_NAME})
        if(T_THREADED)
            add_test(NAME tsan.${T_NAME}
                     COMMAND ${PROJECT_SOURCE_DIR}/build/host-tsan/${rel}/${T_NAME})
            set_tests_properties(tsan.${T_NAME} PROPERTIES
                LABELS "sanitizer;tsan"
                ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1")
        endif()
        set_tests_properties(asan.${T_NAME} PROPERTIES
            LABELS "sanitizer;asan"
            ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
    endif()
endfunction()

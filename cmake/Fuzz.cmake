# libFuzzer targets (tests/fuzz/).
#
# The fuzz preset (clang, QX_FUZZ) builds every harness with ASan, UBSan and
# the fuzzer's coverage instrumentation; the host tree registers a short run of
# each (fuzz.<name>) so that make test catches a regression, the way it runs
# the sanitizer trees' tests.

option(QX_FUZZ "Build the libFuzzer harnesses of tests/fuzz (clang only)" OFF)
set(QX_FUZZ_SECONDS 15 CACHE STRING "How long make test runs each fuzz target")

if(QX_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "QX_FUZZ needs clang (cmake --preset fuzz)")
    endif()
    # Coverage feedback for all our code, the fuzzer's main only in the harnesses.
    add_compile_options(-fsanitize=fuzzer-no-link)
    add_custom_target(qx_fuzzers)
endif()

# qx_add_fuzzer(NAME n SOURCES ... [LIBS ...])
# A harness whose LIBS name a program's portable logic gets its OS halves
# (qx_os_halves).
# In the fuzz tree: builds the harness fuzz_<n>, seeded by tests/fuzz/corpus/<n>.
# In the host tree: registers fuzz.<n>, a bounded run of the fuzz tree's binary.
function(qx_add_fuzzer)
    cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
    set(target fuzz_${F_NAME})
    if(QX_FUZZ)
        add_executable(${target} ${F_SOURCES})
        qx_warnings(${target})
        target_link_libraries(${target} PRIVATE ${F_LIBS})
        qx_os_halves_for_libs(${target} "${F_LIBS}" "" "")
        target_link_options(${target} PRIVATE -fsanitize=fuzzer)
        add_dependencies(qx_fuzzers ${target})
    elseif(QX_SANITIZER_SIBLINGS)
        file(RELATIVE_PATH rel ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR})
        add_test(NAME fuzz.${F_NAME}
                 COMMAND bash ${PROJECT_SOURCE_DIR}/tests/fuzz/run-fuzzer.sh
                         ${PROJECT_SOURCE_DIR}/build/fuzz/${rel}/${target}
                         ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${F_NAME}
                         ${CMAKE_CURRENT_BINARY_DIR}/work/${F_NAME}
                         ${QX_FUZZ_SECONDS})
        set_tests_properties(fuzz.${F_NAME} PROPERTIES LABELS fuzz TIMEOUT 300)
    endif()
endfunction()

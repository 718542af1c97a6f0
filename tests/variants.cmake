# The same sources built again in other modes under this build folder, so that
# one `ctest` runs the whole suite: unit and process tests under ASan and
# UBSan, the process tests under valgrind, and the fuzz targets.
include(ExternalProject)

set(variant_root ${CMAKE_BINARY_DIR}/variants)

function(add_variant name)
    ExternalProject_Add(variant_${name}
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${variant_root}/${name}
        CMAKE_ARGS -DCGI_TEST_VARIANTS=OFF ${ARGN}
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
        USES_TERMINAL_BUILD ON)
endfunction()

add_variant(sanitize -DCGI_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo)
# valgrind replaces malloc only in a dynamically linked program, and makes
# system calls that the confined program may not.
add_variant(valgrind -DCGI_STATIC=OFF -DCGI_CONFINE=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)
add_variant(fuzz -DCGI_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)

set(sanitize_dir ${variant_root}/sanitize/tests)
add_test(NAME sanitize.unit COMMAND ${sanitize_dir}/cgi_unit_tests)
add_test(NAME sanitize.process COMMAND ${sanitize_dir}/handler_process_tests)
set_tests_properties(sanitize.unit sanitize.process PROPERTIES LABELS sanitize TIMEOUT 300)

# valgrind cannot run under an address-space limit, so the two tests that set
# one stay with the other passes.
find_program(VALGRIND valgrind REQUIRED)
add_test(NAME valgrind.process
    COMMAND ${variant_root}/valgrind/tests/handler_process_tests
        --gtest_filter=-*MemoryLimit*:*MemoryRunsOut*)
set_tests_properties(valgrind.process PROPERTIES
    LABELS valgrind TIMEOUT 600
    ENVIRONMENT "CGI_TEST_WRAPPER=${VALGRIND} -q --error-exitcode=99 --leak-check=no")

set(fuzz_dir ${variant_root}/fuzz/fuzz)
set(run_fuzzer ${PROJECT_SOURCE_DIR}/fuzz/run_fuzzer.sh)
foreach(target IN ITEMS read_request lookup url_encode)
    add_test(NAME fuzz.${target}.replay
        COMMAND bash ${run_fuzzer} replay ${fuzz_dir}/${target}_fuzzer ${target})
    add_test(NAME fuzz.${target}.smoke
        COMMAND bash ${run_fuzzer} run ${fuzz_dir}/${target}_fuzzer ${target} 10)
    # The replays take a fraction of a second: they run with the fast tests.
    set_tests_properties(fuzz.${target}.replay PROPERTIES LABELS "fuzz;fast" TIMEOUT 180)
    set_tests_properties(fuzz.${target}.smoke PROPERTIES LABELS fuzz TIMEOUT 180)
endforeach()

# The suite run on the cross builds (tests/cross.cmake) under qemu-user. For
# each architecture:
#   ARCH.unit          the unit tests
#   ARCH.process       the process tests on the release handler, but those
#                      qemu-user cannot hold (below)
#   ARCH.differential  every request the unit and process tests make, the
#                      fuzz seeds and generated requests, answered by the
#                      cross-built release handler byte for byte as by this
#                      machine's
# The test programs are built against the target's glibc and GoogleTest
# (libgtest-dev:ARCH); without it, or without qemu-user, these skip with the
# reason.

# The requests this machine's unit and process tests make, recorded once for
# every architecture's differential run.
set(recorded_requests ${cross_root}/recorded-requests)
add_test(NAME differential.record
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/differential/record.sh ${recorded_requests}
        $<TARGET_FILE:cgi_unit_tests> $<TARGET_FILE:handler_process_tests>)
set_tests_properties(differential.record PROPERTIES
    LABELS cross FIXTURES_SETUP recorded_requests TIMEOUT 300)

add_executable(differential_tests differential/differential_test.cpp process/run_process.cpp)
target_include_directories(differential_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(differential_tests PRIVATE GTest::gtest_main)
target_compile_definitions(differential_tests PRIVATE
    HANDLER_PATH="$<TARGET_FILE:handler>" FUZZ_CORPUS_DIR="${PROJECT_SOURCE_DIR}/fuzz/corpus")
add_dependencies(differential_tests handler)

# qemu-user refuses seccomp (EINVAL for strict mode and for a filter, without
# asking the kernel) and ignores setrlimit(RLIMIT_AS): the memory-limit tests
# (those valgrind.process leaves out too) and the one-write check (strace
# would trace the emulator) cannot hold there, and the confinement tests are
# not built. Those are for the architecture's own kernel.
set(qemu_user_excluded "MemoryLimit|MemoryRunsOut|one_write")

# Why ARCH's test programs cannot be built or run here, or nothing.
function(qemu_user_missing variable arch)
    execute_process(COMMAND dpkg-architecture -a ${arch} -qDEB_HOST_GNU_CPU
        OUTPUT_VARIABLE cpu OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND dpkg-architecture -a ${arch} -qDEB_HOST_MULTIARCH
        OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    find_program(qemu_user_${arch} qemu-${cpu}-static)
    set(missing "")
    if(NOT qemu_user_${arch})
        set(missing "qemu-${cpu}-static is not installed (Debian package qemu-user-static)")
    elseif(NOT EXISTS /usr/lib/${multiarch}/libgtest.a)
        set(missing "GoogleTest for ${arch} is not installed (Debian package libgtest-dev:${arch})")
    endif()
    set(${variable} "${missing}" PARENT_SCOPE)
endfunction()

# The three tests of ARCH, whose build folder is DIR, or their skips when
# MISSING says why they cannot run.
function(add_qemu_user_tests arch dir missing)
    set(names ${arch}.unit ${arch}.process ${arch}.differential)
    if(missing)
        foreach(name IN LISTS names)
            add_test(NAME ${name} COMMAND sh -c "echo 'SKIPPED: ${missing}'; exit 77")
        endforeach()
        set_tests_properties(${names} PROPERTIES LABELS cross SKIP_RETURN_CODE 77)
        return()
    endif()
    set(emulator ${qemu_user_${arch}})
    set(inner_ctest ${CMAKE_CTEST_COMMAND} --test-dir ${dir} --output-on-failure --no-tests=error)
    add_test(NAME ${arch}.unit COMMAND ${inner_ctest} -L unit)
    # The process tests, themselves emulated, start the handler through the
    # emulator too, so that no binfmt_misc registration is needed.
    add_test(NAME ${arch}.process COMMAND ${inner_ctest} -L process -E "${qemu_user_excluded}")
    set_tests_properties(${arch}.process PROPERTIES ENVIRONMENT "CGI_TEST_WRAPPER=${emulator}")
    add_test(NAME ${arch}.differential COMMAND differential_tests)
    set_tests_properties(${arch}.differential PROPERTIES
        FIXTURES_REQUIRED recorded_requests
        ENVIRONMENT "CGI_CROSS_HANDLER=${dir}/handler;CGI_CROSS_EMULATOR=${emulator};CGI_TEST_REQUESTS=${recorded_requests}")
    set_tests_properties(${names} PROPERTIES LABELS cross TIMEOUT 1200)
endfunction()

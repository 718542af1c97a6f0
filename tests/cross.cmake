# The program and its tests cross-built for other Debian architectures, each
# through its toolchain file (cmake/toolchains/ARCH.cmake) under this build
# folder, and run here under qemu-user. For each architecture:
#   ARCH.unit          the unit tests
#   ARCH.process       the process tests on the release handler, but those
#                      qemu-user cannot hold (see below)
#   ARCH.differential  every request of the suite, the fuzz seeds and
#                      generated ones, answered by the cross-built release
#                      handler byte for byte as by this machine's
# Where the cross compiler, qemu-user or the target's GoogleTest is missing,
# they are skipped with the reason.
include(ExternalProject)

set(cross_root ${CMAKE_BINARY_DIR}/cross)
set(CGI_TEST_ARCHS arm64 armhf CACHE STRING "Debian architectures cross-built and tested under qemu-user")

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
# (as valgrind.process leaves them out) and the one-write check under strace
# cannot hold there; the confinement tests are not built. The kernel's side
# of those is tested on each architecture's own kernel.
set(cross_process_excluded "MemoryLimit|MemoryRunsOut|one_write")

# Only what these tests run is built. Through make's own $(MAKE), the inner
# build shares the outer one's jobs.
if(CMAKE_GENERATOR MATCHES "Make")
    set(cross_build "$(MAKE)")
else()
    set(cross_build ${CMAKE_COMMAND} --build . --target)
endif()

function(add_cross_arch arch)
    set(names ${arch}.unit ${arch}.process ${arch}.differential)
    execute_process(COMMAND dpkg-architecture -a ${arch} -qDEB_HOST_GNU_TYPE
        OUTPUT_VARIABLE triple OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND dpkg-architecture -a ${arch} -qDEB_HOST_GNU_CPU
        OUTPUT_VARIABLE cpu OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND dpkg-architecture -a ${arch} -qDEB_HOST_MULTIARCH
        OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    string(REPLACE "-gnu" "-musl" musl_multiarch "${multiarch}")
    find_program(cross_compiler_${arch} ${triple}-g++)
    find_program(cross_emulator_${arch} qemu-${cpu}-static)
    set(emulator ${cross_emulator_${arch}})
    if(NOT triple)
        set(missing "dpkg-architecture does not know ${arch} (Debian package dpkg-dev)")
    elseif(NOT cross_compiler_${arch})
        set(missing "${triple}-g++ is not installed (Debian package g++-${triple})")
    elseif(NOT emulator)
        set(missing "qemu-${cpu}-static is not installed (Debian package qemu-user-static)")
    elseif(NOT EXISTS /usr/lib/${musl_multiarch}/rcrt1.o)
        set(missing "musl for ${arch} is not installed (Debian package musl-dev:${arch})")
    elseif(NOT EXISTS /usr/lib/${multiarch}/libgtest.a)
        set(missing "GoogleTest for ${arch} is not installed (Debian package libgtest-dev:${arch})")
    endif()
    if(missing)
        foreach(name IN LISTS names)
            add_test(NAME ${name} COMMAND sh -c "echo 'SKIPPED: ${missing}'; exit 77")
        endforeach()
        set_tests_properties(${names} PROPERTIES LABELS cross SKIP_RETURN_CODE 77)
        return()
    endif()

    set(dir ${cross_root}/${arch})
    ExternalProject_Add(cross_${arch}
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${dir}
        CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/${arch}.cmake
            -DCGI_TEST_VARIANTS=OFF -DCGI_TEST_CROSS=OFF
        BUILD_COMMAND ${cross_build} handler cgi_unit_tests handler_process_tests
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
        USES_TERMINAL_BUILD ON)

    set(inner_ctest ${CMAKE_CTEST_COMMAND} --test-dir ${dir} --output-on-failure --no-tests=error)
    add_test(NAME ${arch}.unit COMMAND ${inner_ctest} -L unit)
    # The process tests, run by the emulator, start the handler through it
    # too, so that no binfmt_misc registration is needed.
    add_test(NAME ${arch}.process
        COMMAND ${inner_ctest} -L process -E "${cross_process_excluded}")
    set_tests_properties(${arch}.process PROPERTIES ENVIRONMENT "CGI_TEST_WRAPPER=${emulator}")
    add_test(NAME ${arch}.differential COMMAND differential_tests)
    set_tests_properties(${arch}.differential PROPERTIES
        FIXTURES_REQUIRED recorded_requests
        ENVIRONMENT "CGI_CROSS_HANDLER=${dir}/handler;CGI_CROSS_EMULATOR=${emulator};CGI_TEST_REQUESTS=${recorded_requests}")
    set_tests_properties(${names} PROPERTIES LABELS cross TIMEOUT 900)
endfunction()

foreach(arch IN LISTS CGI_TEST_ARCHS)
    add_cross_arch(${arch})
endforeach()

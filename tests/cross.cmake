# The release program and the toolkit cross-built for Debian's arm64 and
# armhf under this build folder, in cross/ARCH, through the toolchain files;
# then the ELF check of each program, the RELRO check under qemu-user at
# every page size of the architecture's kernels (arm64: 4, 16 and 64 KiB;
# 32-bit ARM: 4 KiB), the request record's layout in callers of the
# installed toolkit, and the suite under qemu-user (tests/qemu_user.cmake).
# An architecture whose compiler or musl is missing is not built, and its
# tests skip with the reason (make test's install step brings them).
include(ExternalProject)

set(cross_root ${CMAKE_BINARY_DIR}/cross)
set(hardening_dir ${CMAKE_CURRENT_SOURCE_DIR}/hardening)
include(${CMAKE_CURRENT_LIST_DIR}/qemu_user.cmake)

# With the suite's test programs, only what the tests run is built; through
# make's own $(MAKE), the inner build shares the outer one's jobs.
if(CMAKE_GENERATOR MATCHES "Make")
    set(cross_build_with_tests "$(MAKE)")
else()
    set(cross_build_with_tests ${CMAKE_COMMAND} --build . --target)
endif()

function(add_cross_build arch)
    set(page_sizes ${ARGN})
    execute_process(COMMAND dpkg-architecture -a ${arch} -qDEB_HOST_GNU_TYPE
        OUTPUT_VARIABLE triple OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND dpkg-architecture -a ${arch} -qDEB_HOST_GNU_CPU
        OUTPUT_VARIABLE cpu OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND dpkg-query -W -f=\${Status} musl-dev:${arch}
        OUTPUT_VARIABLE musl_status ERROR_QUIET)
    find_program(cross_compiler_${arch} ${triple}-g++)
    set(missing "")
    if(NOT triple)
        set(missing "dpkg-architecture (Debian package dpkg-dev)")
    elseif(NOT cross_compiler_${arch})
        set(missing "${triple}-g++ (Debian package g++-${triple})")
    elseif(NOT musl_status MATCHES "install ok installed")
        set(missing "musl for ${arch} (Debian package musl-dev:${arch})")
    endif()
    set(tests hardening.elf.${arch} hardening.relro.${arch} install.layout.${arch})
    if(missing)
        message(STATUS "cross build for ${arch}: not built, ${missing} is missing")
        foreach(test IN LISTS tests)
            add_test(NAME ${test} COMMAND sh -c
                "echo 'SKIPPED: no cross build for ${arch}: ${missing} is not installed'; exit 77")
        endforeach()
        add_qemu_user_tests(${arch} "" "no cross build for ${arch}: ${missing} is not installed")
    else()
        qemu_user_missing(qemu_missing ${arch})
        if(qemu_missing)
            set(testing -DBUILD_TESTING=OFF)
            set(build_command "")
        else()
            set(testing -DBUILD_TESTING=ON)
            set(build_command BUILD_COMMAND ${cross_build_with_tests}
                handler cgi cgi_unit_tests handler_process_tests)
        endif()
        ExternalProject_Add(cross_${arch}
            SOURCE_DIR ${PROJECT_SOURCE_DIR}
            BINARY_DIR ${cross_root}/${arch}
            CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchains/${arch}.cmake
                ${testing}
            ${build_command}
            INSTALL_COMMAND ""
            BUILD_ALWAYS ON
            USES_TERMINAL_BUILD ON)
        set(handler ${cross_root}/${arch}/handler)
        add_test(NAME hardening.elf.${arch}
            COMMAND bash ${hardening_dir}/check_elf.sh ${handler} confine_process musl static)
        add_test(NAME hardening.relro.${arch}
            COMMAND bash ${hardening_dir}/relro_pages_test.sh ${handler}
                qemu-${cpu}-static ${page_sizes})
        add_test(NAME install.layout.${arch}
            COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install/layout_test.sh ${cross_root}/${arch} ${arch})
        add_qemu_user_tests(${arch} ${cross_root}/${arch} "${qemu_missing}")
    endif()
    set_tests_properties(${tests} PROPERTIES LABELS "hardening;cross" SKIP_RETURN_CODE 77)
    set_tests_properties(install.layout.${arch} PROPERTIES LABELS "install;cross" TIMEOUT 300)
endfunction()

add_cross_build(arm64 4096 16384 65536)
add_cross_build(armhf 4096)

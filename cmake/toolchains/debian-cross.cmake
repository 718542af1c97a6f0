# The cross build for one Debian architecture, named as Debian names it
# (CGI_ARCH: arm64, armhf, ...). Everything else is derived from that name by
# dpkg-architecture: the compilers' triple, the multiarch folder, and the
# qemu-user emulator that runs the built programs on this machine. Included
# by the per-architecture files beside it, which set CGI_ARCH.
if(NOT CGI_ARCH)
    message(FATAL_ERROR "debian-cross.cmake: CGI_ARCH is not set (use toolchains/ARCH.cmake)")
endif()

function(cgi_arch_query variable query)
    execute_process(COMMAND dpkg-architecture -a ${CGI_ARCH} -q${query}
        OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
        RESULT_VARIABLE failed)
    if(failed OR value STREQUAL "")
        message(FATAL_ERROR "dpkg-architecture knows no architecture '${CGI_ARCH}'")
    endif()
    set(${variable} ${value} PARENT_SCOPE)
endfunction()
cgi_arch_query(CGI_ARCH_TRIPLE DEB_HOST_GNU_TYPE)
cgi_arch_query(CGI_ARCH_MULTIARCH DEB_HOST_MULTIARCH)
cgi_arch_query(CGI_ARCH_CPU DEB_HOST_GNU_CPU)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${CGI_ARCH_CPU})
set(CMAKE_C_COMPILER ${CGI_ARCH_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${CGI_ARCH_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${CGI_ARCH_MULTIARCH})

# Libraries and headers of the target (e.g. GoogleTest for the tests) come
# from its multiarch folders; programs from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${CGI_ARCH_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# qemu-user runs the target's programs here: tests, and CMake's own probes.
set(cgi_qemu_cpu ${CGI_ARCH_CPU})
find_program(CGI_ARCH_EMULATOR qemu-${cgi_qemu_cpu}-static)
if(CGI_ARCH_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CGI_ARCH_EMULATOR})
endif()

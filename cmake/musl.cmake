# The release program against musl.
#
# Every request starts a new process, so what a request costs is mostly the C
# library's start-up. musl's static start-up relocates the program, sets up
# its one thread and calls main, and reads nothing on the way: glibc's looks
# up LD_* variables and /proc/self/exe and touches some twice as many pages.
# So the handler users run is compiled against musl's headers and linked
# statically against musl's libc.a, position-independent (static-pie, with
# musl's self-relocating start file rcrt1.o) so that ASLR holds.
#
# Only the handler: the installed libcgi.a, the tests and the sanitizer,
# valgrind and fuzz builds stay on the system's glibc. -DCGI_LIBC=glibc
# builds the handler against glibc as well, and a native configure falls
# back to it when musl is not installed (Debian package musl-tools); a cross
# build (cmake/toolchains/) stops instead.
#
# Sets CGI_HANDLER_LIBC to the C library the handler is built against.

set(CGI_LIBC musl CACHE STRING "C library of the handler program: musl or glibc")
set_property(CACHE CGI_LIBC PROPERTY STRINGS musl glibc)

set(CGI_HANDLER_LIBC glibc)
if(NOT CGI_LIBC STREQUAL "musl")
    return()
endif()
# Sanitizers, fuzzing and valgrind need glibc and a dynamic link; the musl
# program is the hardened static one.
if(NOT (CGI_STATIC AND CGI_HARDEN))
    return()
endif()
# musl's folders are named after the target's multiarch folder, "gnu"
# becoming "musl": x86_64-linux-gnu gives x86_64-linux-musl and
# arm-linux-gnueabihf gives arm-linux-musleabihf (Debian's musl-dev for that
# architecture).
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-multiarch
    OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REPLACE "-linux-gnu" "-linux-musl" musl_multiarch "${multiarch}")
set(musl_package musl-tools)
if(CMAKE_CROSSCOMPILING)
    set(musl_package "musl-dev:${CGI_ARCH}")
endif()
unset(musl_missing)
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(musl_missing "the musl build uses g++, not ${CMAKE_CXX_COMPILER_ID}")
else()
    find_path(CGI_MUSL_INCLUDE_DIR stdio.h
        PATHS /usr/include/${musl_multiarch} /usr/lib/musl/include
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    find_path(CGI_MUSL_LIBRARY_DIR rcrt1.o
        PATHS /usr/lib/${musl_multiarch} /usr/lib/musl/lib
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT CGI_MUSL_INCLUDE_DIR OR NOT CGI_MUSL_LIBRARY_DIR)
        set(musl_missing "musl for ${musl_multiarch} not found (Debian package ${musl_package})")
    endif()
endif()
if(DEFINED musl_missing)
    # A cross build is for the release program: one against the target's
    # glibc would be another program (and Debian's glibc for 32-bit ARM has
    # no start file for a static-pie), so it stops here instead.
    if(CMAKE_CROSSCOMPILING)
        message(FATAL_ERROR "musl: ${musl_missing}. A cross build links the handler against "
            "musl; install it, or choose the target's glibc with -DCGI_LIBC=glibc.")
    endif()
    message(STATUS "musl: ${musl_missing}: the handler is linked against glibc")
    return()
endif()

# The compiler's own pieces: its headers (stddef.h, stdarg.h), the start and
# end files that run constructors, and libgcc for helpers it may call.
function(compiler_file variable option)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${option}
        OUTPUT_VARIABLE file OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(${variable} ${file} PARENT_SCOPE)
endfunction()
compiler_file(compiler_include_dir -print-file-name=include)
compiler_file(compiler_crtbegin -print-file-name=crtbeginS.o)
compiler_file(compiler_crtend -print-file-name=crtendS.o)
compiler_file(compiler_libgcc -print-libgcc-file-name)

set(CGI_HANDLER_LIBC musl)
message(STATUS "musl: the handler is linked against ${CGI_MUSL_LIBRARY_DIR}/libc.a")

# Only musl's headers and the compiler's: libstdc++'s headers are made for
# glibc, and the sources need nothing of them (they include <stdio.h> and the
# like). Without exceptions, RTTI and guarded statics, nothing refers to
# libstdc++ or libsupc++. musl has no _FORTIFY_SOURCE; the stack protector
# it supports, through the same canary as glibc.
#
# The kernel's headers (linux/, asm/, asm-generic/) are the same for every C
# library; they come after musl's through a folder of links to them alone,
# so that the include path gains nothing else of glibc's. They are the
# target's, found where its compiler finds them: /usr/include and the
# multiarch folder natively, /usr/TRIPLE/include for a cross compiler.
set(kernel_headers_dir ${CMAKE_BINARY_DIR}/musl-kernel-headers)
file(MAKE_DIRECTORY ${kernel_headers_dir})
foreach(folder linux asm asm-generic)
    string(MAKE_C_IDENTIFIER "CGI_KERNEL_HEADERS_${folder}" found)
    find_path(${found} ${folder}/types.h PATHS ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES}
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT ${found})
        message(FATAL_ERROR "musl: the kernel's ${folder}/ headers are not on the compiler's "
            "include path (${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES}): Debian package "
            "linux-libc-dev for the target")
    endif()
    file(CREATE_LINK ${${found}}/${folder} ${kernel_headers_dir}/${folder} SYMBOLIC)
endforeach()
set(musl_compile_options
    -nostdinc "SHELL:-isystem ${CGI_MUSL_INCLUDE_DIR}" "SHELL:-isystem ${compiler_include_dir}"
    "SHELL:-idirafter ${kernel_headers_dir}"
    -fno-exceptions -fno-rtti -fno-threadsafe-statics -U_FORTIFY_SOURCE)

add_library(cgi_musl OBJECT ${cgi_sources})
target_include_directories(cgi_musl PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(cgi_musl PRIVATE ${musl_compile_options})

target_compile_options(handler PRIVATE ${musl_compile_options})
# musl's start-up leaves RELRO writable: the program protects it itself.
target_compile_definitions(handler PRIVATE HANDLER_PROTECT_RELRO)
target_sources(handler PRIVATE $<TARGET_OBJECTS:cgi_musl>)

# No default start files or libraries: musl's self-relocating rcrt1.o and
# libc.a, with the compiler's crtbeginS.o/crtendS.o and libgcc. Never
# -z pack-relative-relocs: musl 1.2.3's rcrt1.o does not apply DT_RELR
# relocations, and such a program dies with SIGSEGV before main.
#
# The static-pie is spelled out as the pieces that GCC's -static-pie hands
# the linker on x86-64 and arm64: GCC 12's driver for 32-bit ARM ignores
# -static-pie and links a dynamic program, with an interpreter and GOT
# relocations that nothing would ever resolve.
target_link_options(handler PRIVATE
    -nostdlib -static "LINKER:-pie,--no-dynamic-linker,-z,text,--eh-frame-hdr"
    ${CGI_MUSL_LIBRARY_DIR}/rcrt1.o ${CGI_MUSL_LIBRARY_DIR}/crti.o ${compiler_crtbegin})

# Linked by lld where it is installed, for its layout: every page the program
# touches costs a page fault, and a fault-around maps neighbouring pages of
# one mapping only. lld keeps the headers, relocations and constants in one
# read-only segment (GNU ld gives the constants a segment of their own), and
# with -z rodynamic puts the dynamic section there too, so that the start-up
# code reads it without faulting in the RELRO page, whose one fault is then
# the relocations' write. -z separate-code pads the code to pages of its
# own, so that no constant is mapped executable. Two page faults fewer a
# request than GNU ld.
#
# GCC looks for ld.lld among its own programs (a cross compiler finds no
# linker on PATH but TRIPLE-ld), so it is given a folder holding a link of
# that name with -B.
find_program(CGI_LLD NAMES ld.lld ld.lld-14)
if(CGI_LLD)
    set(linker_dir ${CMAKE_BINARY_DIR}/musl-linker)
    file(MAKE_DIRECTORY ${linker_dir})
    file(CREATE_LINK ${CGI_LLD} ${linker_dir}/ld.lld SYMBOLIC)
    target_link_options(handler PRIVATE
        -B${linker_dir} -fuse-ld=lld -Wl,-z,separate-code -Wl,-z,rodynamic)
else()
    message(STATUS "lld not found (Debian package lld): the handler is linked by GNU ld, "
        "with two page faults more per request")
endif()
# These follow the objects on the link line, the end files last.
target_link_libraries(handler PRIVATE
    -Wl,--start-group ${CGI_MUSL_LIBRARY_DIR}/libc.a ${compiler_libgcc} -Wl,--end-group
    ${compiler_crtend} ${CGI_MUSL_LIBRARY_DIR}/crtn.o)

# The handler's confinement: a seccomp filter that the program installs at
# the start of main. libseccomp builds it at build time, by a small generator
# program, into a header holding the BPF instructions; the released program
# loads that table with one call and carries no libseccomp code.
#
# On by default for the release program. The sanitizer, valgrind and fuzz
# builds go without (their tools make system calls the program never does).

option(CGI_CONFINE "The handler confines itself with a seccomp filter" ON)
if(CGI_SANITIZE OR CGI_FUZZ)
    set(CGI_CONFINE OFF)
endif()
if(NOT CGI_CONFINE)
    return()
endif()

find_path(SECCOMP_INCLUDE_DIR seccomp.h)
find_library(SECCOMP_LIBRARY seccomp)
if(NOT SECCOMP_INCLUDE_DIR OR NOT SECCOMP_LIBRARY)
    message(FATAL_ERROR "The handler's confinement is built with libseccomp (Debian package "
        "libseccomp-dev): install it, or configure with -DCGI_CONFINE=OFF")
endif()

add_executable(confinement_filter_generator handler/confinement_filter_generator.cpp)
target_include_directories(confinement_filter_generator PRIVATE ${SECCOMP_INCLUDE_DIR})
target_link_libraries(confinement_filter_generator PRIVATE ${SECCOMP_LIBRARY})

set(confinement_dir ${CMAKE_BINARY_DIR}/confinement)
add_custom_command(OUTPUT ${confinement_dir}/confinement_filter.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${confinement_dir}
    COMMAND confinement_filter_generator ${confinement_dir}/confinement_filter.h
    DEPENDS confinement_filter_generator
    COMMENT "Generating the handler's seccomp filter")
add_custom_target(confinement_filter DEPENDS ${confinement_dir}/confinement_filter.h)

# confine_process() for any program built with the filter: the handler and
# the confinement test.
function(cgi_add_confinement target)
    add_dependencies(${target} confinement_filter)
    target_compile_definitions(${target} PRIVATE CGI_CONFINE)
    target_include_directories(${target} PRIVATE ${confinement_dir})
endfunction()
cgi_add_confinement(handler)

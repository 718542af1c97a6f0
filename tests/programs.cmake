# The suite's process and confinement test programs, built the same for a run
# here and for a run on a target's own kernel, with the paths of the programs
# they start where that run finds them.
set(cgi_tests_dir ${CMAKE_CURRENT_LIST_DIR})

function(cgi_add_process_tests target handler_path)
    add_executable(${target}
        ${cgi_tests_dir}/process/handler_test.cpp
        ${cgi_tests_dir}/process/hostile_test.cpp
        ${cgi_tests_dir}/process/memory_limit_test.cpp
        ${cgi_tests_dir}/process/run_process.cpp
    )
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
    target_compile_definitions(${target} PRIVATE
        HANDLER_PATH="${handler_path}" HANDLER_LIBC="${CGI_HANDLER_LIBC}")
    add_dependencies(${target} handler)
endfunction()

function(cgi_add_confinement_tests target handler_path seccomp_host_path seeds_dir)
    add_executable(${target}
        ${cgi_tests_dir}/confinement/confinement_test.cpp
        ${PROJECT_SOURCE_DIR}/handler/confine.cpp
        ${PROJECT_SOURCE_DIR}/fuzz/model.cpp
    )
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/fuzz)
    target_link_libraries(${target} PRIVATE cgi GTest::gtest_main)
    target_compile_definitions(${target} PRIVATE CGI_CONFINE
        HANDLER_PATH="${handler_path}" SECCOMP_HOST_PATH="${seccomp_host_path}"
        FUZZ_SEEDS_DIR="${seeds_dir}")
    add_dependencies(${target} handler seccomp_host)
endfunction()

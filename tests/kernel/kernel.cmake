# Runs on each architecture's own kernel, booted under qemu-system: the cross
# build of the handler and the static test programs (tests/kernel/), then the
# boot, judged by what the tests print. Included by tests/CMakeLists.txt.
# The handler of those runs is the cross build's release program.

# The one page-fault measure, taken here on the x86-64 program as on each
# target's kernel.
add_executable(page_faults kernel/page_faults.c)

set(kernel_runs ${CMAKE_CURRENT_SOURCE_DIR}/kernel/kernel_test.sh ${PROJECT_SOURCE_DIR}
    $<TARGET_FILE:page_faults> $<TARGET_FILE:handler>)
foreach(arch IN ITEMS arm64 armhf)
    add_test(NAME kernel.${arch}
        COMMAND bash ${kernel_runs} ${arch} ${CMAKE_BINARY_DIR}/kernel/${arch})
    set_tests_properties(kernel.${arch} PROPERTIES
        LABELS kernel SKIP_RETURN_CODE 77 TIMEOUT 1800 RESOURCE_LOCK kernel-${arch})
endforeach()
# A kernel that panics must fail the run: an init that returns at once.
add_test(NAME kernel.arm64.panic_fails
    COMMAND bash ${kernel_runs} --panic arm64 ${CMAKE_BINARY_DIR}/kernel/arm64)
set_tests_properties(kernel.arm64.panic_fails PROPERTIES
    LABELS kernel SKIP_RETURN_CODE 77 TIMEOUT 1800 RESOURCE_LOCK kernel-arm64)

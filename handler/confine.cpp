#include "handler/confine.h"

#if defined(CGI_CONFINE)

#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// What the one policy below needs of each architecture: the audit value the
// kernel gives its calls (a call of any other architecture or ABI carries
// another: i386's on x86-64, 32-bit ARM's on arm64, and is killed), and its
// call numbers, from the C library's headers. Strict mode allows read,
// write, exit and rt_sigreturn on each of these: the kernel's list of the
// calls it allows (mode1_syscalls) takes its numbers from
// asm-generic/seccomp.h, __NR_read, __NR_write, __NR_exit and
// __NR_rt_sigreturn, and only 32-bit x86 names sigreturn instead; so on
// 32-bit ARM it is rt_sigreturn (173), never sigreturn (119).
#if defined(__x86_64__)
#define CONFINEMENT_ARCH AUDIT_ARCH_X86_64
// x32 calls come with the x86-64 architecture and this bit in their number.
#define CONFINEMENT_OTHER_ABI_BIT 0x40000000U
#elif defined(__aarch64__)
#define CONFINEMENT_ARCH AUDIT_ARCH_AARCH64
#elif defined(__arm__) && defined(__ARM_EABI__)
// A kernel that takes filters has no old-ABI entry (OABI_COMPAT excludes
// them), so every call made here is an EABI call.
#define CONFINEMENT_ARCH AUDIT_ARCH_ARM
#endif

#if defined(CONFINEMENT_ARCH)
// Each allowed call jumps over the ones after it and the kill to the allow.
#define ALLOW_CALL(number, calls_after)                                                            \
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (number), (calls_after) + 1, 0)

// Strict mode's policy as a filter, written out by hand: the architecture
// checked, then read, write, exit and rt_sigreturn, and nothing else.
const struct sock_filter strict_policy[] = {
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
    BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, CONFINEMENT_ARCH, 1, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
    BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
#if defined(CONFINEMENT_OTHER_ABI_BIT)
    BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, CONFINEMENT_OTHER_ABI_BIT, 4, 0),
#endif
    ALLOW_CALL(__NR_read, 3),
    ALLOW_CALL(__NR_write, 2),
    ALLOW_CALL(__NR_exit, 1),
    ALLOW_CALL(__NR_rt_sigreturn, 0),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
    BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
};

// Returns 0 once the filter is in place, or the error that refused it.
int install_strict_policy_filter() {
    // Without no-new-privileges the kernel takes a filter only from a
    // privileged process.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return errno;
    }
    const struct sock_fprog program = {
        static_cast<unsigned short>(sizeof strict_policy / sizeof strict_policy[0]),
        const_cast<struct sock_filter *>(strict_policy)};
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0 ? 0 : errno;
}
#else
int install_strict_policy_filter() {
    return ENOSYS; // no filter written for this architecture
}
#endif

// The web server puts standard error in its error log: running unconfined
// is never silent. One write, so that the line stays whole in the log.
void report_unconfined(int strict_error, int filter_error) {
    char line[256];
    const int length = snprintf(line, sizeof line,
                                "handler: running unconfined: seccomp strict mode refused (%s), "
                                "filter refused (%s)\n",
                                strerror(strict_error), strerror(filter_error));
    if (length > 0 && write(STDERR_FILENO, line, strnlen(line, sizeof line)) < 0) {
        return; // nowhere left to say it
    }
}

} // namespace

void confine_process(void) {
    // A web server passes on the descriptors it inherited; read and write
    // would still reach them. A kernel without close_range (before 5.9)
    // leaves them open.
#if defined(SYS_close_range)
    syscall(SYS_close_range, 3, ~0U, 0);
#endif
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT, 0, 0, 0) == 0) {
        return;
    }
    const int strict_error = errno;
    const int filter_error = install_strict_policy_filter();
    if (filter_error != 0) {
        report_unconfined(strict_error, filter_error);
    }
}

void end_process(int status) {
    for (;;) {
        syscall(SYS_exit, status);
    }
}

#else

#include <stdlib.h>

void confine_process(void) {}

void end_process(int status) {
    exit(status);
}

#endif

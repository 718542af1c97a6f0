#include "handler/confine.h"

#if defined(CGI_CONFINE)

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
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

// Closes one descriptor. Returns 0 unless it stays open: EBADF means it was
// not open, and after EINTR or EIO it is released all the same.
int close_descriptor(int descriptor) {
    if (close(descriptor) == 0 || errno == EBADF || errno == EINTR || errno == EIO) {
        return 0;
    }
    return errno;
}

// Without /proc (a chroot), every descriptor from 3 up to the limit on
// descriptors: one above it cannot have been opened under the present limit.
int close_descriptors_below_limit() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return errno;
    }
    const int end = limit.rlim_cur < INT_MAX ? static_cast<int>(limit.rlim_cur) : INT_MAX;
    int error = 0;
    for (int descriptor = STDERR_FILENO + 1; descriptor < end; ++descriptor) {
        const int refused = close_descriptor(descriptor);
        error = error != 0 ? error : refused;
    }
    return error;
}

// The number an entry of /proc/self/fd names, or -1 for "." and "..".
int descriptor_named(const char *name, size_t size) {
    int descriptor = 0;
    size_t i = 0;
    for (; i < size && name[i] >= '0' && name[i] <= '9' && descriptor < INT_MAX / 10; ++i) {
        descriptor = descriptor * 10 + (name[i] - '0');
    }
    return i > 0 && i < size && name[i] == '\0' ? descriptor : -1;
}

// Where close_range is refused or missing: each descriptor above 2 that
// /proc/self/fd lists, read by getdents64 into the stack (no allocation).
// Closing one while reading does not move the others: the directory's
// position is a descriptor's number. Returns 0, or the error that left a
// descriptor open. Kept apart (not inlined), so that its buffer does not
// deepen the stack of the usual path.
__attribute__((noinline)) int close_descriptors_one_by_one() {
    const int directory = open("/proc/self/fd", O_RDONLY | O_DIRECTORY);
    if (directory < 0) {
        return close_descriptors_below_limit();
    }
    // An entry of getdents64: inode and offset (8 bytes each), its length
    // (2), its type (1), then its name, NUL-terminated.
    const size_t length_at = 16;
    const size_t name_at = 19;
    char entries[2048];
    int error = 0;
    long got;
    while ((got = syscall(SYS_getdents64, directory, entries, sizeof entries)) > 0) {
        unsigned short length = 0;
        for (size_t at = 0; at + name_at < static_cast<size_t>(got); at += length) {
            memcpy(&length, entries + at + length_at, sizeof length);
            if (length <= name_at || length > static_cast<size_t>(got) - at) {
                break;
            }
            const int descriptor = descriptor_named(entries + at + name_at, length - name_at);
            if (descriptor > STDERR_FILENO && descriptor != directory) {
                const int refused = close_descriptor(descriptor);
                error = error != 0 ? error : refused;
            }
        }
    }
    if (got < 0 && error == 0) {
        error = errno; // the listing broke off
    }
    const int refused = close_descriptor(directory);
    return error != 0 ? error : refused;
}

// A web server passes on the descriptors it inherited; read and write would
// still reach them once confined. close_range closes them in one call; where
// it is refused (a host's filter that answers EPERM or ENOSYS for calls it
// does not list) or missing (before Linux 5.9), they are closed one by one.
// Returns 0 when none is left open, or the error that left one open, with
// close_range's own in `range_error`.
int close_inherited_descriptors(int &range_error) {
    range_error = ENOSYS;
#if defined(SYS_close_range)
    if (syscall(SYS_close_range, STDERR_FILENO + 1, ~0U, 0) == 0) {
        return 0;
    }
    range_error = errno;
#endif
    return close_descriptors_one_by_one();
}

// The web server puts standard error in its error log: a process left
// unconfined, or with descriptors it inherited, is never silent. One write,
// so that the line stays whole in the log.
void report(const char *line, size_t size) {
    if (write(STDERR_FILENO, line, strnlen(line, size)) < 0) {
        return; // nowhere left to say it
    }
}

// `also` is "" or the end of a line that says more, with its line feed.
void report_unconfined(int strict_error, int filter_error, const char *also) {
    char line[384];
    const int length = snprintf(line, sizeof line,
                                "handler: running unconfined: seccomp strict mode refused (%s), "
                                "filter refused (%s)\n",
                                strerror(strict_error), strerror(filter_error));
    if (length <= 0) {
        return;
    }
    if (also[0] != '\0' && static_cast<size_t>(length) < sizeof line) {
        // The line goes on in place of its line feed.
        const size_t line_feed = static_cast<size_t>(length) - 1;
        snprintf(line + line_feed, sizeof line - line_feed, "; %s", also);
    }
    report(line, sizeof line);
}

// Strict mode, or else the filter. Returns 0 once confined, or the filter's
// error and, in `strict_error`, strict mode's.
int enter_confinement(int &strict_error) {
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_STRICT, 0, 0, 0) == 0) {
        return 0;
    }
    strict_error = errno;
    return install_strict_policy_filter();
}

// The rare path, apart so that the usual one keeps its small stack frame:
// the line is formatted before the confinement, in case the C library
// formats with calls that strict mode forbids, and written after it.
__attribute__((noinline)) void confine_with_descriptors_open(int range_error,
                                                             int descriptors_error) {
    const char prefix[] = "handler: ";
    char line[256];
    const int length = snprintf(line, sizeof line,
                                "%sinherited descriptors left open: close_range refused (%s), "
                                "closing one by one refused (%s)\n",
                                prefix, strerror(range_error), strerror(descriptors_error));
    int strict_error = 0;
    const int filter_error = enter_confinement(strict_error);
    if (length <= 0) {
        return;
    }
    if (filter_error != 0) {
        report_unconfined(strict_error, filter_error, line + sizeof prefix - 1);
    } else {
        report(line, sizeof line);
    }
}

} // namespace

void confine_process(void) {
    int range_error = 0;
    const int descriptors_error = close_inherited_descriptors(range_error);
    if (descriptors_error != 0) {
        confine_with_descriptors_open(range_error, descriptors_error);
        return;
    }
    int strict_error = 0;
    const int filter_error = enter_confinement(strict_error);
    if (filter_error != 0) {
        report_unconfined(strict_error, filter_error, "");
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

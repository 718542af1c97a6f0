/* Seccomp filters that a host may have put in place before the handler
 * starts, written out by hand for the tests and the benchmark: a filter that
 * allows everything (as a container's or a service's filter allows what the
 * handler does), one that refuses seccomp itself (as a kernel without it
 * does), a filter stack filled to the kernel's limit, and filters that answer
 * chosen calls with an error (as a kernel out of memory answers madvise, or
 * a container's profile answers a call it does not list). Native calls only:
 * these filters check no architecture. Each returns 0, or -1 with errno. */
#ifndef TESTS_CONFINEMENT_HOST_FILTERS_H
#define TESTS_CONFINEMENT_HOST_FILTERS_H

#include <errno.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

/* A privileged process may install a filter without no-new-privileges, and
 * then leaves it unset for the handler to set; any other sets it first. */
static inline int host_load_filter(struct sock_filter *instructions, unsigned short count) {
    struct sock_fprog program = {count, instructions};
    if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0) {
        return 0;
    }
    if (errno != EACCES || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return -1;
    }
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0);
}

static inline int host_allow_all(void) {
    struct sock_filter allow[] = {BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
    return host_load_filter(allow, 1);
}

/* prctl(PR_SET_SECCOMP, ...) and seccomp() fail with EINVAL; all else runs. */
static inline int host_refuse_seccomp(void) {
    struct sock_filter refuse[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_seccomp, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_prctl, 0, 2),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, PR_SET_SECCOMP, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EINVAL),
    };
    return host_load_filter(refuse, sizeof refuse / sizeof refuse[0]);
}

static inline struct sock_filter host_statement(unsigned short code, unsigned k) {
    struct sock_filter statement = BPF_STMT(code, k);
    return statement;
}

static inline struct sock_filter host_jump_if_equal(unsigned k, unsigned char jump) {
    struct sock_filter statement = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, k, jump, 0);
    return statement;
}

/* Answers each of `count` calls (at most 4) with `error`, without running
 * it; all else runs. */
static inline int host_answer_calls(const int *calls, unsigned count, int error) {
    struct sock_filter answer[4 + 3];
    if (count > 4) {
        errno = EINVAL;
        return -1;
    }
    answer[0] = host_statement(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr));
    for (unsigned i = 0; i < count; ++i) {
        /* A match jumps over the calls after it and the allow. */
        answer[1 + i] = host_jump_if_equal((unsigned)calls[i], (unsigned char)(count - i));
    }
    answer[1 + count] = host_statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    answer[2 + count] = host_statement(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (unsigned)error);
    return host_load_filter(answer, (unsigned short)(count + 3));
}

/* Stacks allowing filters, large ones first, until the kernel answers ENOMEM
 * for a filter of a single instruction: no filter fits any more. */
static inline int host_fill_filter_stack(void) {
    static struct sock_filter instructions[BPF_MAXINSNS];
    unsigned short size = BPF_MAXINSNS;
    for (unsigned short i = 0; i + 1 < size; ++i) {
        instructions[i] = host_statement(BPF_LD | BPF_W | BPF_ABS, 0);
    }
    for (;;) {
        instructions[size - 1] = host_statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
        if (host_load_filter(instructions, size) == 0) {
            continue;
        }
        if (errno != ENOMEM) {
            return -1;
        }
        if (size == 1) {
            return 0;
        }
        instructions[size - 1] = host_statement(BPF_LD | BPF_W | BPF_ABS, 0);
        size /= 2;
    }
}

#endif

/* refuse_seccomp PROGRAM ARG...: runs PROGRAM with every attempt to install a
 * seccomp filter failing with EINVAL, as on a kernel without seccomp. The
 * benchmark counts the confined handler's instructions under callgrind this
 * way: the handler then goes on unconfined, running the same code, and
 * valgrind, which makes calls the filter forbids, is not killed. */
#include <errno.h>
#include <seccomp.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [ARG...]\n", argv[0]);
        return 2;
    }
    scmp_filter_ctx refuse = seccomp_init(SCMP_ACT_ALLOW);
    if (refuse == NULL ||
        seccomp_rule_add(refuse, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(prctl), 1,
                         SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP)) != 0 ||
        seccomp_rule_add(refuse, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(seccomp), 0) != 0 ||
        seccomp_load(refuse) != 0) {
        fprintf(stderr, "%s: could not install the refusing filter\n", argv[0]);
        return 1;
    }
    execvp(argv[1], argv + 1);
    perror(argv[1]);
    return 127;
}

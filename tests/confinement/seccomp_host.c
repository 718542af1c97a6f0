/* seccomp_host allow|refuse|full PROGRAM [ARG...]
 * Runs PROGRAM as a host with a seccomp filter of its own would: under an
 * allowing filter, under a filter that refuses seccomp (as a kernel without
 * it), or with the filter stack full. The benchmark counts the handler's
 * instructions under callgrind with "refuse": the handler then goes on
 * unconfined, and valgrind, which makes calls the confinement forbids, is not
 * killed. */
#include "host_filters.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s allow|refuse|full PROGRAM [ARG...]\n", argv[0]);
        return 2;
    }
    int installed = -1;
    if (strcmp(argv[1], "allow") == 0) {
        installed = host_allow_all();
    } else if (strcmp(argv[1], "refuse") == 0) {
        installed = host_refuse_seccomp();
    } else if (strcmp(argv[1], "full") == 0) {
        installed = host_fill_filter_stack();
    } else {
        fprintf(stderr, "%s: unknown host '%s'\n", argv[0], argv[1]);
        return 2;
    }
    if (installed != 0) {
        perror("seccomp_host: the host's filter");
        return 125;
    }
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    return 127;
}

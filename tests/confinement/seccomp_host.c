/* seccomp_host HOST PROGRAM [ARG...]
 * Runs PROGRAM as a host with a seccomp filter of its own would: under an
 * allowing filter ("allow"), under a filter that refuses seccomp, as a
 * kernel without it ("refuse"), with the filter stack full ("full"), or
 * under a filter that answers chosen calls with an error and allows the
 * rest: madvise or mmap answered ENOMEM, as a kernel out of memory answers
 * ("madvise-enomem", "mmap-enomem"); madvise answered EINVAL, as a kernel
 * before 5.14 answers MADV_POPULATE_WRITE ("madvise-einval"); close_range
 * answered EPERM or ENOSYS, as a container's profile answers a call it does
 * not list ("close_range-eperm", "close_range-enosys"); close_range and
 * close answered EPERM ("close-eperm"). The benchmark counts the handler's
 * instructions under callgrind with "refuse": the handler then goes on
 * unconfined, and valgrind, which makes calls the confinement forbids, is not
 * killed. */
#include "host_filters.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

/* 32-bit ABIs map memory by mmap2. */
#if defined(SYS_mmap2)
#define SYS_map_memory SYS_mmap2
#else
#define SYS_map_memory SYS_mmap
#endif

struct answering_host {
    const char *name;
    int calls[2];
    unsigned count;
    int error;
};

static const struct answering_host answering_hosts[] = {
    {"madvise-enomem", {SYS_madvise}, 1, ENOMEM},
    {"madvise-einval", {SYS_madvise}, 1, EINVAL},
    {"mmap-enomem", {SYS_map_memory}, 1, ENOMEM},
    {"close_range-eperm", {SYS_close_range}, 1, EPERM},
    {"close_range-enosys", {SYS_close_range}, 1, ENOSYS},
    {"close-eperm", {SYS_close_range, SYS_close}, 2, EPERM},
};

static int install_host_filter(const char *host) {
    if (strcmp(host, "allow") == 0) {
        return host_allow_all();
    }
    if (strcmp(host, "refuse") == 0) {
        return host_refuse_seccomp();
    }
    if (strcmp(host, "full") == 0) {
        return host_fill_filter_stack();
    }
    for (size_t i = 0; i < sizeof answering_hosts / sizeof answering_hosts[0]; ++i) {
        const struct answering_host *answering = &answering_hosts[i];
        if (strcmp(host, answering->name) == 0) {
            return host_answer_calls(answering->calls, answering->count, answering->error);
        }
    }
    fprintf(stderr, "seccomp_host: unknown host '%s'\n", host);
    return -2;
}

int main(int argc, char **argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s HOST PROGRAM [ARG...]\n", argv[0]);
        return 2;
    }
    const int installed = install_host_filter(argv[1]);
    if (installed == -2) {
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

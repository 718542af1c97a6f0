/* page_faults RUNS PROGRAM
 * Starts PROGRAM RUNS times with this process's environment, standard output
 * on /dev/null, and prints the median of its page faults: the rusage that
 * wait4 gives for a child started with vfork, so the exec is counted with
 * the program's own run. The one measure taken on every architecture, on this
 * machine and on each target's own kernel. Fails when a run does not exit
 * with status 0. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

static int compare(const void *left, const void *right) {
    const long a = *(const long *)left, b = *(const long *)right;
    return a < b ? -1 : a > b;
}

int main(int argc, char **argv) {
    const int runs = argc == 3 ? atoi(argv[1]) : 0;
    if (runs < 1 || runs > 1000) {
        fprintf(stderr, "usage: %s RUNS PROGRAM\n", argv[0]);
        return 2;
    }
    const int output = open("/dev/null", O_WRONLY | O_CLOEXEC);
    long faults[1000];
    for (int run = 0; run < runs; ++run) {
        char *arguments[] = {argv[2], NULL};
        const pid_t pid = vfork();
        if (pid == 0) {
            dup2(output, STDOUT_FILENO);
            execve(argv[2], arguments, environ);
            _exit(127);
        }
        int status = 0;
        struct rusage usage;
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
            perror("page_faults");
            return 1;
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "page_faults: %s ended with status 0x%x\n", argv[2], status);
            return 1;
        }
        faults[run] = usage.ru_minflt + usage.ru_majflt;
    }
    qsort(faults, (size_t)runs, sizeof faults[0], compare);
    printf("page faults: median %ld (least %ld, most %ld) of %d runs of %s\n", faults[runs / 2],
           faults[0], faults[runs - 1], runs, argv[2]);
    return 0;
}

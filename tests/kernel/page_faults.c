/* page_faults [-R] RUNS PROGRAM
 * Starts PROGRAM RUNS times with this process's environment, standard output
 * on /dev/null, and prints the median of its page faults: the rusage that
 * wait4 gives for a child started with vfork, so the exec is counted with
 * the program's own run. The one measure taken on every architecture, on this
 * machine and on each target's own kernel. Fails when a run does not exit
 * with status 0.
 * Where the kernel puts the stack and the program moves from run to run, and
 * with it the pages they straddle: -R runs the program without address
 * randomization, where every run takes the same pages. */
#include <fcntl.h>
#include <string.h>
#include <sys/personality.h>
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
    const int fixed = argc == 4 && strcmp(argv[1], "-R") == 0;
    const int runs = argc == 3 + fixed ? atoi(argv[1 + fixed]) : 0;
    char *const program = argv[argc - 1];
    if (runs < 1 || runs > 1000) {
        fprintf(stderr, "usage: page_faults [-R] RUNS PROGRAM\n");
        return 2;
    }
    const int output = open("/dev/null", O_WRONLY | O_CLOEXEC);
    long faults[1000];
    for (int run = 0; run < runs; ++run) {
        char *arguments[] = {program, NULL};
        const pid_t pid = vfork();
        if (pid == 0) {
            if (fixed) {
                personality(ADDR_NO_RANDOMIZE);
            }
            dup2(output, STDOUT_FILENO);
            execve(program, arguments, environ);
            _exit(127);
        }
        int status = 0;
        struct rusage usage;
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
            perror("page_faults");
            return 1;
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            fprintf(stderr, "page_faults: %s ended with status 0x%x\n", program, status);
            return 1;
        }
        faults[run] = usage.ru_minflt + usage.ru_majflt;
    }
    qsort(faults, (size_t)runs, sizeof faults[0], compare);
    printf("page faults%s: median %ld (least %ld, most %ld) of %d runs of %s\n",
           fixed ? " without address randomization" : "", faults[runs / 2], faults[0],
           faults[runs - 1], runs, program);
    return 0;
}

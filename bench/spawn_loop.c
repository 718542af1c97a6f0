/* spawn_loop RUNS PROGRAM...
 * Starts each PROGRAM RUNS times, the programs taking turns (A B C, then
 * B C A, ...), with this process's environment and standard output on
 * /dev/null, and prints for each, in the order given, the median wall time in
 * microseconds from the spawn to the end of the wait. Programs that take
 * turns run one at a time through the same drift of the machine, so their
 * ratios hold better than those of rounds run one program after another.
 * Fails when a program does not exit with status 0. */
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

static double now_microseconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

static int compare(const void *left, const void *right) {
    const double a = *(const double *)left, b = *(const double *)right;
    return a < b ? -1 : a > b;
}

int main(int argc, char **argv) {
    if (argc < 3 || atoi(argv[1]) < 1) {
        fprintf(stderr, "usage: %s RUNS PROGRAM...\n", argv[0]);
        return 2;
    }
    const int runs = atoi(argv[1]);
    const int programs = argc - 2;
    double *times = malloc(sizeof *times * (size_t)runs * (size_t)programs);
    posix_spawn_file_actions_t output;
    if (times == NULL || posix_spawn_file_actions_init(&output) != 0 ||
        posix_spawn_file_actions_addopen(&output, 1, "/dev/null", O_WRONLY, 0) != 0) {
        perror("spawn_loop");
        return 1;
    }
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < programs; ++turn) {
            const int program = (run + turn) % programs;
            char *arguments[] = {argv[2 + program], NULL};
            pid_t pid;
            int status;
            const double start = now_microseconds();
            if (posix_spawn(&pid, arguments[0], &output, NULL, arguments, environ) != 0 ||
                waitpid(pid, &status, 0) != pid) {
                perror(arguments[0]);
                return 1;
            }
            times[program * runs + run] = now_microseconds() - start;
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                fprintf(stderr, "spawn_loop: %s ended with status %d\n", arguments[0], status);
                return 1;
            }
        }
    }
    for (int program = 0; program < programs; ++program) {
        qsort(times + program * runs, (size_t)runs, sizeof *times, compare);
        printf("%.1f\n", times[program * runs + runs / 2]);
    }
    return 0;
}

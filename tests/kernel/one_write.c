/* one_write CASES PROGRAM
 * The one-write check where strace is not at hand: runs PROGRAM once for
 * each line of the file CASES (NAME|QUERY_STRING|ADDRESS_SPACE_LIMIT, the
 * limit in bytes or empty, as tests/process/one_write_cases.sh prints them)
 * under ptrace, counts the write and writev calls on descriptor 1 from the
 * kernel's own account of each call (PTRACE_GET_SYSCALL_INFO, so the call
 * numbers are the target's), and fails unless every answer left in exactly
 * one call. */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

enum { MAX_LINE = 1 << 17, MAX_OUTPUT = 1 << 16 };

struct traced_run {
    int writes;   /* write or writev calls on descriptor 1 */
    size_t bytes; /* what reached the pipe */
    int status;   /* the wait status at its end */
    char output[MAX_OUTPUT];
};

static int is_write_call(unsigned long long number) {
#if defined(SYS_writev)
    if (number == SYS_writev) {
        return 1;
    }
#endif
    return number == SYS_write;
}

/* Runs PROGRAM with QUERY_STRING=query under RLIMIT_AS=limit (0: none) and
 * follows its system calls to its end. Returns 0, or -1 when it could not be
 * started. */
static int trace_run(const char *program, const char *query, rlim_t limit, struct traced_run *run) {
    int output[2];
    if (pipe(output) != 0) {
        return -1;
    }
    /* The answers are small: the pipe holds the whole of each. */
    fcntl(output[0], F_SETFL, O_NONBLOCK);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        close(output[1]);
        if (limit != 0) {
            const struct rlimit cap = {limit, limit};
            setrlimit(RLIMIT_AS, &cap);
        }
        ptrace(PTRACE_TRACEME, 0, NULL, NULL);
        static char variable[MAX_LINE + 16];
        snprintf(variable, sizeof variable, "QUERY_STRING=%s", query);
        char *const argv[] = {(char *)program, NULL};
        char *const envp[] = {variable, NULL};
        execve(program, argv, envp);
        _exit(127);
    }
    close(output[1]);
    memset(run, 0, sizeof *run);
    int status = 0;
    int options_set = 0;
    for (;;) {
        if (waitpid(pid, &status, 0) != pid) {
            close(output[0]);
            return -1;
        }
        if (!WIFSTOPPED(status)) {
            break;
        }
        int deliver = 0;
        if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
            struct __ptrace_syscall_info info;
            memset(&info, 0, sizeof info);
            if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, (void *)sizeof info, &info) > 0 &&
                info.op == PTRACE_SYSCALL_INFO_ENTRY && is_write_call(info.entry.nr) &&
                info.entry.args[0] == STDOUT_FILENO) {
                ++run->writes;
            }
        } else if (WSTOPSIG(status) == SIGTRAP && !options_set) {
            /* The stop after the completed exec. */
            ptrace(PTRACE_SETOPTIONS, pid, NULL,
                   (void *)(uintptr_t)(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
            options_set = 1;
        } else {
            deliver = WSTOPSIG(status);
        }
        ptrace(PTRACE_SYSCALL, pid, NULL, (void *)(uintptr_t)deliver);
    }
    run->status = status;
    for (ssize_t got;
         run->bytes < sizeof run->output &&
         (got = read(output[0], run->output + run->bytes, sizeof run->output - run->bytes)) > 0;) {
        run->bytes += (size_t)got;
    }
    close(output[0]);
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s CASES PROGRAM\n", argv[0]);
        return 2;
    }
    FILE *cases = fopen(argv[1], "r");
    if (cases == NULL) {
        perror(argv[1]);
        return 2;
    }
    static char line[MAX_LINE];
    static struct traced_run run;
    int checked = 0;
    int failed = 0;
    while (fgets(line, sizeof line, cases) != NULL) {
        line[strcspn(line, "\n")] = '\0';
        char *query = strchr(line, '|');
        char *limit = query != NULL ? strchr(query + 1, '|') : NULL;
        if (limit == NULL) {
            continue;
        }
        *query++ = '\0';
        *limit++ = '\0';
        ++checked;
        if (trace_run(argv[2], query, strtoull(limit, NULL, 10), &run) != 0) {
            printf("FAIL: %s: not started: %s\n", line, strerror(errno));
            ++failed;
        } else if (run.writes != 1 || !WIFEXITED(run.status)) {
            printf("FAIL: %s: %d writes to standard output for %zu bytes, wait status 0x%x\n", line,
                   run.writes, run.bytes, run.status);
            ++failed;
        } else {
            printf("%s: %zu bytes in one call, exit %d\n", line, run.bytes,
                   WEXITSTATUS(run.status));
        }
    }
    fclose(cases);
    if (checked == 0) {
        printf("FAIL: no case in %s\n", argv[1]);
        return 1;
    }
    return failed == 0 ? 0 : 1;
}

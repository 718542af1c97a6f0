/* The first process of the test system booted under qemu-system: it mounts
 * what the tests read (/proc, /dev, /tmp), runs each line of /tests/plan in
 * turn with its output on the console, and powers the machine off.
 *
 * A plan line is NAME, then NAME=value words for the environment, then the
 * program's absolute path and its arguments, separated by spaces. For each
 * line it prints "=== run NAME" before and "=== end NAME: exit N" (or
 * "signal N") after; the last line is "=== done: R run, F failed". The host
 * decides by these lines alone: a kernel that panics or a program that hangs
 * never prints the last one.
 *
 * CGI_INIT_PANIC=1 on the kernel's command line (the kernel hands such words
 * to init as its environment) makes it return at once, so that the kernel
 * panics: the harness must then fail. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

enum { MAX_WORDS = 64, MAX_LINE = 4096 };

static void mount_or_say(const char *type, const char *target) {
    mkdir(target, 0755);
    if (mount(type, target, type, 0, NULL) != 0 && errno != EBUSY) {
        printf("=== init: mount %s on %s: %s\n", type, target, strerror(errno));
    }
}

/* Without /dev/console in the archive the kernel starts init with no
 * descriptors at all: open the console for 0, 1 and 2 once /dev is there. */
static void open_console(void) {
    if (fcntl(STDOUT_FILENO, F_GETFD) != -1) {
        return;
    }
    const int console = open("/dev/console", O_RDWR);
    if (console < 0) {
        return;
    }
    for (int fd = 0; fd <= 2; ++fd) {
        if (fd != console) {
            dup2(console, fd);
        }
    }
    if (console > 2) {
        close(console);
    }
}

/* Runs one plan line, already split into words; returns 1 when it passed. */
static int run_line(char **words, int count) {
    const char *name = words[0];
    char *environment[MAX_WORDS + 1];
    int variables = 0;
    int first = 1;
    while (first < count && words[first][0] != '/' && strchr(words[first], '=') != NULL) {
        environment[variables++] = words[first++];
    }
    environment[variables] = NULL;
    if (first == count) {
        printf("=== end %s: no program on its line\n", name);
        return 0;
    }
    printf("=== run %s\n", name);
    fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        execve(words[first], words + first, environment);
        printf("=== exec %s: %s\n", words[first], strerror(errno));
        _exit(127);
    }
    int status = 0;
    /* Orphans of the tests come back to init: wait for this child alone. */
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid < 0 || !WIFEXITED(status)) {
        printf("=== end %s: signal %d\n", name, pid < 0 ? 0 : WTERMSIG(status));
        return 0;
    }
    printf("=== end %s: exit %d\n", name, WEXITSTATUS(status));
    return WEXITSTATUS(status) == 0;
}

int main(void) {
    mount_or_say("devtmpfs", "/dev");
    open_console();
    mount_or_say("proc", "/proc");
    mount_or_say("tmpfs", "/tmp");
    setvbuf(stdout, NULL, _IOLBF, 0);

    if (getenv("CGI_INIT_PANIC") != NULL) {
        printf("=== init: returning at once, as asked: the kernel panics\n");
        return 1;
    }
    struct utsname system;
    uname(&system);
    printf("=== kernel %s %s %s, pages of %ld bytes\n", system.sysname, system.release,
           system.machine, sysconf(_SC_PAGESIZE));

    FILE *plan = fopen("/tests/plan", "r");
    int run = 0;
    int failed = 0;
    char line[MAX_LINE];
    while (plan != NULL && fgets(line, sizeof line, plan) != NULL) {
        char *words[MAX_WORDS + 1];
        int count = 0;
        for (char *word = strtok(line, " \n"); word != NULL && count < MAX_WORDS;
             word = strtok(NULL, " \n")) {
            words[count++] = word;
        }
        words[count] = NULL;
        if (count == 0 || words[0][0] == '#') {
            continue;
        }
        ++run;
        failed += !run_line(words, count);
    }
    if (plan == NULL) {
        printf("=== init: /tests/plan: %s\n", strerror(errno));
        ++failed;
    }
    printf("=== done: %d run, %d failed\n", run, failed);
    fflush(stdout);
    sync();
    reboot(RB_POWER_OFF);
    return 0;
}

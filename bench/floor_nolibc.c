/* The physical floor: a process that answers with no C library at all. Its
 * own _start makes the write and exit_group system calls (x86-64 Linux). */
static const char response[] = "Pragma: No-Cache\nContent-type: text/plain\n\nList: two words\n";

static long system_call(long number, long first, long second, long third) {
    long result;
    __asm__ volatile("syscall"
                     : "=a"(result)
                     : "a"(number), "D"(first), "S"(second), "d"(third)
                     : "rcx", "r11", "memory");
    return result;
}

void _start(void) {
    long written = system_call(1 /* write */, 1, (long)response, sizeof response - 1);
    system_call(231 /* exit_group */, written == sizeof response - 1 ? 0 : 1, 0, 0);
    for (;;) {
    }
}

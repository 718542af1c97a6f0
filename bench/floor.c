/* The glibc floor: the cheapest CGI answer a C program makes, one write of a
 * fixed response and exit. Linked with -static against glibc, it is one of
 * the two floors the benchmark measures the handler against. */
#include <unistd.h>

int main(void) {
    static const char response[] = "Pragma: No-Cache\nContent-type: text/plain\n\nList: two words\n";
    return write(STDOUT_FILENO, response, sizeof response - 1) == sizeof response - 1 ? 0 : 1;
}

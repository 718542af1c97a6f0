/* Prints the size of one parameter node, for the benchmark's memory target. */
#include "cgi/cgi.h"

#include <stdio.h>

int main(void) {
    printf("%zu\n", sizeof(struct cgi_param));
    return 0;
}

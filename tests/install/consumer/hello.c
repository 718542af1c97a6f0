/* A C program on the installed toolkit, built through pkg-config. */
#include "cgi/cgi.h"
#include <stdio.h>

int main(void) {
    cgi_read_request();
    const struct cgi_param *name = cgi_get_param("name", 1);
    fputs("Content-type: text/plain\n\n", stdout);
    printf("Hello, %s!\n", name ? name->value : "stranger");
    return 0;
}

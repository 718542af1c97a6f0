#include "cgi/cgi.h"

#include <cstdio>
#include <cstdlib>

void cgi_fatal(int status) {
    static const char message[] = "Fatal Error\n\n";
    fwrite(message, 1, sizeof message - 1, stdout);
    exit(status);
}

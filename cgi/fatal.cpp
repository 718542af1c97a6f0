#include "cgi/cgi.h"

#include <stdio.h>
#include <stdlib.h>

// A response of its own, with a status line the web server understands: bare
// text here would stand where a header belongs, and some servers would relay
// it as a successful answer.
void cgi_fatal(int status) {
    static const char response[] = "Status: 500 Internal Server Error\n"
                                   "Content-type: text/plain\n"
                                   "\n"
                                   "Fatal Error\n";
    fwrite(response, 1, sizeof response - 1, stdout);
    exit(status);
}

// A C++ program on the installed toolkit, built through find_package(cgi).
#include "cgi/cgi.h"

#include <cstdio>

int main() {
    cgi_read_request();
    const cgi_param *text = cgi_get_param("text", 2);
    char encoded[16];
    cgi_url_encode(encoded, sizeof encoded, text != nullptr ? text->value : "");
    printf("\n%s from %s\n", encoded, cgi_request.remote_addr);
    return 0;
}

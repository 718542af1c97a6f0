// The CGI program: one run answers one request with a header block and one
// line of plain text chosen by the "action" parameter.
#include "cgi/cgi.h"

#include <stdio.h>
#include <strings.h>

static const char pragma_header[] = "Pragma: No-Cache\n";
static const char content_type_header[] = "Content-type: text/plain\n\n";

static void write_text(const char *text, size_t length) {
    fwrite(text, 1, length, stdout);
}

static void print_headers() {
    write_text(pragma_header, sizeof pragma_header - 1);
    write_text(content_type_header, sizeof content_type_header - 1);
}

// Values go out as the decoded bytes, with no escaping: the body is plain text.
static void print_answer(const struct cgi_param *action, const struct cgi_param *data) {
    const char *data_value = data != nullptr ? data->value : "";
    if (action == nullptr) {
        static const char not_found[] = "Page not found.\n";
        write_text(not_found, sizeof not_found - 1);
    } else if (strcasecmp(action->value, "register") == 0) {
        printf("Register: %s\n", data_value);
    } else if (strcasecmp(action->value, "list") == 0) {
        printf("List: %s\n", data_value);
    } else {
        printf("Page %s not found.\n", action->value);
    }
}

int main() {
    cgi_read_request();
    print_headers();
    print_answer(cgi_get_param("action", 1), cgi_get_param("data", 1));
    // The web server reads success from the exit status, so an answer that
    // did not reach standard output (closed, full disk, I/O error) must not
    // end with 0. A reader gone early still ends the program by SIGPIPE.
    if (fflush(stdout) != 0 || ferror(stdout)) {
        return CGI_STATUS_OUTPUT_FAILED;
    }
    return 0;
}

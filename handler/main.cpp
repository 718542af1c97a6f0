// The CGI program: one run answers one request with a header block and one
// line of plain text chosen by the "action" parameter.
#include "cgi/cgi.h"
#include "handler/confine.h"
#include "handler/relro.h"

#include <stdio.h>
#include <strings.h>

static const char pragma_header[] = "Pragma: No-Cache\n";
static const char content_type_header[] = "Content-type: text/plain\n\n";

// The longest answer: the header block, then "Page %s not found.\n" around an
// action value of CGI_TEXT_SIZE - 2 bytes.
enum {
    LONGEST_ANSWER = sizeof pragma_header - 1 + sizeof content_type_header - 1 +
                     sizeof "Page  not found.\n" - 1 + CGI_TEXT_SIZE - 2
};

// Standard output is fully buffered in a buffer that holds the longest answer,
// so the answer leaves in one write at the end: a pipe never holds half of it,
// and the C library neither probes the descriptor nor allocates a buffer.
static char output_buffer[2048];
static_assert(sizeof output_buffer >= LONGEST_ANSWER, "an answer must fit the output buffer");

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
    // Confined first, so that nothing the request brings runs unconfined.
    confine_process();
    protect_relro();
    setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
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

// The CGI program: one run answers one request with a header block and one
// line of plain text chosen by the "action" parameter. It prepares the
// request, confines itself, decodes, and answers; once confined it may only
// read, write and exit, so the answer is formatted in memory and leaves by
// write(2).
#include "cgi/cgi.h"
#include "handler/confine.h"
#include "handler/relro.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

static const char pragma_header[] = "Pragma: No-Cache\n";
static const char content_type_header[] = "Content-type: text/plain\n\n";

// The longest answer: the header block, then "Page %s not found.\n" around an
// action value of CGI_TEXT_SIZE - 2 bytes.
enum {
    LONGEST_ANSWER = sizeof pragma_header - 1 + sizeof content_type_header - 1 +
                     sizeof "Page  not found.\n" - 1 + CGI_TEXT_SIZE - 2
};

struct answer {
    char bytes[LONGEST_ANSWER];
    size_t length;
};

// Appends at most what is left of the buffer: every answer fits, by the
// size above, and nothing can write past it.
static void append(struct answer &answer, const char *text) {
    const size_t room = sizeof answer.bytes - answer.length;
    const size_t length = strnlen(text, room);
    memcpy(answer.bytes + answer.length, text, length);
    answer.length += length;
}

static void print_headers(struct answer &answer) {
    append(answer, pragma_header);
    append(answer, content_type_header);
}

// Values go out as the decoded bytes, with no escaping: the body is plain text.
static void print_answer(struct answer &answer, const struct cgi_param *action,
                         const struct cgi_param *data) {
    const char *data_value = data != nullptr ? data->value : "";
    if (action == nullptr) {
        append(answer, "Page not found.\n");
    } else if (strcasecmp(action->value, "register") == 0) {
        append(answer, "Register: ");
        append(answer, data_value);
        append(answer, "\n");
    } else if (strcasecmp(action->value, "list") == 0) {
        append(answer, "List: ");
        append(answer, data_value);
        append(answer, "\n");
    } else {
        append(answer, "Page ");
        append(answer, action->value);
        append(answer, " not found.\n");
    }
}

// One write in the ordinary case, so that a pipe never holds half an answer;
// more only when the kernel takes part of it.
static bool write_all(const char *bytes, size_t length) {
    while (length > 0) {
        const ssize_t written = write(STDOUT_FILENO, bytes, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// Standard output's stdio buffer, for the toolkit's fatal response (72
// bytes) alone: fully buffered, it leaves in one write, and the C library
// neither probes the descriptor nor allocates a buffer.
static char fatal_response_buffer[128];

static struct answer answer;

int main() {
    protect_relro();
    setvbuf(stdout, fatal_response_buffer, _IOFBF, sizeof fatal_response_buffer);
    cgi_prepare_request();
    confine_process();
    cgi_decode_request();
    print_headers(answer);
    print_answer(answer, cgi_get_param("action", 1), cgi_get_param("data", 1));
    // The web server reads success from the exit status, so an answer that
    // did not reach standard output (closed, full disk, I/O error) must not
    // end with 0. A reader gone early still ends the program by SIGPIPE.
    end_process(write_all(answer.bytes, answer.length) ? 0 : CGI_STATUS_OUTPUT_FAILED);
}

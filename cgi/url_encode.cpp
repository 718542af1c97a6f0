#include "cgi/cgi.h"

#include "cgi/bounded_copy.h"

#include <stdio.h>
#include <string.h>

// Letters and digits of the POSIX locale, whatever locale the caller has set.
static bool is_ascii_alphanumeric(unsigned char byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
           (byte >= 'A' && byte <= 'Z');
}

char *cgi_url_encode(char *out, int out_size, const char *text) {
    char input[CGI_TEXT_SIZE];
    // One below the buffer, like every kept text: at most 1022 bytes are encoded.
    cgi_copy_bounded(input, sizeof input - 1, text);

    char result[CGI_TEXT_SIZE];
    const size_t result_limit = sizeof result - 1;
    size_t result_length = 0;
    result[0] = '\0';

    for (const char *cursor = input; *cursor != '\0'; ++cursor) {
        const unsigned char byte = static_cast<unsigned char>(*cursor);
        char piece[4];
        if (is_ascii_alphanumeric(byte)) {
            piece[0] = static_cast<char>(byte);
            piece[1] = '\0';
        } else {
            snprintf(piece, sizeof piece, "%%%02x", byte);
        }
        printf("[%s]", piece);

        // A piece that does not fit whole is cut; a full result takes no more.
        size_t piece_length = strlen(piece);
        const size_t room = result_limit - result_length;
        if (piece_length > room) {
            piece_length = room;
        }
        memcpy(result + result_length, piece, piece_length);
        result_length += piece_length;
        result[result_length] = '\0';
    }

    if (out_size > 0) {
        cgi_copy_bounded(out, static_cast<size_t>(out_size), result);
    }
    return out;
}

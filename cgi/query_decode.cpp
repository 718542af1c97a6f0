#include "cgi/query_decode.h"

#include "cgi/bounded_copy.h"
#include "cgi/cgi.h"

#include <string.h>

namespace {

// The pair being decoded: a name half and a value half, each holding up to
// CGI_TEXT_SIZE - 1 bytes and a terminator. Bytes past that are dropped, so a
// long name or value keeps its first bytes and never overruns its half.
struct decode_scratch {
    char halves[2][CGI_TEXT_SIZE];
    int current; // NAME_HALF or VALUE_HALF
    size_t position;
    struct cgi_param *nodes; // the block that stored pairs go into, in order
    size_t capacity;
    size_t stored;
};

enum { NAME_HALF = 0, VALUE_HALF = 1 };

// Hex digits of the POSIX locale, whatever locale the caller has set.
int hex_digit_value(unsigned char byte) {
    if (byte >= '0' && byte <= '9') {
        return byte - '0';
    }
    if (byte >= 'a' && byte <= 'f') {
        return byte - 'a' + 10;
    }
    if (byte >= 'A' && byte <= 'F') {
        return byte - 'A' + 10;
    }
    return -1;
}

// The byte that the escape at `percent` denotes, or -1 when the '%' there is
// not followed, inside the text, by two hex digits.
int escaped_byte(const char *text, size_t percent, size_t length) {
    if (percent + 2 >= length) {
        return -1;
    }
    const int high = hex_digit_value(static_cast<unsigned char>(text[percent + 1]));
    const int low = hex_digit_value(static_cast<unsigned char>(text[percent + 2]));
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

void write_byte(decode_scratch &scratch, char byte) {
    if (scratch.position < CGI_TEXT_SIZE - 1) {
        scratch.halves[scratch.current][scratch.position] = byte;
        ++scratch.position;
    }
}

void end_half(decode_scratch &scratch) {
    scratch.halves[scratch.current][scratch.position] = '\0';
}

// The block was sized by cgi_count_params, which never counts fewer pairs
// than are stored; the check keeps a block sized otherwise from overrunning.
void append_param(decode_scratch &scratch) {
    if (scratch.stored >= scratch.capacity) {
        return;
    }
    struct cgi_param *node = &scratch.nodes[scratch.stored];
    // A half may hold 1023 bytes; the node keeps 1022, like every kept text.
    cgi_copy_bounded(node->name, sizeof node->name - 1, scratch.halves[NAME_HALF]);
    cgi_copy_bounded(node->value, sizeof node->value - 1, scratch.halves[VALUE_HALF]);
    node->next = nullptr;
    if (scratch.stored > 0) {
        scratch.nodes[scratch.stored - 1].next = node;
    }
    ++scratch.stored;
}

// A pair is stored only when both halves are non-empty; a half that starts
// with a decoded NUL counts as empty. Either way the scratch starts afresh.
void finish_pair(decode_scratch &scratch) {
    if (scratch.halves[NAME_HALF][0] != '\0' && scratch.halves[VALUE_HALF][0] != '\0') {
        append_param(scratch);
    }
    scratch.halves[NAME_HALF][0] = '\0';
    scratch.halves[VALUE_HALF][0] = '\0';
}

} // namespace

// The decoder's own separator rules on the raw bytes: '=' ends a name, '&'
// ends a value, each only in its own half. An escape's two hex digits are
// never a separator, so skipping them or not changes nothing here.
size_t cgi_count_params(const char *query_string) {
    size_t count = 0;
    bool in_value = false;
    bool has_name = false;
    bool has_value = false;
    for (const char *byte = query_string; *byte != '\0'; ++byte) {
        if (!in_value && *byte == '=') {
            in_value = true;
        } else if (in_value && *byte == '&') {
            count += has_name && has_value ? 1 : 0;
            in_value = has_name = has_value = false;
        } else if (in_value) {
            has_value = true;
        } else {
            has_name = true;
        }
    }
    return count + (has_name && has_value ? 1 : 0);
}

size_t cgi_decode_query_string(const char *query_string, struct cgi_param *nodes, size_t capacity) {
    decode_scratch scratch;
    scratch.halves[NAME_HALF][0] = '\0';
    scratch.halves[VALUE_HALF][0] = '\0';
    scratch.current = NAME_HALF;
    scratch.position = 0;
    scratch.nodes = nodes;
    scratch.capacity = nodes != nullptr ? capacity : 0;
    scratch.stored = 0;
    cgi_request.params = nullptr;
    if (query_string[0] == '\0') {
        return 0;
    }

    const size_t length = strlen(query_string);
    for (size_t i = 0; query_string[i] != '\0'; ++i) {
        const char byte = query_string[i];
        // Separators are recognised on the raw byte, each only in its own half.
        if (scratch.current == NAME_HALF && byte == '=') {
            end_half(scratch);
            scratch.current = VALUE_HALF;
            scratch.position = 0;
        } else if (scratch.current == VALUE_HALF && byte == '&') {
            end_half(scratch);
            scratch.current = NAME_HALF;
            scratch.position = 0;
            finish_pair(scratch);
        } else if (byte == '+') {
            write_byte(scratch, ' ');
        } else {
            const int escaped = byte == '%' ? escaped_byte(query_string, i, length) : -1;
            if (escaped >= 0) {
                write_byte(scratch, static_cast<char>(escaped));
                i += 2;
            } else {
                // A '%' without two hex digits after it is kept as an ordinary byte.
                write_byte(scratch, byte);
            }
        }
    }
    end_half(scratch);
    finish_pair(scratch);
    cgi_request.params = scratch.stored > 0 ? &nodes[0] : nullptr;
    return scratch.stored;
}

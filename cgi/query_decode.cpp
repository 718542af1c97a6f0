#include "cgi/query_decode.h"

#include "cgi/cgi.h"

#include <string.h>

namespace {

// The pair being decoded goes straight into the next free node of the block:
// a stored pair keeps it, a dropped one leaves it to the next pair. Once the
// block is full, the bytes of a further pair are skipped, since it could not
// be stored; a block sized by cgi_count_params is never full before the end.
struct decoder {
    struct cgi_param *nodes;
    size_t capacity;
    size_t stored;
    bool in_value;
    char *half;      // the name or value being decoded, or null when skipped
    size_t position; // bytes kept in it
    bool ended;      // a decoded NUL ended it: later bytes are dropped
};

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

struct cgi_param *free_node(const decoder &decoder) {
    return decoder.stored < decoder.capacity ? &decoder.nodes[decoder.stored] : nullptr;
}

void start_half(decoder &decoder, bool in_value) {
    struct cgi_param *node = free_node(decoder);
    decoder.in_value = in_value;
    decoder.half = node == nullptr ? nullptr : in_value ? node->value : node->name;
    decoder.position = 0;
    decoder.ended = false;
}

// A name or value keeps its first CGI_TEXT_SIZE - 2 bytes, up to the first
// decoded NUL; the bytes past that are dropped, so it never overruns.
void write_byte(decoder &decoder, char byte) {
    if (decoder.half == nullptr || decoder.ended || decoder.position >= CGI_TEXT_SIZE - 2) {
        return;
    }
    decoder.half[decoder.position] = byte;
    ++decoder.position;
    decoder.ended = byte == '\0';
}

void end_half(decoder &decoder) {
    if (decoder.half != nullptr) {
        decoder.half[decoder.position] = '\0';
    }
}

// Both halves of the free node start empty, so that a pair without '=' is
// never stored with the value of a pair dropped before it.
void start_pair(decoder &decoder) {
    struct cgi_param *node = free_node(decoder);
    if (node != nullptr) {
        node->name[0] = '\0';
        node->value[0] = '\0';
    }
    start_half(decoder, false);
}

// A pair is stored only when its name and value are both non-empty; a half
// that starts with a decoded NUL counts as empty.
void finish_pair(decoder &decoder) {
    end_half(decoder);
    struct cgi_param *node = free_node(decoder);
    if (node == nullptr || node->name[0] == '\0' || node->value[0] == '\0') {
        return;
    }
    node->next = nullptr;
    if (decoder.stored > 0) {
        decoder.nodes[decoder.stored - 1].next = node;
    }
    ++decoder.stored;
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
    decoder decoder;
    decoder.nodes = nodes;
    decoder.capacity = nodes != nullptr ? capacity : 0;
    decoder.stored = 0;
    cgi_request.params = nullptr;
    if (query_string[0] == '\0') {
        return 0;
    }

    start_pair(decoder);
    const size_t length = strlen(query_string);
    for (size_t i = 0; query_string[i] != '\0'; ++i) {
        const char byte = query_string[i];
        // Separators are recognised on the raw byte, each only in its own half.
        if (!decoder.in_value && byte == '=') {
            end_half(decoder);
            start_half(decoder, true);
        } else if (decoder.in_value && byte == '&') {
            finish_pair(decoder);
            start_pair(decoder);
        } else if (byte == '+') {
            write_byte(decoder, ' ');
        } else {
            const int escaped = byte == '%' ? escaped_byte(query_string, i, length) : -1;
            if (escaped >= 0) {
                write_byte(decoder, static_cast<char>(escaped));
                i += 2;
            } else {
                // A '%' without two hex digits after it is kept as an ordinary byte.
                write_byte(decoder, byte);
            }
        }
    }
    finish_pair(decoder);
    cgi_request.params = decoder.stored > 0 ? &nodes[0] : nullptr;
    return decoder.stored;
}

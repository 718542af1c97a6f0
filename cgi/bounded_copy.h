// Internal to the toolkit: the one way it copies a text into a fixed buffer.
#ifndef CGI_BOUNDED_COPY_H
#define CGI_BOUNDED_COPY_H

#include <stddef.h>
#include <string.h>

// Copies `text` into `buffer` keeping at most `limit` - 1 bytes, always adds
// the terminating NUL, and cuts longer texts without notice. A `limit` of 0
// writes nothing. Reads `text` no further than it copies.
inline void cgi_copy_bounded(char *buffer, size_t limit, const char *text) {
    if (limit == 0) {
        return;
    }
    size_t length = strnlen(text, limit - 1);
    memcpy(buffer, text, length);
    buffer[length] = '\0';
}

#endif

#include "cgi/cgi.h"

// Compares whole texts folding only the ASCII letters, so the answer does not
// depend on the locale a caller may have set.
static bool names_match(const char *left, const char *right) {
    for (;; ++left, ++right) {
        unsigned char a = static_cast<unsigned char>(*left);
        unsigned char b = static_cast<unsigned char>(*right);
        if (a >= 'A' && a <= 'Z') {
            a = static_cast<unsigned char>(a - 'A' + 'a');
        }
        if (b >= 'A' && b <= 'Z') {
            b = static_cast<unsigned char>(b - 'A' + 'a');
        }
        if (a != b) {
            return false;
        }
        if (a == '\0') {
            return true;
        }
    }
}

struct cgi_param *cgi_get_param(const char *name, int occurrence) {
    int matches = 0;
    for (struct cgi_param *node = cgi_request.params; node != nullptr; node = node->next) {
        if (names_match(node->name, name)) {
            ++matches;
            if (matches >= occurrence) {
                return node;
            }
        }
    }
    return nullptr;
}

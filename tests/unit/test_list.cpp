#include "test_list.h"

#include "cgi/cgi.h"
#include "cgi/query_decode.h"

#include <cstdlib>

void clear_param_list() {
    struct cgi_param *node = cgi_request.params;
    while (node != nullptr) {
        struct cgi_param *next = node->next;
        free(node);
        node = next;
    }
    cgi_request.params = nullptr;
}

Pairs stored_pairs() {
    Pairs pairs;
    for (const struct cgi_param *node = cgi_request.params; node != nullptr; node = node->next) {
        pairs.emplace_back(node->name, node->value);
    }
    return pairs;
}

Pairs decode(const std::string &query) {
    clear_param_list();
    cgi_decode_query_string(query.c_str());
    return stored_pairs();
}

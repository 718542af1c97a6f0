#include "test_list.h"

#include "cgi/cgi.h"
#include "cgi/query_decode.h"

Pairs stored_pairs() {
    Pairs pairs;
    for (const struct cgi_param *node = cgi_request.params; node != nullptr; node = node->next) {
        pairs.emplace_back(node->name, node->value);
    }
    return pairs;
}

Pairs decode(const std::string &query) {
    static std::vector<struct cgi_param> block;
    block.assign(cgi_count_params(query.c_str()), cgi_param{});
    cgi_decode_query_string(query.c_str(), block.data(), block.size());
    return stored_pairs();
}

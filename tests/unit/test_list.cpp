#include "test_list.h"

#include "cgi/cgi.h"
#include "cgi/query_decode.h"
#include "../recorded_requests.h"

#include <stdlib.h>

Pairs stored_pairs() {
    Pairs pairs;
    for (const struct cgi_param *node = cgi_request.params; node != nullptr; node = node->next) {
        pairs.emplace_back(node->name, node->value);
    }
    return pairs;
}

Pairs decode(const std::string &query) {
    record_request({"QUERY_STRING=" + query});
    static std::vector<struct cgi_param> block;
    block.assign(cgi_count_params(query.c_str()), cgi_param{});
    cgi_decode_query_string(query.c_str(), block.data(), block.size());
    return stored_pairs();
}

void record_environment() {
    std::vector<std::string> environment;
    for (const char *variable : {"SERVER_NAME", "SCRIPT_NAME", "REMOTE_ADDR", "QUERY_STRING"}) {
        if (const char *value = getenv(variable)) {
            environment.push_back(std::string(variable) + "=" + value);
        }
    }
    record_request(environment);
}

void read_request() {
    record_environment();
    cgi_read_request();
}

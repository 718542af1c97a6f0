// Feeds arbitrary bytes to cgi_read_request as QUERY_STRING and checks the
// captured copy and the decoded list against a plain model, and the count of
// nodes the block was sized by against what decoding stored.
#include "model.h"

#include "cgi/cgi.h"
#include "cgi/query_decode.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An environment variable cannot hold a NUL byte.
    std::string query;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0) {
            query += static_cast<char>(data[i]);
        }
    }
    setenv("QUERY_STRING", query.c_str(), 1);
    cgi_read_request();

    const std::string kept = query.substr(0, CGI_QUERY_SIZE - 2);
    if (kept != cgi_request.query_string) {
        abort(); // the copy must be the first 65534 characters
    }
    check_param_list(model_decode(kept));

    // Only a decoded NUL at the start of a name or value makes the count
    // exceed what is stored; it may never fall below it.
    size_t stored = 0;
    for (const struct cgi_param *node = cgi_request.params; node != nullptr; node = node->next) {
        ++stored;
    }
    const size_t count = cgi_count_params(cgi_request.query_string);
    if (count < stored || (kept.find("%00") == std::string::npos && count != stored)) {
        abort();
    }
    return 0;
}

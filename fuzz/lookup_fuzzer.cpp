// Decodes a query from the input, looks up a name taken from the input with
// an occurrence taken from the input, and checks the answer against a count of
// matching nodes; then checks that every stored node can be found.
#include "model.h"
#include "test_list.h"

#include "cgi/cgi.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The occurrence-th node whose name matches, counted the plain way.
const struct cgi_param *model_lookup(const std::string &name, int occurrence) {
    const int wanted = occurrence < 1 ? 1 : occurrence;
    int matches = 0;
    for (const struct cgi_param *node = cgi_request.params; node != nullptr; node = node->next) {
        if (model_names_match(node->name, name) && ++matches == wanted) {
            return node;
        }
    }
    return nullptr;
}

void check_lookup(const std::string &name, int occurrence) {
    const struct cgi_param *found = cgi_get_param(name.c_str(), occurrence);
    if (found != model_lookup(name, occurrence)) {
        abort();
    }
    if (found != nullptr && !model_names_match(found->name, name)) {
        abort();
    }
}

} // namespace

// Input: one byte of signed occurrence, the name up to the first '\n', then
// the query string.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const int occurrence = static_cast<int8_t>(data[0]);
    const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const size_t newline = rest.find('\n');
    const std::string name = rest.substr(0, newline).c_str();
    const std::string query = newline == std::string::npos ? "" : rest.substr(newline + 1).c_str();

    decode(query);
    check_param_list(model_decode(query));
    check_lookup(name, occurrence);
    int position = 0;
    for (const struct cgi_param *node = cgi_request.params; node != nullptr; node = node->next) {
        check_lookup(node->name, ++position % 4 - 1);
        check_lookup(node->name, position);
    }
    return 0;
}

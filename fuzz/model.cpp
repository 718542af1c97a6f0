#include "model.h"

#include "cgi/cgi.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const size_t kept_text = 1022;

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string kept(const std::string &half) {
    return half.substr(0, half.find('\0')).substr(0, kept_text);
}

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

[[noreturn]] void fail(const char *what) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
}

} // namespace

ModelPairs model_decode(const std::string &query) {
    ModelPairs pairs;
    std::string name, value;
    bool in_value = false;
    auto finish = [&] {
        if (!kept(name).empty() && !kept(value).empty()) {
            pairs.emplace_back(kept(name), kept(value));
        }
        name.clear();
        value.clear();
    };
    for (size_t i = 0; i < query.size(); ++i) {
        const char c = query[i];
        std::string &half = in_value ? value : name;
        if (!in_value && c == '=') {
            in_value = true;
        } else if (in_value && c == '&') {
            in_value = false;
            finish();
        } else if (c == '+') {
            half += ' ';
        } else if (c == '%' && i + 2 < query.size() && hex_value(query[i + 1]) >= 0 &&
                   hex_value(query[i + 2]) >= 0) {
            half += static_cast<char>(hex_value(query[i + 1]) * 16 + hex_value(query[i + 2]));
            i += 2;
        } else {
            half += c;
        }
    }
    finish();
    return pairs;
}

bool model_names_match(const std::string &left, const std::string &right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t i = 0; i < left.size(); ++i) {
        if (ascii_lower(left[i]) != ascii_lower(right[i])) {
            return false;
        }
    }
    return true;
}

void model_url_encode(const std::string &text, std::string *encoding, std::string *trace) {
    const std::string input = text.substr(0, text.find('\0')).substr(0, kept_text);
    encoding->clear();
    trace->clear();
    for (unsigned char byte : input) {
        std::string piece;
        if ((byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
            (byte >= 'A' && byte <= 'Z')) {
            piece = std::string(1, static_cast<char>(byte));
        } else {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02x", byte);
            piece = hex;
        }
        *encoding += piece;
        *trace += "[" + piece + "]";
    }
}

void check_param_list(const ModelPairs &expected) {
    size_t index = 0;
    for (const struct cgi_param *node = cgi_request.params; node != nullptr; node = node->next) {
        const size_t name_length = strnlen(node->name, sizeof node->name);
        const size_t value_length = strnlen(node->value, sizeof node->value);
        if (name_length < 1 || name_length > kept_text) {
            fail("a stored name is empty or longer than 1022 bytes");
        }
        if (value_length < 1 || value_length > kept_text) {
            fail("a stored value is empty or longer than 1022 bytes");
        }
        if (index >= expected.size()) {
            fail("the list holds more pairs than the query");
        }
        if (expected[index].first != node->name || expected[index].second != node->value) {
            fail("a stored pair differs from the query's, or stands out of query order");
        }
        ++index;
    }
    if (index != expected.size()) {
        fail("the list holds fewer pairs than the query");
    }
}

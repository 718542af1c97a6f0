// Plain, unbounded models of what the toolkit computes, written straight from
// its rules with std::string, for the fuzz targets to compare against.
#ifndef FUZZ_MODEL_H
#define FUZZ_MODEL_H

#include <string>
#include <utility>
#include <vector>

using ModelPairs = std::vector<std::pair<std::string, std::string>>;

// The pairs a query string decodes to, in query order.
ModelPairs model_decode(const std::string &query);

// ASCII-only case-insensitive equality of whole texts.
bool model_names_match(const std::string &left, const std::string &right);

// The full percent-encoding of the first 1022 bytes of `text` (up to its first
// NUL), uncut, and the trace written meanwhile.
void model_url_encode(const std::string &text, std::string *encoding, std::string *trace);

// Checks that every stored node has a name and value of 1 to 1022 bytes
// with no NUL inside, and that the list equals `expected`. Aborts otherwise.
void check_param_list(const ModelPairs &expected);

#endif

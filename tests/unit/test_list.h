// Helpers for tests that drive the toolkit's parameter list directly.
#ifndef TESTS_UNIT_TEST_LIST_H
#define TESTS_UNIT_TEST_LIST_H

#include <string>
#include <utility>
#include <vector>

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Frees every node of cgi_request.params and leaves the list empty. The
// toolkit itself never frees nodes; tests do, to start each case afresh.
void clear_param_list();

// Empties the list, decodes `query` into it and returns the stored pairs in
// list order.
Pairs decode(const std::string &query);

// The stored pairs of cgi_request.params, in list order.
Pairs stored_pairs();

#endif

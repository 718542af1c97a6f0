// Helpers for tests that drive the toolkit's decoder and parameter list
// directly.
#ifndef TESTS_UNIT_TEST_LIST_H
#define TESTS_UNIT_TEST_LIST_H

#include <string>
#include <utility>
#include <vector>

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Decodes `query` into a block of the helper's own, sized as the toolkit
// sizes it (cgi_count_params), makes it cgi_request.params and returns the
// stored pairs in list order. The next call reuses the block. The query is
// recorded as a request when CGI_TEST_RECORD asks for it
// (tests/recorded_requests.h).
Pairs decode(const std::string &query);

// Records this process's four CGI variables as a request when
// CGI_TEST_RECORD asks for it.
void record_environment();

// cgi_read_request on this process's environment, whose four variables are
// recorded as a request when CGI_TEST_RECORD asks for it.
void read_request();

// The stored pairs of cgi_request.params, in list order.
Pairs stored_pairs();

#endif

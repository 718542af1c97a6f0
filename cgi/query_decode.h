// Internal to the toolkit: query-string decoding, apart from the environment
// so that it can be driven with plain texts.
#ifndef CGI_QUERY_DECODE_H
#define CGI_QUERY_DECODE_H

#include <stddef.h>

struct cgi_param;

// The number of nodes that decoding `query_string` can store, found by its
// separators alone: pairs whose raw name and raw value are both non-empty.
// Never below what cgi_decode_query_string stores, and equal to it unless a
// name or value starts with a decoded NUL ("%00"), which drops its pair.
size_t cgi_count_params(const char *query_string);

// Decodes `query_string` into the first nodes of `nodes`, a block of
// `capacity` nodes, links them in query order and makes cgi_request.params
// the first (null when none is stored). Returns how many it stored. A pair
// beyond `capacity` is dropped, never written past the block. Allocates
// nothing and makes no system call.
size_t cgi_decode_query_string(const char *query_string, struct cgi_param *nodes, size_t capacity);

#endif

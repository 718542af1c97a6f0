// Internal to the toolkit: query-string decoding, apart from the environment
// so that it can be driven with plain texts.
#ifndef CGI_QUERY_DECODE_H
#define CGI_QUERY_DECODE_H

// Decodes `query_string` into name/value pairs and links each stored pair
// behind the last node of cgi_request.params, in query order. Calls
// cgi_fatal(CGI_STATUS_OUT_OF_MEMORY) when a node cannot be allocated.
void cgi_decode_query_string(const char *query_string);

#endif

/* The request record's layout as a caller sees it, compiled as C or C++: the
 * sizes of these arrays, read from the object file, are its size, the
 * offset of its request time and that time's size. */
#include "cgi/cgi.h"
#include <stddef.h>

char layout_size[sizeof(struct cgi_request)];
char layout_time_offset[offsetof(struct cgi_request, request_time)];
char layout_time_size[sizeof(time_t)];

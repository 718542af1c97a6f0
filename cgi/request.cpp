#include "cgi/cgi.h"

#include "cgi/bounded_copy.h"
#include "cgi/query_decode.h"

#include <stdint.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

struct cgi_request cgi_request;

// The nodes of the request, allocated by cgi_prepare_request in one block.
static struct cgi_param *node_block;
static size_t node_capacity;

// The one place the toolkit reads the environment. A copy is bounded one below
// the buffer size, so a kept text is at most size - 2 bytes long.
static void capture_variable(char *buffer, size_t size, const char *variable) {
    const char *value = getenv(variable);
    cgi_copy_bounded(buffer, size - 1, value != nullptr ? value : "");
}

// A process that reads the clock once pays more for the vDSO than for a system
// call: finding the vDSO's function and reading its data page cost two page
// faults. The call is made directly where struct timespec is the kernel's
// (64-bit Linux); elsewhere time() does it.
static time_t current_time(void) {
#if defined(__linux__) && defined(__LP64__) && defined(SYS_clock_gettime)
    struct timespec now;
    if (syscall(SYS_clock_gettime, CLOCK_REALTIME, &now) == 0) {
        return now.tv_sec;
    }
#endif
    return time(nullptr);
}

// One block for every node the query string can yield: one allocation, and
// none left for decoding to make.
static void allocate_nodes(size_t count) {
    free(node_block);
    node_block = nullptr;
    node_capacity = 0;
    if (count == 0) {
        return;
    }
    if (count > SIZE_MAX / sizeof *node_block) {
        cgi_fatal(CGI_STATUS_OUT_OF_MEMORY);
    }
    node_block = static_cast<struct cgi_param *>(malloc(count * sizeof *node_block));
    if (node_block == nullptr) {
        cgi_fatal(CGI_STATUS_OUT_OF_MEMORY);
    }
    node_capacity = count;
}

void cgi_prepare_request(void) {
    capture_variable(cgi_request.server_name, sizeof cgi_request.server_name, "SERVER_NAME");
    capture_variable(cgi_request.script_name, sizeof cgi_request.script_name, "SCRIPT_NAME");
    capture_variable(cgi_request.remote_addr, sizeof cgi_request.remote_addr, "REMOTE_ADDR");
    capture_variable(cgi_request.query_string, sizeof cgi_request.query_string, "QUERY_STRING");
    cgi_request.request_time = current_time();
    cgi_request.params = nullptr;
    allocate_nodes(cgi_count_params(cgi_request.query_string));
}

void cgi_decode_request(void) {
    cgi_decode_query_string(cgi_request.query_string, node_block, node_capacity);
}

void cgi_read_request(void) {
    cgi_prepare_request();
    cgi_decode_request();
}

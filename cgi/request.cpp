#include "cgi/cgi.h"

#include "cgi/bounded_copy.h"
#include "cgi/query_decode.h"

#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
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

#if defined(__linux__) && !defined(MADV_POPULATE_WRITE)
#define MADV_POPULATE_WRITE 23 // Linux 5.14; older C library headers lack it
#endif

// The size of a transparent huge page on x86-64 and 4 KiB-page arm64.
static const size_t huge_page_size = 2u << 20;

// Maps `size` bytes with their pages already in place: one system call or
// three instead of a page fault for each page that decoding touches (a node
// is 2 KiB, so 16,000 pairs touch 8,000 pages). From the size of a huge page
// up, the block asks for huge pages first, which on a virtual machine spare
// most of the cost of touching each new page; where the kernel offers none,
// or cannot populate, the pages come by faults as they are touched.
static void *map_block(size_t size) {
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#if defined(MAP_POPULATE)
    if (size < huge_page_size) {
        return mmap(nullptr, size, PROT_READ | PROT_WRITE, flags | MAP_POPULATE, -1, 0);
    }
#endif
    void *block = mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
#if defined(MADV_HUGEPAGE) && defined(MADV_POPULATE_WRITE)
    if (block != MAP_FAILED) {
        madvise(block, size, MADV_HUGEPAGE);
        madvise(block, size, MADV_POPULATE_WRITE);
    }
#endif
    return block;
}

// One block for every node the query string can yield: decoding then needs
// nothing more from the system.
static void allocate_nodes(size_t count) {
    if (node_block != nullptr) {
        munmap(node_block, node_capacity * sizeof *node_block);
    }
    node_block = nullptr;
    node_capacity = 0;
    if (count == 0) {
        return;
    }
    if (count > SIZE_MAX / sizeof *node_block) {
        cgi_fatal(CGI_STATUS_OUT_OF_MEMORY);
    }
    void *block = map_block(count * sizeof *node_block);
    if (block == MAP_FAILED) {
        cgi_fatal(CGI_STATUS_OUT_OF_MEMORY);
    }
    node_block = static_cast<struct cgi_param *>(block);
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

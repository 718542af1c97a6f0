#include "cgi/cgi.h"

#include "cgi/bounded_copy.h"
#include "cgi/query_decode.h"

#include <errno.h>
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

// Writes to every page of the block, so that each is given now, by a fault,
// rather than later. The smallest page size of the architectures served
// (4 KiB) is a step that reaches every page of any larger size too.
static void touch_pages(void *block, size_t size) {
    volatile char *bytes = static_cast<volatile char *>(block);
    for (size_t offset = 0; offset < size; offset += 4096) {
        bytes[offset] = 0;
    }
}

// Puts the pages of the block in place, and returns false when the kernel
// cannot give them. MADV_POPULATE_WRITE reports what MAP_POPULATE cannot: a
// process confined with pages still missing would fault them in later and,
// out of memory, hang or die where it can no longer answer. A kernel without
// it (before 5.14) or a host's filter that refuses madvise answers EINVAL,
// ENOSYS or EPERM: the pages are then touched one by one, still before the
// confinement.
static bool populate(void *block, size_t size) {
#if defined(MADV_POPULATE_WRITE)
    for (;;) {
        if (madvise(block, size, MADV_POPULATE_WRITE) == 0) {
            return true;
        }
        if (errno != EINTR) {
            break;
        }
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EPERM) {
        return false; // ENOMEM, EFAULT or EHWPOISON: memory the kernel cannot give
    }
#endif
    touch_pages(block, size);
    return true;
}

// Maps `size` bytes with their pages already in place: two system calls, or
// three, instead of a page fault for each page that decoding touches (a node
// is 2 KiB, so 16,000 pairs touch 8,000 pages). From the size of a huge page
// up, the block asks for huge pages first, which on a virtual machine spare
// most of the cost of touching each new page. Returns MAP_FAILED when the
// memory cannot be had.
static void *map_block(size_t size) {
    void *block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        return MAP_FAILED;
    }
#if defined(MADV_HUGEPAGE)
    if (size >= huge_page_size) {
        madvise(block, size, MADV_HUGEPAGE); // advice: small pages serve as well
    }
#endif
    if (!populate(block, size)) {
        munmap(block, size);
        return MAP_FAILED;
    }
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

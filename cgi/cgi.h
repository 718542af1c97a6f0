/*
 * cgi.h - a tiny toolkit for CGI programs that serve one request per process.
 *
 * A CGI program calls cgi_read_request() once (or its two halves,
 * cgi_prepare_request() and cgi_decode_request()), then reads parameters with
 * cgi_get_param() and writes its response to standard output. Everything the
 * toolkit learns lives in the one record `cgi_request`, in static storage.
 * Texts are NUL-terminated byte strings; no character encoding is assumed.
 *
 * Example:
 *     cgi_read_request();
 *     const struct cgi_param *data = cgi_get_param("data", 1);
 *     printf("%s\n", data ? data->value : "");
 *
 * The header compiles as C99 or later and as C++; from C++ the names have
 * C linkage.
 */
#ifndef CGI_CGI_H
#define CGI_CGI_H

#include <sysexits.h>
#include <time.h>

#if defined(__cplusplus)
#define CGI_NORETURN [[noreturn]]
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define CGI_NORETURN _Noreturn
#else
#define CGI_NORETURN __attribute__((noreturn))
#endif

/* The request time is a 64-bit time_t on every target, so that it outlives
 * 2038 and `struct cgi_request` has the library's layout in every caller. A
 * 32-bit glibc gives that only with -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64,
 * which `pkg-config --cflags cgi` and the CMake package's cgi::cgi pass on;
 * a caller compiled without them stops here. */
#define CGI_TIME_BITS_MESSAGE                                                                      \
    "cgi.h: time_t must have 64 bits: compile with -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64 "        \
    "(pkg-config --cflags cgi)"
#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(time_t) == 8, CGI_TIME_BITS_MESSAGE);
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(time_t) == 8, CGI_TIME_BITS_MESSAGE);
#else
/* Before C11 and C++11: an array of negative size when time_t is short. */
typedef char cgi_time_t_must_have_64_bits_compile_with_D_TIME_BITS_64_D_FILE_OFFSET_BITS_64
    [sizeof(time_t) == 8 ? 1 : -1];
#endif
#undef CGI_TIME_BITS_MESSAGE

#ifdef __cplusplus
extern "C" {
#endif

/* Buffer sizes. A text kept in a buffer holds at most its size minus 2
 * characters (1022 and 65534): every copy is bounded one below the size. */
enum {
    CGI_TEXT_SIZE = 1024,  /* a CGI variable, a parameter name or value */
    CGI_QUERY_SIZE = 65536 /* the copy of the query string */
};

/* Exit statuses: memory ran out while reading the request; the response
 * could not be written whole to standard output. */
enum { CGI_STATUS_OUT_OF_MEMORY = 4, CGI_STATUS_OUTPUT_FAILED = EX_IOERR };

/* One decoded parameter. Stored nodes always have a non-empty name and value
 * with no NUL byte inside. The nodes of a request lie in one block that the
 * toolkit owns and frees only when a new request is prepared. */
struct cgi_param {
    char name[CGI_TEXT_SIZE];  /* decoded name, 1 to 1022 bytes */
    char value[CGI_TEXT_SIZE]; /* decoded value, 1 to 1022 bytes */
    struct cgi_param *next;    /* the next parameter in query order, or null */
};

/* What the process knows of its request. Zero-filled at start, filled once by
 * cgi_read_request(), never changed afterwards. */
struct cgi_request {
    char server_name[CGI_TEXT_SIZE];   /* SERVER_NAME, cut to 1022 bytes */
    char script_name[CGI_TEXT_SIZE];   /* SCRIPT_NAME, cut to 1022 bytes */
    char remote_addr[CGI_TEXT_SIZE];   /* REMOTE_ADDR, cut to 1022 bytes */
    char query_string[CGI_QUERY_SIZE]; /* QUERY_STRING, cut to 65534 bytes */
    time_t request_time;               /* when the request was read */
    struct cgi_param *params;          /* first parameter, or null when none */
};

/* The one request record of the process. The type and the instance share the
 * name: write `cgi_request.params`, and `struct cgi_request` for the type. */
extern struct cgi_request cgi_request;

/*
 * Fills `cgi_request` from the environment: SERVER_NAME, SCRIPT_NAME,
 * REMOTE_ADDR and QUERY_STRING (an unset variable reads as empty), the time,
 * and the parameters decoded from the query string. Call it once, first. It
 * is cgi_prepare_request() followed by cgi_decode_request().
 *
 * The query string is a list of name=value pairs joined by '&'; '+' decodes to
 * a space and '%' with two hex digits to that byte, while any other '%' is
 * kept as it is. A pair ends at the first '&' after its '='; '=' and '&' are
 * separators only as raw bytes, never when written as escapes. A pair without
 * '=', a name or a value is dropped, and a decoded NUL ends a name or value.
 * Overlong texts are cut silently: each name and value to its first 1022
 * bytes, the query string to its first 65534.
 *
 * Reads no other variable and never reads standard input. When the parameters
 * cannot be allocated it does not return: it calls
 * cgi_fatal(CGI_STATUS_OUT_OF_MEMORY).
 */
void cgi_read_request(void);

/*
 * The first half of cgi_read_request(): everything that needs the system.
 * Captures the four variables, reads the clock, and allocates in one block
 * every node the query string can yield, counted by its separators ('=' ends
 * a name, '&' a value; a pair with an empty name or value takes no node).
 * Leaves `params` null. When the block cannot be allocated it does not
 * return: it calls cgi_fatal(CGI_STATUS_OUT_OF_MEMORY), so a request too
 * large for the memory it may use fails here, before anything is decoded.
 *
 * Called again, it starts afresh and frees the block of the previous call:
 * nodes found before are then gone.
 */
void cgi_prepare_request(void);

/*
 * The second half: decodes `cgi_request.query_string` into the prepared
 * block and links the list in `params`. Allocates nothing and makes no
 * system call, so a program may confine itself between the two halves to
 * calls that serve its answer alone (read, write, exit). It stores at most
 * the nodes prepared: change the query string in between and the pairs
 * beyond them are dropped.
 */
void cgi_decode_request(void);

/*
 * Returns the occurrence-th parameter named `name`, comparing the whole name
 * and ignoring the case of ASCII letters, or null when there are fewer.
 * Occurrences count from 1 in query order; 0 or below asks for the first.
 * The node is the toolkit's: read it, never free or change it.
 *
 * Example: cgi_get_param("id", 2) for "?id=7&ID=8" gives the node "ID" = "8".
 */
struct cgi_param *cgi_get_param(const char *name, int occurrence);

/*
 * Percent-encodes `text` for a URL into `out`, a buffer of `out_size` bytes,
 * and returns `out`. ASCII letters and digits stay as they are; every other
 * byte, '-', '_', '.', '~' and the space among them, becomes '%' and two
 * lower-case hex digits ("a b" gives "a%20b").
 *
 * Limits: only the first 1022 bytes of `text` are encoded, the encoding is cut
 * at 1023 characters (a last escape may be cut in the middle), and `out`
 * receives at most `out_size` - 1 of them. `out` is always NUL-terminated
 * when `out_size` is at least 1; with an `out_size` of 0 or below nothing is
 * written and `out` is returned untouched.
 *
 * It also writes a trace of every encoded piece, "[a][%20][b]", to standard
 * output, including pieces the limits leave out: a caller that is writing a
 * response there gets the trace inside it.
 */
char *cgi_url_encode(char *out, int out_size, const char *text);

/*
 * Writes a whole CGI error response to standard output,
 *     "Status: 500 Internal Server Error\n" "Content-type: text/plain\n" "\n"
 *     "Fatal Error\n",
 * so that the web server answers 500, and ends the process with exit status
 * `status` through exit(), which flushes standard output first. Meant for a
 * failure before any part of the response was written: after that, the
 * header block is already out and these bytes would land in the body.
 */
CGI_NORETURN void cgi_fatal(int status);

#ifdef __cplusplus
}
#endif

#endif

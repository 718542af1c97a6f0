// Encodes a text from the input into a buffer of a size taken from the input,
// and checks the result, the trace and that no byte at or past out_size moved.
#include "model.h"

#include "cgi/cgi.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const unsigned char guard = 0xA5;
const size_t guard_bytes = 64;

} // namespace

// Input: two bytes of signed out_size (cut to -1099..1099), then the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const int out_size = static_cast<int16_t>(data[0] | (data[1] << 8)) % 1100;
    const std::string text(reinterpret_cast<const char *>(data + 2), size - 2);
    const size_t capacity = (out_size > 0 ? static_cast<size_t>(out_size) : 0) + guard_bytes;
    std::vector<unsigned char> buffer(capacity, guard);
    char *out = reinterpret_cast<char *>(buffer.data());

    // The trace goes to standard output; collect it instead.
    char *trace_text = nullptr;
    size_t trace_length = 0;
    FILE *trace_stream = open_memstream(&trace_text, &trace_length);
    FILE *saved_stdout = stdout;
    stdout = trace_stream;
    char *returned = cgi_url_encode(out, out_size, text.c_str());
    stdout = saved_stdout;
    fclose(trace_stream);
    const std::string trace(trace_text, trace_length);
    free(trace_text);

    std::string encoding, expected_trace;
    model_url_encode(text, &encoding, &expected_trace);
    if (returned != out || trace != expected_trace) {
        abort();
    }
    const size_t untouched_from = out_size > 0 ? static_cast<size_t>(out_size) : 0;
    for (size_t i = untouched_from; i < capacity; ++i) {
        if (buffer[i] != guard) {
            abort(); // written at or past out_size
        }
    }
    if (out_size > 0) {
        const size_t length = strnlen(out, static_cast<size_t>(out_size));
        size_t expected_length = encoding.size() < 1023 ? encoding.size() : 1023;
        if (expected_length > static_cast<size_t>(out_size) - 1) {
            expected_length = static_cast<size_t>(out_size) - 1;
        }
        if (length != expected_length || encoding.compare(0, length, out, length) != 0) {
            abort(); // not the expected prefix of the full encoding
        }
    }
    return 0;
}

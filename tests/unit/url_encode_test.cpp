#include "cgi/cgi.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

// Runs cgi_url_encode with standard output sent to a temporary file, and
// returns everything that reached file descriptor 1 meanwhile.
std::string encode_capturing_trace(char *out, int out_size, const std::string &text,
                                   char **returned) {
    fflush(stdout);
    FILE *capture = tmpfile();
    const int saved_stdout = dup(STDOUT_FILENO);
    dup2(fileno(capture), STDOUT_FILENO);
    *returned = cgi_url_encode(out, out_size, text.c_str());
    fflush(stdout);
    dup2(saved_stdout, STDOUT_FILENO);
    close(saved_stdout);

    std::string trace;
    rewind(capture);
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, capture)) > 0) {
        trace.append(buffer, got);
    }
    fclose(capture);
    return trace;
}

std::string repeat(const std::string &piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

struct EncodeCase {
    const char *description;
    std::string text;
    int out_size;
    std::string result;
    std::string trace;
};

TEST(UrlEncode, EncodesEveryByteButLettersAndDigitsAndTracesEachPiece) {
    const EncodeCase cases[] = {
        {"empty text", "", 64, "", ""},
        {"a space is %20, never '+'", " ", 64, "%20", "[%20]"},
        {"a space between letters", "a b", 64, "a%20b", "[a][%20][b]"},
        {"unreserved punctuation is encoded too", "A-Z_0.9~", 64, "A%2dZ%5f0%2e9%7e",
         "[A][%2d][Z][%5f][0][%2e][9][%7e]"},
        {"letters and digits stay", "azAZ09", 64, "azAZ09", "[a][z][A][Z][0][9]"},
        {"UTF-8 bytes as unsigned", "\xc3\xa9", 64, "%c3%a9", "[%c3][%a9]"},
        {"the lowest and highest bytes", "\x01\x7f\x80\xff", 64, "%01%7f%80%ff",
         "[%01][%7f][%80][%ff]"},
        {"'%' and '+' themselves", "%+", 64, "%25%2b", "[%25][%2b]"},
        {"400 slashes: 341 whole pieces fill 1023 characters", std::string(400, '/'), 2048,
         repeat("%2f", 341), repeat("[%2f]", 400)},
        {"a piece cut in the middle at 1023 characters", "a" + std::string(400, '/'), 2048,
         "a" + repeat("%2f", 340) + "%2", "[a]" + repeat("[%2f]", 400)},
        {"only the first 1022 bytes are encoded", std::string(1030, 'a'), 2048,
         std::string(1022, 'a'), repeat("[a]", 1022)},
        {"out_size 4 keeps three characters", "abcdef", 4, "abc", "[a][b][c][d][e][f]"},
        {"out_size 2 keeps one character", "abcdef", 2, "a", "[a][b][c][d][e][f]"},
        {"out_size 1 keeps only the terminator", "abcdef", 1, "", "[a][b][c][d][e][f]"},
        {"out_size 4 may cut an escape", "a b", 4, "a%2", "[a][%20][b]"},
    };
    for (const EncodeCase &c : cases) {
        SCOPED_TRACE(std::string(c.description) + ", out_size " + std::to_string(c.out_size));
        std::string out(static_cast<size_t>(c.out_size), '#');
        char *returned = nullptr;
        const std::string trace = encode_capturing_trace(&out[0], c.out_size, c.text, &returned);
        EXPECT_EQ(returned, &out[0]);
        EXPECT_EQ(std::string(out.c_str()), c.result);
        EXPECT_EQ(trace, c.trace);
    }
}

TEST(UrlEncode, WritesNothingWhenOutSizeIsZeroOrBelow) {
    for (int out_size : {0, -1, -1024, INT_MIN}) {
        SCOPED_TRACE("out_size " + std::to_string(out_size));
        char out[16];
        memset(out, 'G', sizeof out);
        char *returned = nullptr;
        const std::string trace = encode_capturing_trace(out, out_size, "a b", &returned);
        EXPECT_EQ(returned, out);
        EXPECT_EQ(std::string(out, sizeof out), std::string(sizeof out, 'G'));
        EXPECT_EQ(trace, "[a][%20][b]");
    }
}

TEST(UrlEncode, NeverWritesAtOrPastOutSize) {
    const char guard = 'G';
    const std::string text = "x y/z" + std::string(600, ' ');
    for (int out_size = 1; out_size <= 40; ++out_size) {
        SCOPED_TRACE("out_size " + std::to_string(out_size));
        char out[64];
        memset(out, guard, sizeof out);
        char *returned = nullptr;
        encode_capturing_trace(out, out_size, text, &returned);
        ASSERT_EQ(returned, out);
        const void *terminator = memchr(out, '\0', static_cast<size_t>(out_size));
        ASSERT_NE(terminator, nullptr) << "out is not terminated within out_size";
        EXPECT_EQ(static_cast<const char *>(terminator) - out, out_size - 1);
        for (size_t i = static_cast<size_t>(out_size); i < sizeof out; ++i) {
            EXPECT_EQ(out[i], guard) << "byte " << i << " was written";
        }
    }
}

} // namespace

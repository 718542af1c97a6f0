// cgi_read_request against real environments: the capture, its limits, and the
// cut of the query string before it is decoded.
#include "test_list.h"

#include "cgi/cgi.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace {

void set_or_unset(const char *variable, const std::string *value) {
    if (value == nullptr) {
        unsetenv(variable);
    } else {
        setenv(variable, value->c_str(), 1);
    }
}

// Reads a request with QUERY_STRING set to `query` (or unset when null) and
// the other three variables unset, in its two halves. The preparation leaves
// no list: the nodes of an earlier request lay in the block it has unmapped.
void read_with_query(const std::string *query) {
    unsetenv("SERVER_NAME");
    unsetenv("SCRIPT_NAME");
    unsetenv("REMOTE_ADDR");
    set_or_unset("QUERY_STRING", query);
    record_environment();
    cgi_prepare_request();
    EXPECT_EQ(cgi_request.params, nullptr) << "after cgi_prepare_request()";
    cgi_decode_request();
}

TEST(ReadRequest, CapturesTheFourVariablesAndTheTime) {
    setenv("SERVER_NAME", "example.test", 1);
    setenv("SCRIPT_NAME", "/cgi-bin/handler", 1);
    setenv("REMOTE_ADDR", "127.0.0.1", 1);
    setenv("QUERY_STRING", "a=1&b=2", 1);
    const time_t before = time(nullptr);
    read_request();
    const time_t after = time(nullptr);
    EXPECT_STREQ(cgi_request.server_name, "example.test");
    EXPECT_STREQ(cgi_request.script_name, "/cgi-bin/handler");
    EXPECT_STREQ(cgi_request.remote_addr, "127.0.0.1");
    EXPECT_STREQ(cgi_request.query_string, "a=1&b=2");
    EXPECT_GE(cgi_request.request_time, before);
    EXPECT_LE(cgi_request.request_time, after);
    EXPECT_EQ(stored_pairs(), (Pairs{{"a", "1"}, {"b", "2"}}));
}

TEST(ReadRequest, CapturesUnsetVariablesAsEmptyTexts) {
    const std::string earlier = "a=1";
    read_with_query(&earlier);
    ASSERT_NE(cgi_request.params, nullptr);
    read_with_query(nullptr);
    EXPECT_STREQ(cgi_request.server_name, "");
    EXPECT_STREQ(cgi_request.script_name, "");
    EXPECT_STREQ(cgi_request.remote_addr, "");
    EXPECT_STREQ(cgi_request.query_string, "");
    EXPECT_EQ(cgi_request.params, nullptr);
}

TEST(ReadRequest, CutsEachVariableOneBelowItsBuffer) {
    struct Case {
        size_t length;
        size_t kept;
    };
    const Case cases[] = {{0, 0}, {1021, 1021}, {1022, 1022}, {1023, 1022}, {100000, 1022}};
    const char *variables[] = {"SERVER_NAME", "SCRIPT_NAME", "REMOTE_ADDR"};
    char *fields[] = {cgi_request.server_name, cgi_request.script_name, cgi_request.remote_addr};
    for (const Case &c : cases) {
        const std::string value(c.length, 's');
        for (int v = 0; v < 3; ++v) {
            SCOPED_TRACE(std::string(variables[v]) + " of " + std::to_string(c.length) + " bytes");
            setenv(variables[v], value.c_str(), 1);
            read_request();
            EXPECT_EQ(std::string(fields[v]), value.substr(0, c.kept));
            unsetenv(variables[v]);
        }
    }
}

TEST(ReadRequest, DecodesOnlyTheFirst65534CharactersOfTheQuery) {
    // "f=<filler>&z=" followed by an escape placed around the cut.
    auto query_with_tail = [](size_t tail_start, const std::string &tail) {
        const std::string head = "&z=";
        std::string query = "f=" + std::string(tail_start - 2 - head.size(), 'x') + head + tail;
        return query;
    };
    struct Case {
        const char *description;
        std::string query;
        size_t kept_length;
        std::string z_value; // empty when no "z" may be stored
    };
    const Case cases[] = {
        {"an escape ending at the last kept byte", query_with_tail(65531, "%41"), 65534, "A"},
        {"an escape whose last digit is cut", query_with_tail(65532, "%41"), 65534, "%4"},
        {"an escape whose two digits are cut", query_with_tail(65533, "%41"), 65534, "%"},
        {"a pair wholly past the cut", query_with_tail(65534, "%41"), 65534, ""},
        {"a query of some 70000 characters", query_with_tail(65534, std::string(4000, 'y')), 65534,
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.description);
        read_with_query(&c.query);
        EXPECT_EQ(strlen(cgi_request.query_string), c.kept_length);
        EXPECT_EQ(std::string(cgi_request.query_string), c.query.substr(0, c.kept_length));
        const struct cgi_param *f = cgi_get_param("f", 1);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(std::string(f->value), std::string(1022, 'x'));
        const struct cgi_param *z = cgi_get_param("z", 1);
        if (c.z_value.empty()) {
            EXPECT_EQ(z, nullptr);
        } else {
            ASSERT_NE(z, nullptr);
            EXPECT_EQ(std::string(z->value), c.z_value);
        }
    }
    unsetenv("QUERY_STRING");
}

} // namespace

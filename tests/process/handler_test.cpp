// The built handler run as a web server runs it: a fresh process with a CGI
// environment and nothing else, checked on its whole output and exit status.
#include "expect_answer.h"
#include "run_process.h"

#include <csignal>
#include <gtest/gtest.h>

namespace {

std::vector<std::string> cgi_environment(const std::string &query) {
    return {"SERVER_NAME=example.test", "SCRIPT_NAME=/cgi-bin/handler", "REMOTE_ADDR=127.0.0.1",
            "QUERY_STRING=" + query};
}

ProcessResult run_handler(const ProcessOptions &options) {
    return run_process(HANDLER_PATH, options);
}

struct ActionCase {
    std::string query;
    std::string body;
};

TEST(Handler, AnswersEachRowOfTheActionTable) {
    const ActionCase cases[] = {
        {"", "Page not found.\n"},
        {"action=list&data=a+b", "List: a b\n"},
        {"action=list&data=two+words", "List: two words\n"},
        {"action=LIST&data=x", "List: x\n"},
        {"ACTION=List&DATA=x", "List: x\n"},
        {"action=register", "Register: \n"},
        {"action=register&data=%41%42", "Register: AB\n"},
        {"action=rEgIsTeR&data=y", "Register: y\n"},
        {"data=x&action=list", "List: x\n"},
        {"action=list&data=x&foo=bar&baz=1", "List: x\n"},
        {"action=list&action=register", "List: \n"},
        {"action=list&data=1&data=2", "List: 1\n"},
        {"action=foo", "Page foo not found.\n"},
        {"action=", "Page not found.\n"},
        {"action=lists", "Page lists not found.\n"},
        {"action=+list", "Page  list not found.\n"},
        {"action=list+", "Page list  not found.\n"},
        {"x&action=list", "Page not found.\n"},
        {"action=list&data=%3Cb%3E%25s%0A", "List: <b>%s\n\n"},
        {"action=%25s%25n", "Page %s%n not found.\n"},
        {"action=list&data=" + std::string(1500, 'd'), "List: " + std::string(1022, 'd') + "\n"},
        {"action=list&data=a%00b", "List: a\n"},
        {"action=" + std::string(1022, 'a'), "Page " + std::string(1022, 'a') + " not found.\n"},
    };
    for (const ActionCase &c : cases) {
        SCOPED_TRACE("QUERY_STRING='" + c.query + "'");
        ProcessOptions options;
        options.environment = cgi_environment(c.query);
        expect_answer(run_handler(options), c.body);
    }
}

TEST(Handler, AnswersPageNotFoundWithAnEmptyEnvironment) {
    ProcessOptions options;
    expect_answer(run_handler(options), "Page not found.\n");
}

TEST(Handler, IgnoresItsArguments) {
    ProcessOptions options;
    options.environment = cgi_environment("action=list&data=x");
    options.arguments = {"action=register", "--help", ""};
    expect_answer(run_handler(options), "List: x\n");
}

TEST(Handler, NeverWaitsOnAnOpenStandardInput) {
    ProcessOptions options;
    options.environment = cgi_environment("action=register&data=x");
    options.environment.push_back("REQUEST_METHOD=POST");
    options.environment.push_back("CONTENT_LENGTH=10");
    options.stdin_open_pipe = true;
    options.timeout_seconds = 10;
    expect_answer(run_handler(options), "Register: x\n");
}

TEST(Handler, ReadsNoVariableButTheFour) {
    ProcessOptions options;
    options.environment = cgi_environment("action=list&data=x");
    options.environment.push_back("HTTP_ACTION=register");
    options.environment.push_back("PATH_INFO=/action=register");
    expect_answer(run_handler(options), "List: x\n");
}

// Every stored pair costs one node of some 2 KiB, so 16,000 pairs need over
// 32 MiB; under a 24 MiB address space a small request still fits.
const rlim_t small_address_space = 24u << 20;

std::string many_pairs(int count) {
    std::string query;
    for (int i = 0; i < count; ++i) {
        query += "a=1&";
    }
    return query;
}

TEST(Handler, AnswersASmallRequestUnderTheMemoryLimitUsedBelow) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot hold the sanitizer's shadow memory";
#endif
    ProcessOptions options;
    options.environment = cgi_environment("action=list&data=x&" + many_pairs(100));
    options.address_space_limit = small_address_space;
    expect_answer(run_handler(options), "List: x\n");
}

TEST(Handler, EndsWithTheFatalAnswerAndStatus4WhenMemoryRunsOut) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot hold the sanitizer's shadow memory";
#endif
    ProcessOptions options;
    options.environment = cgi_environment("action=list&data=x&" + many_pairs(16000));
    ASSERT_LE(options.environment.back().size(), 65534u + 13u);
    options.address_space_limit = small_address_space;
    const ProcessResult result = run_handler(options);
    EXPECT_EQ(result.error, "");
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_status, 4);
    EXPECT_EQ(result.output, "Status: 500 Internal Server Error\n"
                             "Content-type: text/plain\n"
                             "\n"
                             "Fatal Error\n");
}

TEST(Handler, StoresAllSixteenThousandPairsWithoutALimit) {
    ProcessOptions options;
    options.environment = cgi_environment("action=list&data=x&" + many_pairs(16000));
    expect_answer(run_handler(options), "List: x\n");
}

struct OutputFailureCase {
    const char *name;
    OutputTo output_to;
    bool ignore_sigpipe;
    int exit_status; // when it exits
    int signal;      // when a signal ends it
};

// An answer that never reached the web server must not look served.
TEST(Handler, ReportsAnAnswerThatCouldNotBeWritten) {
    const OutputFailureCase cases[] = {
        {"a full disk", OutputTo::full_device, false, 74, 0},
        {"a closed standard output", OutputTo::closed, false, 74, 0},
        {"a reader gone, SIGPIPE ignored", OutputTo::gone_reader, true, 74, 0},
        {"a reader gone, SIGPIPE at its default", OutputTo::gone_reader, false, -1, SIGPIPE},
    };
    for (const OutputFailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        ProcessOptions options;
        options.environment = cgi_environment("action=list&data=x");
        options.output_to = c.output_to;
        options.ignore_sigpipe = c.ignore_sigpipe;
        const ProcessResult result = run_handler(options);
        EXPECT_EQ(result.error, "");
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_status, c.exit_status);
        EXPECT_EQ(result.signal, c.signal);
    }
}

} // namespace

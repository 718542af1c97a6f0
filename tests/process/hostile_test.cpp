// The handler under the largest and strangest environments a web server can
// hand it: everything is cut and decoded by the usual rules, and the answer is
// still exact with exit status 0.
#include "expect_answer.h"
#include "run_process.h"

#include <gtest/gtest.h>

namespace {

ProcessResult run_with(const std::vector<std::string> &environment) {
    ProcessOptions options;
    options.environment = environment;
    return run_process(HANDLER_PATH, options);
}

// Linux holds one environment string of at most 131072 bytes with its NUL.
const size_t largest_environment_string = 131071;

TEST(HostileEnvironment, CutsTheLargestQueryStringAt65534Characters) {
    // The escape "%41" straddles the cut: only "%4" is kept, taken literally.
    const std::string head = "action=list&f=";
    const std::string data = "&data=abc";
    std::string query = head + std::string(65532 - head.size() - data.size(), 'x') + data;
    ASSERT_EQ(query.size(), 65532u);
    query += "%41&data=late&action=register&";
    std::string variable = "QUERY_STRING=" + query;
    variable += std::string(largest_environment_string - variable.size(), 'y');
    ASSERT_EQ(variable.size(), largest_environment_string);
    expect_answer(run_with({variable}), "List: abc%4\n");
}

TEST(HostileEnvironment, AnswersWithHugeServerScriptAndAddressVariables) {
    const std::string huge(100000, 'h');
    expect_answer(run_with({"SERVER_NAME=" + huge, "SCRIPT_NAME=/" + huge, "REMOTE_ADDR=" + huge,
                            "QUERY_STRING=action=list&data=ok"}),
                  "List: ok\n");
}

TEST(HostileEnvironment, PassesEveryRawByteOfAValueThrough) {
    // Every byte but '&', which would end the pair; '+' decodes to a space.
    std::string raw, decoded;
    for (int byte = 0x01; byte <= 0xff; ++byte) {
        if (byte == '&') {
            continue;
        }
        raw += static_cast<char>(byte);
        decoded += byte == '+' ? ' ' : static_cast<char>(byte);
    }
    expect_answer(run_with({"QUERY_STRING=action=list&data=" + raw}), "List: " + decoded + "\n");
    expect_answer(run_with({"QUERY_STRING=action=" + raw}), "Page " + decoded + " not found.\n");
}

TEST(HostileEnvironment, IgnoresANameMadeOfEveryRawByte) {
    // Every byte but '=', which would end the name.
    std::string name;
    for (int byte = 0x01; byte <= 0xff; ++byte) {
        if (byte != '=') {
            name += static_cast<char>(byte);
        }
    }
    expect_answer(run_with({"QUERY_STRING=" + name + "=v&action=list&data=ok"}), "List: ok\n");
}

TEST(HostileEnvironment, DecodesAnEscapeOfEveryByteValue) {
    static const char upper[] = "0123456789ABCDEF";
    static const char lower[] = "0123456789abcdef";
    std::string escaped, decoded;
    for (int byte = 0x01; byte <= 0xff; ++byte) {
        const char *digits = byte % 2 == 0 ? upper : lower;
        escaped += '%';
        escaped += digits[byte >> 4];
        escaped += digits[byte & 0xf];
        decoded += static_cast<char>(byte);
    }
    expect_answer(run_with({"QUERY_STRING=action=list&data=" + escaped}),
                  "List: " + decoded + "\n");
    expect_answer(run_with({"QUERY_STRING=action=%6c%49%53%54&data=%00x"}), "List: \n");
}

} // namespace

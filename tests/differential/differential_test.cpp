// A cross-built handler, run under its emulator, answers every request of the
// suite exactly as this machine's handler does: the same bytes on standard
// output and the same exit status. The requests: those the unit and process
// tests make (recorded by them, tests/recorded_requests.h), the fuzz seeds,
// and requests generated around every byte value and every limit.
//
// Set by the test's environment (tests/cross.cmake):
//   CGI_CROSS_HANDLER   the cross-built handler
//   CGI_CROSS_EMULATOR  the command that runs it here (e.g. qemu-aarch64-static)
//   CGI_TEST_REQUESTS   the record file the unit and process tests wrote
#include "process/run_process.h"
#include "recorded_requests.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <set>
#include <sstream>
#include <sys/mman.h>

namespace {

struct Request {
    std::string origin; // where the request comes from, for the trace
    std::vector<std::string> environment;
};

std::string required_variable(const char *name) {
    const char *value = getenv(name);
    return value != nullptr ? value : "";
}

// The first bytes of a text, with anything unprintable as \xHH.
std::string shown(const std::string &text) {
    const size_t shown_bytes = 80;
    std::string out;
    for (size_t i = 0; i < text.size() && i < shown_bytes; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            out += static_cast<char>(byte);
        } else {
            char escape[5];
            snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        }
    }
    if (text.size() > shown_bytes) {
        out += "... (" + std::to_string(text.size()) + " bytes)";
    }
    return out;
}

std::string describe(const Request &request) {
    std::string text = request.origin + ":";
    for (const std::string &entry : request.environment) {
        text += " '" + shown(entry) + "'";
    }
    return request.environment.empty() ? text + " an empty environment" : text;
}

std::string without_nul(std::string bytes) {
    bytes.erase(std::remove(bytes.begin(), bytes.end(), '\0'), bytes.end());
    return bytes;
}

Request query(const std::string &origin, const std::string &query_string) {
    return {origin, {"QUERY_STRING=" + query_string}};
}

// Each fuzz seed, of every target, whole as a query and as each of the two
// values the handler answers with.
void add_fuzz_seeds(std::vector<Request> &requests) {
    std::vector<std::filesystem::path> seeds;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(FUZZ_CORPUS_DIR)) {
        if (entry.is_regular_file()) {
            seeds.push_back(entry.path());
        }
    }
    std::sort(seeds.begin(), seeds.end());
    for (const std::filesystem::path &seed : seeds) {
        std::ifstream file(seed, std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        const std::string text = without_nul(bytes.str());
        const std::string origin = "the fuzz seed " + seed.parent_path().filename().string() + "/" +
                                   seed.filename().string();
        requests.push_back(query(origin, text));
        requests.push_back(query(origin + " as data", "action=list&data=" + text));
        requests.push_back(query(origin + " as action", "action=" + text));
    }
}

std::string escape_of(int byte, bool upper) {
    char escape[4];
    snprintf(escape, sizeof escape, upper ? "%%%02X" : "%%%02x", byte);
    return escape;
}

// Every byte raw (all but NUL, which no environment can hold) in a name and
// a value and as the action; escaped in a value and as the action, with
// upper-case hex digits in one and lower-case in the other, in turn.
void add_every_byte(std::vector<Request> &requests) {
    for (int byte = 0x00; byte <= 0xff; ++byte) {
        const std::string origin = "the byte " + std::to_string(byte);
        if (byte != 0) {
            const std::string raw(1, static_cast<char>(byte));
            requests.push_back(query(origin + " raw in a name and in data",
                                     "n" + raw + "=1&data=a" + raw + "z&action=list"));
            requests.push_back(query(origin + " raw as action", "action=" + raw));
        }
        const bool upper = byte % 2 == 0;
        requests.push_back(
            query(origin + " escaped in data", "action=list&data=" + escape_of(byte, upper)));
        requests.push_back(
            query(origin + " escaped as action", "action=" + escape_of(byte, !upper)));
    }
}

// Linux holds one environment string of at most 131072 bytes with its NUL.
const size_t largest_environment_string = 131071;

std::string repeated(const std::string &piece, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += piece;
    }
    return text;
}

// A query of exactly `length` characters: the action, a filler value, then
// `tail`, so that the tail meets the cut at 65534 characters.
std::string query_ending_with(size_t length, const std::string &tail) {
    const std::string head = "action=list&f=";
    return head + std::string(length - head.size() - tail.size(), 'x') + tail;
}

// Lengths on both sides of every limit: 1022 bytes of a kept name or value
// (and of the other three variables), 65534 characters of the query, and the
// 131,071 bytes Linux lets one environment string hold.
void add_limits(std::vector<Request> &requests) {
    for (size_t length : {1021, 1022, 1023, 1024, 2047, 5000}) {
        const std::string origin = std::to_string(length);
        requests.push_back(
            query(origin + " raw data bytes", "action=list&data=" + std::string(length, 'd')));
        requests.push_back(
            query(origin + " escaped data bytes", "action=list&data=" + repeated("%64", length)));
        requests.push_back(query(origin + " '+' in data",
                                 "action=register&data=" + std::string(length, '+') + "&x=1"));
        requests.push_back(query(origin + " action bytes", "action=" + std::string(length, 'a')));
        requests.push_back(query(origin + " bytes of a name",
                                 "action" + std::string(length - 6, 'n') + "=list&data=x"));
        for (const char *variable : {"SERVER_NAME", "SCRIPT_NAME", "REMOTE_ADDR"}) {
            requests.push_back({origin + " bytes of " + variable,
                                {std::string(variable) + "=" + std::string(length, 's'),
                                 "QUERY_STRING=action=list&data=x"}});
        }
    }
    for (size_t length : {65532, 65533, 65534, 65535, 65536, 70000}) {
        const std::string origin = "a query of " + std::to_string(length) + " characters";
        requests.push_back(query(origin + ", data last", query_ending_with(length, "&data=y")));
        requests.push_back(
            query(origin + ", an escape last", query_ending_with(length, "&data=%41")));
        requests.push_back(
            query(origin + ", another action last", query_ending_with(length, "&action=register")));
        requests.push_back(query(origin + " of pairs",
                                 repeated("a=1&", length / 4) + std::string(length % 4, 'b')));
    }
    const std::string variable = "QUERY_STRING=action=list&data=z&";
    requests.push_back(
        {"the largest environment string",
         {variable + std::string(largest_environment_string - variable.size(), 'q')}});
}

// Many pairs, with the answer's pairs before them and after them.
void add_many_pairs(std::vector<Request> &requests) {
    for (size_t count : {2, 3, 100, 1000, 4096, 16000, 16382, 16383, 16384}) {
        const std::string origin = std::to_string(count) + " pairs";
        requests.push_back(
            query(origin + " after the action", "action=list&data=x&" + repeated("a=1&", count)));
        requests.push_back(query(origin + " before the action",
                                 repeated("a=1&", count) + "action=register&data=y"));
        // As many as an environment string holds.
        const std::string data_pairs = repeated("data=%41&", count) + "action=list";
        if (data_pairs.size() + strlen("QUERY_STRING=") <= largest_environment_string) {
            requests.push_back(query(origin + " of data", data_pairs));
        }
    }
}

std::vector<Request> special_environments() {
    return {
        {"no variable at all", {}},
        {"an empty query", {"QUERY_STRING="}},
        {"only the other three", {"SERVER_NAME=a", "SCRIPT_NAME=/b", "REMOTE_ADDR=::1"}},
    };
}

// qemu-user builds the emulated program's environment anew, one entry per
// name: a repeated variable reaches it once, with its last value, and an
// entry without '=' not at all. Requests like those cannot be put to the
// cross-built program as they stand, so they are left out.
bool passes_through_the_emulator(const Request &request) {
    std::set<std::string> names;
    for (const std::string &entry : request.environment) {
        const size_t equals = entry.find('=');
        if (equals == std::string::npos || !names.insert(entry.substr(0, equals)).second) {
            return false;
        }
    }
    return true;
}

// Every request once, in the order first met, of those the emulator passes.
std::vector<Request> without_repeats(const std::vector<Request> &requests) {
    std::set<std::vector<std::string>> seen;
    std::vector<Request> kept;
    for (const Request &request : requests) {
        if (passes_through_the_emulator(request) && seen.insert(request.environment).second) {
            kept.push_back(request);
        }
    }
    return kept;
}

// Standard error of the run in progress goes to this memory file.
int error_capture = -1;

void send_standard_error_to_capture() {
    dup2(error_capture, STDERR_FILENO);
}

struct Answer {
    ProcessResult result;
    std::string error_output;
};

Answer run(const std::string &program, const std::vector<std::string> &arguments,
           const Request &request) {
    // The child writes at the offset it shares with this descriptor.
    EXPECT_EQ(ftruncate(error_capture, 0), 0);
    EXPECT_EQ(lseek(error_capture, 0, SEEK_SET), 0);
    ProcessOptions options;
    options.arguments = arguments;
    options.environment = request.environment;
    options.before_exec = send_standard_error_to_capture;
    Answer answer;
    answer.result = run_process(program, options);
    char buffer[4096];
    ssize_t got;
    for (off_t at = 0; (got = pread(error_capture, buffer, sizeof buffer, at)) > 0; at += got) {
        answer.error_output.append(buffer, static_cast<size_t>(got));
    }
    return answer;
}

std::string first_difference(const std::string &left, const std::string &right) {
    const auto differ = std::mismatch(left.begin(), left.end(), right.begin(), right.end());
    return "the first difference at byte " + std::to_string(differ.first - left.begin()) + " (" +
           std::to_string(left.size()) + " and " + std::to_string(right.size()) + " bytes)";
}

// qemu-user refuses seccomp in both forms without asking the kernel, so the
// cross-built program always goes on unconfined, and says exactly this.
const std::string unconfined_line = "handler: running unconfined: seccomp strict mode refused "
                                    "(Invalid argument), filter refused (Invalid argument)\n";

TEST(Differential, TheCrossBuiltHandlerAnswersEveryRequestAsThisMachinesDoes) {
    const std::string cross_handler = required_variable("CGI_CROSS_HANDLER");
    const std::string emulator = required_variable("CGI_CROSS_EMULATOR");
    const std::string record = required_variable("CGI_TEST_REQUESTS");
    ASSERT_FALSE(cross_handler.empty() || emulator.empty() || record.empty())
        << "set CGI_CROSS_HANDLER, CGI_CROSS_EMULATOR and CGI_TEST_REQUESTS";
    std::istringstream words(emulator);
    std::string emulator_program;
    words >> emulator_program;
    std::vector<std::string> emulator_arguments;
    for (std::string word; words >> word;) {
        emulator_arguments.push_back(word);
    }
    emulator_arguments.push_back(cross_handler);

    std::vector<Request> requests;
    size_t recorded = 0;
    for (const std::vector<std::string> &environment : read_recorded_requests(record)) {
        requests.push_back({"recorded request " + std::to_string(++recorded), environment});
    }
    const size_t distinct_recorded = without_repeats(requests).size();
    // A handful would mean the unit and process tests did not record.
    ASSERT_GT(distinct_recorded, 100u) << "too few requests recorded in " << record;
    add_fuzz_seeds(requests);
    const size_t with_seeds = without_repeats(requests).size();
    add_every_byte(requests);
    add_limits(requests);
    add_many_pairs(requests);
    const std::vector<Request> special = special_environments();
    requests.insert(requests.end(), special.begin(), special.end());
    const std::vector<Request> distinct = without_repeats(requests);

    error_capture = memfd_create("standard-error", MFD_CLOEXEC);
    ASSERT_GE(error_capture, 0);
    const int most_differences_shown = 20;
    int differences = 0;
    for (const Request &request : distinct) {
        SCOPED_TRACE(describe(request));
        const Answer reference = run(HANDLER_PATH, {}, request);
        const Answer cross = run(emulator_program, emulator_arguments, request);
        ASSERT_EQ(reference.result.error, "");
        ASSERT_EQ(cross.result.error, "");
        ASSERT_FALSE(reference.result.timed_out);
        ASSERT_FALSE(cross.result.timed_out);
        // This machine's program answered (or ran out of memory), so there
        // was something to compare.
        EXPECT_TRUE(reference.result.exit_status == 0 || reference.result.exit_status == 4)
            << "exit status " << reference.result.exit_status;
        EXPECT_EQ(reference.error_output, "");
        const bool alike = cross.result.output == reference.result.output &&
                           cross.result.exit_status == reference.result.exit_status &&
                           cross.result.signal == reference.result.signal &&
                           cross.error_output == unconfined_line;
        EXPECT_TRUE(alike) << "output: "
                           << first_difference(cross.result.output, reference.result.output)
                           << "; exit status " << cross.result.exit_status << " against "
                           << reference.result.exit_status << "; signal " << cross.result.signal
                           << " against " << reference.result.signal << "; standard error '"
                           << shown(cross.error_output) << "'";
        if (!alike && ++differences == most_differences_shown) {
            FAIL() << "stopped after " << differences << " requests answered otherwise";
        }
    }
    close(error_capture);
    std::cout << distinct.size() << " requests compared: " << distinct_recorded
              << " recorded by the unit and process tests (" << recorded << " with repeats), "
              << with_seeds - distinct_recorded << " from the fuzz seeds, "
              << distinct.size() - with_seeds << " generated; " << differences
              << " answered otherwise\n";
}

} // namespace

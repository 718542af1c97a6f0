// The program under address-space limits from far too small to ample: once
// the kernel can start it, it answers exactly or ends with the fatal
// response and status 4, and never crashes.
#include "expect_answer.h"
#include "run_process.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>

namespace {

const std::string fatal_response = "Status: 500 Internal Server Error\n"
                                   "Content-type: text/plain\n"
                                   "\n"
                                   "Fatal Error\n";

std::string pairs(int count) {
    std::string query = "action=list&data=x";
    for (int i = 0; i < count; ++i) {
        query += "&a=1";
    }
    return query;
}

struct SweepRequest {
    const char *name;
    std::string query;
    std::string body;
    // A limit under which the exec must fail past its point of no return
    // (killed by SIGSEGV, never stopped at its exec), or 0.
    rlim_t refused_late_under;
};

TEST(MemoryLimit, SweepGivesTheAnswerOrTheFatalResponseWheneverTheProgramStarts) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit cannot hold the sanitizer's shadow memory";
#endif
    if (std::string(HANDLER_LIBC) != "musl") {
        GTEST_SKIP() << "glibc's static start-up itself dies by SIGSEGV under some limits "
                        "(about 1.1 MB); the sweep holds the musl program to it";
    }
    const SweepRequest requests[] = {
        {"typical", "action=list&data=two+words", "List: two words\n", 0},
        {"100 pairs", pairs(100), "List: x\n", 0},
        {"16,000 pairs", pairs(15998), "List: x\n", 256 << 10},
    };
    // From 64 KiB, where no program starts, to 48 MiB, where every request
    // fits, in steps of an eighth.
    std::vector<rlim_t> limits;
    for (rlim_t limit = 64 << 10; limit <= 48u << 20; limit = (limit + limit / 8) & ~rlim_t(4095)) {
        limits.push_back(limit);
    }
    for (const SweepRequest &request : requests) {
        if (request.refused_late_under != 0) {
            limits.push_back(request.refused_late_under);
        }
    }
    std::sort(limits.begin(), limits.end());
    limits.erase(std::unique(limits.begin(), limits.end()), limits.end());
    for (const SweepRequest &request : requests) {
        rlim_t lowest_start = 0;
        int refused_early = 0;
        int refused_late = 0;
        int answered = 0;
        int fatal = 0;
        for (rlim_t limit : limits) {
            SCOPED_TRACE(std::string(request.name) + " under " + std::to_string(limit) + " bytes");
            ProcessOptions options;
            options.environment = {"QUERY_STRING=" + request.query};
            options.address_space_limit = limit;
            options.report_start = true;
            const ProcessResult result = run_process(HANDLER_PATH, options);
            ASSERT_EQ(result.error, "");
            ASSERT_FALSE(result.timed_out);
            if (limit == request.refused_late_under) {
                EXPECT_FALSE(result.started);
                EXPECT_EQ(result.signal, SIGSEGV);
            }
            if (!result.started) {
                // The kernel had no room for the program: it never ran.
                // Either execve returned its error to the child (which then
                // ends with 127), or the exec failed past its point of no
                // return, the old program gone, and the kernel killed the
                // child by SIGSEGV: a crash of the program would have come
                // after the stop at its exec.
                EXPECT_EQ(lowest_start, 0u) << "not started although a smaller limit started it";
                EXPECT_EQ(result.output, "");
                EXPECT_TRUE(result.signal == SIGSEGV || result.exit_status == 127)
                    << "signal " << result.signal << ", exit " << result.exit_status;
                ++(result.signal == SIGSEGV ? refused_late : refused_early);
                continue;
            }
            if (lowest_start == 0) {
                lowest_start = limit;
            }
            EXPECT_EQ(result.signal, 0);
            if (result.exit_status == 0) {
                ++answered;
                EXPECT_EQ(result.output, header_block + request.body);
            } else {
                ++fatal;
                EXPECT_EQ(result.exit_status, 4);
                EXPECT_EQ(result.output, fatal_response);
            }
        }
        EXPECT_GT(answered, 0) << request.name << " was never answered";
        std::cout << request.name << ": not started under " << refused_early + refused_late
                  << " limits (" << refused_early << " by execve's error, " << refused_late
                  << " by SIGSEGV past the exec's point of no return); starts from " << lowest_start
                  << " bytes; " << answered << " limits answered, " << fatal << " fatal\n";
    }
}

} // namespace

// What every answered request looks like from outside the process.
#ifndef TESTS_PROCESS_EXPECT_ANSWER_H
#define TESTS_PROCESS_EXPECT_ANSWER_H

#include "run_process.h"

#include <gtest/gtest.h>
#include <string>

inline const std::string header_block = "Pragma: No-Cache\nContent-type: text/plain\n\n";

// The run ended normally with status 0, and its whole output is the header
// block followed by `body`.
inline void expect_answer(const ProcessResult &result, const std::string &body) {
    EXPECT_EQ(result.error, "");
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.output, header_block + body);
}

#endif

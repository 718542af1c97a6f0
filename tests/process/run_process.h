// Runs a program as a child process with an explicit environment and collects
// everything it writes on standard output. When CGI_TEST_WRAPPER is set in the
// test's own environment (for example to "/usr/bin/valgrind -q"), the program
// runs under that command; the wrapper must be given as an absolute path.
// When CGI_TEST_RECORD is set, each run's environment is recorded as a
// request (tests/recorded_requests.h).
#ifndef TESTS_PROCESS_RUN_PROCESS_H
#define TESTS_PROCESS_RUN_PROCESS_H

#include <string>
#include <sys/resource.h>
#include <vector>

// Where the child's standard output goes.
enum class OutputTo {
    pipe,        // a pipe that run_process reads: ProcessResult::output
    full_device, // /dev/full: every write fails with ENOSPC
    closed,      // no descriptor 1 at all
    gone_reader, // a pipe whose reading end is already closed
};

struct ProcessOptions {
    std::vector<std::string> arguments;   // after argv[0]
    std::vector<std::string> environment; // "NAME=value" entries, the whole environment
    bool stdin_open_pipe = false;         // stdin: a pipe kept open (else /dev/null)
    rlim_t address_space_limit = 0;       // RLIMIT_AS for the child; 0 leaves it alone
    OutputTo output_to = OutputTo::pipe;
    bool ignore_sigpipe = false;     // the child starts with SIGPIPE ignored (else default)
    bool report_start = false;       // trace the exec, to tell whether the kernel started it
    void (*before_exec)() = nullptr; // run in the child just before the exec
    int timeout_seconds = 20;
};

struct ProcessResult {
    std::string output;     // all of standard output
    int exit_status = -1;   // when the child exited
    int signal = 0;         // the signal that ended it, or 0
    bool timed_out = false; // killed after the timeout
    bool started = false;   // with report_start: the kernel completed the exec
    std::string error;      // set when the child could not be started
};

ProcessResult run_process(const std::string &program, const ProcessOptions &options);

#endif

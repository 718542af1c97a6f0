#include "run_process.h"

#include "../recorded_requests.h"

#include <cerrno>
#include <cstdint>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<char *> as_argv(std::vector<std::string> &texts) {
    std::vector<char *> pointers;
    for (std::string &text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

ProcessResult run_process(const std::string &program, const ProcessOptions &options) {
    record_request(options.environment);
    ProcessResult result;
    int output_pipe[2];
    int input_pipe[2];
    if (pipe2(output_pipe, O_CLOEXEC) != 0 || pipe2(input_pipe, O_CLOEXEC) != 0) {
        result.error = std::string("pipe: ") + strerror(errno);
        return result;
    }
    // CGI_TEST_WRAPPER, when set, runs the program under a tool such as
    // valgrind: its words come before the program's.
    std::vector<std::string> argument_texts;
    if (const char *wrapper = getenv("CGI_TEST_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string word; words >> word;) {
            argument_texts.push_back(word);
        }
    }
    argument_texts.push_back(program);
    argument_texts.insert(argument_texts.end(), options.arguments.begin(), options.arguments.end());
    std::vector<std::string> environment_texts = options.environment;
    std::vector<char *> argv = as_argv(argument_texts);
    std::vector<char *> envp = as_argv(environment_texts);

    const pid_t pid = fork();
    if (pid < 0) {
        result.error = std::string("fork: ") + strerror(errno);
        return result;
    }
    if (pid == 0) {
        if (options.stdin_open_pipe) {
            dup2(input_pipe[0], STDIN_FILENO);
        } else {
            const int null_input = open("/dev/null", O_RDONLY);
            dup2(null_input, STDIN_FILENO);
        }
        // The child's SIGPIPE is set here, not inherited from the test runner.
        signal(SIGPIPE, options.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        switch (options.output_to) {
        case OutputTo::pipe:
            dup2(output_pipe[1], STDOUT_FILENO);
            break;
        case OutputTo::full_device:
            dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
            break;
        case OutputTo::closed:
            close(STDOUT_FILENO);
            break;
        case OutputTo::gone_reader: {
            int gone[2];
            if (pipe(gone) != 0) {
                _exit(126);
            }
            close(gone[0]);
            dup2(gone[1], STDOUT_FILENO);
            break;
        }
        }
        if (options.address_space_limit != 0) {
            const struct rlimit limit = {options.address_space_limit, options.address_space_limit};
            setrlimit(RLIMIT_AS, &limit);
        }
        // A traced child stops at a completed exec; an exec that fails after
        // the old program is gone (no room for the new one) ends in SIGSEGV
        // from the kernel without that stop.
        if (options.report_start) {
            ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        }
        if (options.before_exec != nullptr) {
            options.before_exec();
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(output_pipe[1]);
    close(input_pipe[0]);

    int status = 0;
    bool reaped = false;
    if (options.report_start) {
        waitpid(pid, &status, 0);
        if (WIFSTOPPED(status)) {
            result.started = WSTOPSIG(status) == SIGTRAP;
            const intptr_t deliver = result.started ? 0 : WSTOPSIG(status);
            ptrace(PTRACE_DETACH, pid, nullptr, reinterpret_cast<void *>(deliver));
        } else {
            reaped = true; // the exec failed early and the child has exited
        }
    }

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        struct pollfd watch = {output_pipe[0], POLLIN, 0};
        if (poll(&watch, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        const ssize_t got = read(output_pipe[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<size_t>(got));
    }
    close(output_pipe[0]);
    close(input_pipe[1]);

    if (!reaped) {
        waitpid(pid, &status, 0);
    }
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

// The handler's confinement: the same filter, installed through the same
// code, tried call by call in children of a test program; then the real
// handler, seen confined from outside while it runs.
#include "handler/confine.h"

#include "../process/expect_answer.h"
#include "../process/run_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <seccomp.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Runs `action` in a child that first confines itself, with descriptor 3 open
// on /dev/null and standard output on a pipe; returns the wait status and
// what the child wrote.
struct ChildResult {
    int status = 0;
    std::string output;
};

ChildResult run_confined(void (*action)(), bool confine = true) {
    ChildResult result;
    int output[2];
    if (pipe(output) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open("/dev/null", O_WRONLY), 3);
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        close(output[1]);
        if (confine) {
            confine_process();
        }
        action();
        _exit(0);
    }
    close(output[1]);
    char buffer[4096];
    for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) > 0;) {
        result.output.append(buffer, static_cast<size_t>(got));
    }
    close(output[0]);
    waitpid(pid, &result.status, 0);
    return result;
}

std::string describe(int status) {
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("signal ") + strsignal(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

// The i386 entry: getpid is call 20 there.
long i386_getpid() {
    long result = 20;
    __asm__ volatile("int $0x80" : "+a"(result) : : "memory");
    return result;
}

struct ForbiddenCall {
    const char *name;
    void (*attempt)();
};

TEST(Confinement, KillsEveryCallTheProgramNeverMakes) {
    const ForbiddenCall calls[] = {
        {"open of a file", [] { syscall(SYS_open, "/etc/hostname", O_RDONLY); }},
        {"openat of a file", [] { syscall(SYS_openat, AT_FDCWD, "/etc/hostname", O_RDONLY); }},
        {"socket", [] { syscall(SYS_socket, AF_INET, SOCK_STREAM, 0); }},
        {"execve",
         [] {
             char *const argv[] = {const_cast<char *>("/bin/true"), nullptr};
             syscall(SYS_execve, "/bin/true", argv, nullptr);
         }},
        {"mmap with PROT_EXEC",
         [] {
             syscall(SYS_mmap, nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS,
                     -1, 0);
         }},
        {"mprotect with PROT_EXEC",
         [] {
             static char page[4096] __attribute__((aligned(4096)));
             syscall(SYS_mprotect, page, sizeof page, PROT_READ | PROT_EXEC);
         }},
        {"write to descriptor 3", [] { syscall(SYS_write, 3, "x", 1); }},
        {"ptrace", [] { syscall(SYS_ptrace, PTRACE_TRACEME, 0, 0, 0); }},
        {"an x32 call (bit 30 set)", [] { syscall(0x40000000 | SYS_getpid); }},
        {"kill", [] { syscall(SYS_kill, getppid(), 0); }},
    };
    for (const ForbiddenCall &call : calls) {
        SCOPED_TRACE(call.name);
        const ChildResult result = run_confined(call.attempt);
        EXPECT_TRUE(WIFSIGNALED(result.status) && WTERMSIG(result.status) == SIGSYS)
            << "ended with " << describe(result.status);
    }
}

TEST(Confinement, TheSameCallsSucceedUnconfined) {
    // So that the deaths above are the filter's doing: unconfined, none of
    // these ends the child (their results do not matter here).
    for (void (*attempt)() :
         {+[] { syscall(SYS_write, 3, "x", 1); }, +[] { syscall(0x40000000 | SYS_getpid); },
          +[] { syscall(SYS_socket, AF_INET, SOCK_STREAM, 0); }}) {
        const ChildResult result = run_confined(attempt, false);
        EXPECT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0)
            << describe(result.status);
    }
}

TEST(Confinement, KillsACallThroughTheI386Entry) {
    // A kernel without 32-bit emulation answers int 0x80 with SIGSEGV before
    // any filter sees it; one with it must leave the filter to kill the call.
    const ChildResult probe = run_confined([] { _exit(i386_getpid() > 0 ? 0 : 1); }, false);
    const bool has_i386_entry = WIFEXITED(probe.status) && WEXITSTATUS(probe.status) == 0;
    std::cout << "this kernel " << (has_i386_entry ? "offers" : "does not offer")
              << " the i386 entry (unconfined int 0x80: " << describe(probe.status) << ")\n";
    const ChildResult result = run_confined([] { i386_getpid(); });
    ASSERT_TRUE(WIFSIGNALED(result.status)) << describe(result.status);
    EXPECT_EQ(WTERMSIG(result.status), has_i386_entry ? SIGSYS : SIGSEGV);
}

TEST(Confinement, LetsTheProgramAllocateWriteAndExit) {
    const ChildResult result = run_confined([] {
        char *large = static_cast<char *>(malloc(1 << 20));
        if (large == nullptr) {
            _exit(10);
        }
        memset(large, 'x', 1 << 20);
        for (int i = 0; i < 16000; ++i) {
            char *block = static_cast<char *>(malloc(2056));
            if (block == nullptr) {
                _exit(11);
            }
            block[0] = 'x';
        }
        free(large);
        struct timespec now;
        if (clock_gettime(CLOCK_REALTIME, &now) != 0 || time(nullptr) <= 0) {
            _exit(12);
        }
        static const char answer[] = "still here\n";
        if (write(STDOUT_FILENO, answer, sizeof answer - 1) != sizeof answer - 1) {
            _exit(13);
        }
        exit(0);
    });
    EXPECT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0)
        << describe(result.status);
    EXPECT_EQ(result.output, "still here\n");
}

// The first address of the handler's RELRO region, as linked.
uint64_t relro_address(const std::string &program) {
    std::ifstream file(program, std::ios::binary);
    Elf64_Ehdr header;
    file.read(reinterpret_cast<char *>(&header), sizeof header);
    for (int i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment;
        file.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof segment));
        file.read(reinterpret_cast<char *>(&segment), sizeof segment);
        if (segment.p_type == PT_GNU_RELRO) {
            return segment.p_vaddr;
        }
    }
    return 0;
}

std::string read_file(const std::string &path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string status_field(const std::string &status, const std::string &name) {
    const size_t at = status.find("\n" + name + ":");
    if (at == std::string::npos) {
        return "";
    }
    const size_t start = status.find_first_not_of(" \t", at + name.size() + 2);
    return status.substr(start, status.find('\n', start) - start);
}

// Whether the page at `offset` in the program's own mappings is writable,
// from /proc/PID/maps: the first mapping of the file is where it was loaded.
std::string page_permissions(pid_t pid, const std::string &program, uint64_t offset) {
    std::istringstream maps(read_file("/proc/" + std::to_string(pid) + "/maps"));
    uint64_t base = 0;
    for (std::string line; std::getline(maps, line);) {
        if (line.size() < program.size() ||
            line.compare(line.size() - program.size(), program.size(), program) != 0) {
            continue;
        }
        const uint64_t start = std::stoull(line.substr(0, line.find('-')), nullptr, 16);
        const uint64_t end = std::stoull(line.substr(line.find('-') + 1), nullptr, 16);
        if (base == 0) {
            base = start;
        }
        const uint64_t address = base + (offset & ~uint64_t(4095));
        if (address >= start && address < end) {
            return line.substr(line.find(' ') + 1, 4);
        }
    }
    return "";
}

// The real handler, with its standard output on a pipe filled in advance, so
// that it blocks on its one write: meanwhile /proc shows its state.
TEST(Confinement, TheHandlerRunsConfined) {
    int output[2];
    ASSERT_EQ(pipe(output), 0);
    fcntl(output[1], F_SETFL, O_NONBLOCK);
    std::string filler;
    const std::string chunk(4096, '.');
    for (ssize_t wrote; (wrote = write(output[1], chunk.data(), chunk.size())) > 0;) {
        filler.append(chunk, 0, static_cast<size_t>(wrote));
    }
    fcntl(output[1], F_SETFL, 0);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        char *const argv[] = {const_cast<char *>(HANDLER_PATH), nullptr};
        char *const envp[] = {const_cast<char *>("QUERY_STRING=action=list&data=two+words"),
                              nullptr};
        execve(HANDLER_PATH, argv, envp);
        _exit(127);
    }
    close(output[1]);

    std::string status;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        status = read_file("/proc/" + std::to_string(pid) + "/status");
        if (status_field(status, "Seccomp") == "2" && status_field(status, "State")[0] == 'S') {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(status_field(status, "Seccomp"), "2") << status;
    EXPECT_EQ(status_field(status, "NoNewPrivs"), "1");
    const uint64_t relro = relro_address(HANDLER_PATH);
    ASSERT_NE(relro, 0u) << "the handler has no RELRO region";
    EXPECT_EQ(page_permissions(pid, HANDLER_PATH, relro), "r--p")
        << "the RELRO region is not read-only while the handler runs";

    std::string written;
    char buffer[65536];
    for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) > 0;) {
        written.append(buffer, static_cast<size_t>(got));
    }
    close(output[0]);
    int exit_status = 0;
    waitpid(pid, &exit_status, 0);
    EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0) << describe(exit_status);
    EXPECT_EQ(written, filler + header_block + "List: two words\n");
}

// A kernel that refuses the filter, played by a filter of the test's own that
// fails the handler's PR_SET_SECCOMP and seccomp() with EINVAL.
void refuse_seccomp() {
    scmp_filter_ctx refuse = seccomp_init(SCMP_ACT_ALLOW);
    seccomp_rule_add(refuse, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(prctl), 1,
                     SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP));
    seccomp_rule_add(refuse, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(seccomp), 0);
    if (seccomp_load(refuse) != 0) {
        _exit(125);
    }
}

TEST(Confinement, TheHandlerStillAnswersWhereTheKernelRefusesTheFilter) {
    ProcessOptions options;
    options.environment = {"QUERY_STRING=action=register&data=x"};
    options.before_exec = refuse_seccomp;
    expect_answer(run_process(HANDLER_PATH, options), "Register: x\n");
}

} // namespace

// The handler's confinement: the same code tried call by call in children of
// a test program, in strict mode and under the fallback filter; decoding
// done confined; and the real handler seen confined from outside while it
// runs, under each kind of host.
#include "handler/confine.h"
#include "host_filters.h"

#include "../process/expect_answer.h"
#include "cgi/cgi.h"
#include "model.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Where the child stands when it confines itself: alone, or under a filter
// of its host, which makes the kernel refuse strict mode.
enum class Host { none, allowing_filter };

struct ChildResult {
    int status = 0;
    std::string output;
};

// Runs `action` in a child with descriptor 3 open on /dev/null (a descriptor
// a web server passed on) and standard output on a pipe; the child confines
// itself first unless told not to, and ends by the exit call when `action`
// returns. Returns the wait status and what the child wrote.
ChildResult run_child(void (*action)(), Host host, bool confine = true) {
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
        if (host == Host::allowing_filter && host_allow_all() != 0) {
            _exit(125);
        }
        if (confine) {
            confine_process();
        }
        action();
        end_process(0);
    }
    close(output[1]);
    char buffer[65536];
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

// Strict mode kills with SIGKILL; the fallback filter with SIGSYS.
struct Confinement {
    const char *name;
    Host host;
    int kill_signal;
    const char *kill_signal_name;
};
const Confinement confinements[] = {
    {"strict mode", Host::none, SIGKILL, "SIGKILL"},
    {"the filter under a host's filter", Host::allowing_filter, SIGSYS, "SIGSYS"},
};

#if defined(__x86_64__)
// The i386 entry: getpid is call 20 there.
long i386_getpid() {
    long result = 20;
    __asm__ volatile("int $0x80" : "+a"(result) : : "memory");
    return result;
}
#endif

// 32-bit ARM has mmap2 alone.
#if defined(SYS_mmap)
const long mmap_call = SYS_mmap;
#else
const long mmap_call = SYS_mmap2;
#endif

struct ForbiddenCall {
    const char *name;
    void (*attempt)();
};

const ForbiddenCall forbidden_calls[] = {
    {"openat of a file", [] { syscall(SYS_openat, AT_FDCWD, "/etc/hostname", O_RDONLY); }},
    {"socket", [] { syscall(SYS_socket, AF_INET, SOCK_STREAM, 0); }},
    {"execve",
     [] {
         char *const argv[] = {const_cast<char *>("/bin/true"), nullptr};
         syscall(SYS_execve, "/bin/true", argv, nullptr);
     }},
    {"mmap of memory",
     [] {
         syscall(mmap_call, nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1,
                 0);
     }},
    {"brk", [] { syscall(SYS_brk, 0); }},
    {"mprotect",
     [] {
         static char page[4096] __attribute__((aligned(4096)));
         syscall(SYS_mprotect, page, sizeof page, PROT_READ);
     }},
    {"clock_gettime as a system call",
     [] {
         struct timespec now;
         syscall(SYS_clock_gettime, CLOCK_REALTIME, &now);
     }},
    {"writev to standard output",
     [] {
         struct iovec piece = {const_cast<char *>("x"), 1};
         syscall(SYS_writev, STDOUT_FILENO, &piece, 1);
     }},
    {"exit_group", [] { syscall(SYS_exit_group, 0); }},
#if defined(__x86_64__)
    {"an x32 call (bit 30 set)", [] { syscall(0x40000000 | SYS_getpid); }},
#endif
#if defined(__arm__)
    // One of 32-bit ARM's own calls, numbered after the common table.
    {"an ARM private call (cacheflush)",
     [] {
         static char code[64];
         syscall(__ARM_NR_cacheflush, code, code + sizeof code, 0);
     }},
#endif
};

TEST(Confinement, KillsEveryCallButReadWriteAndExit) {
    for (const Confinement &confinement : confinements) {
        int killed = 0;
        for (const ForbiddenCall &call : forbidden_calls) {
            SCOPED_TRACE(std::string(call.name) + " in " + confinement.name);
            const ChildResult result = run_child(call.attempt, confinement.host);
            const bool as_expected =
                WIFSIGNALED(result.status) && WTERMSIG(result.status) == confinement.kill_signal;
            killed += as_expected;
            EXPECT_TRUE(as_expected) << "ended with " << describe(result.status);
        }
        std::cout << confinement.name << ": " << killed << " of "
                  << sizeof forbidden_calls / sizeof forbidden_calls[0]
                  << " forbidden calls killed by " << confinement.kill_signal_name << "\n";
    }
}

TEST(Confinement, TheSameCallsEndNormallyUnconfined) {
    // So that the deaths above are the confinement's doing.
    for (const ForbiddenCall &call : forbidden_calls) {
        SCOPED_TRACE(call.name);
        const ChildResult result = run_child(call.attempt, Host::none, false);
        EXPECT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0)
            << describe(result.status);
    }
}

TEST(Confinement, LeavesWritingToStandardOutputAndExitingButNoInheritedDescriptor) {
    for (const Confinement &confinement : confinements) {
        SCOPED_TRACE(confinement.name);
        const ChildResult result = run_child(
            [] {
                // Descriptor 3 was open before the confinement closed it.
                const bool closed = syscall(SYS_write, 3, "x", 1) < 0 && errno == EBADF;
                const char *answer = closed ? "EBADF, still here\n" : "open, still here\n";
                const size_t length = strlen(answer);
                end_process(write(STDOUT_FILENO, answer, length) == ssize_t(length) ? 7 : 8);
            },
            confinement.host);
        EXPECT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 7)
            << describe(result.status);
        EXPECT_EQ(result.output, "EBADF, still here\n");
    }
}

TEST(Confinement, KillsACallThroughTheI386Entry) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "an x86-64 call: no other ABI to try here (on arm64, a 64-bit process "
                    "cannot make an aarch32 call)";
#else
    // A kernel without 32-bit emulation answers int 0x80 with SIGSEGV before
    // seccomp sees it; one with it must leave the confinement to kill the call.
    const ChildResult probe =
        run_child([] { end_process(i386_getpid() > 0 ? 0 : 1); }, Host::none, false);
    const bool has_i386_entry = WIFEXITED(probe.status) && WEXITSTATUS(probe.status) == 0;
    std::cout << "this kernel " << (has_i386_entry ? "offers" : "does not offer")
              << " the i386 entry (unconfined int 0x80: " << describe(probe.status) << ")\n";
    for (const Confinement &confinement : confinements) {
        SCOPED_TRACE(confinement.name);
        const ChildResult result = run_child([] { i386_getpid(); }, confinement.host);
        ASSERT_TRUE(WIFSIGNALED(result.status)) << describe(result.status);
        EXPECT_EQ(WTERMSIG(result.status), has_i386_entry ? confinement.kill_signal : SIGSEGV);
    }
#endif
}

// Decoding, confined: every stored pair written as name, NUL, value, NUL.
std::string serialize(const ModelPairs &pairs) {
    std::string bytes;
    for (const auto &pair : pairs) {
        bytes += pair.first + '\0' + pair.second + '\0';
    }
    return bytes;
}

std::string decode_query;

void prepare_confine_decode() {
    setenv("QUERY_STRING", decode_query.c_str(), 1);
    cgi_prepare_request();
    confine_process();
    cgi_decode_request();
    // The longest list written this way is the query string and two NULs a
    // pair: well under this buffer, which is in place before the confinement.
    static char list[1 << 18];
    size_t length = 0;
    for (const struct cgi_param *node = cgi_request.params; node != nullptr; node = node->next) {
        for (const char *text : {node->name, node->value}) {
            const size_t size = strlen(text) + 1;
            if (length + size > sizeof list) {
                end_process(3);
            }
            memcpy(list + length, text, size);
            length += size;
        }
    }
    for (size_t written = 0; written < length;) {
        const ssize_t wrote = write(STDOUT_FILENO, list + written, length - written);
        if (wrote <= 0) {
            end_process(4);
        }
        written += static_cast<size_t>(wrote);
    }
}

std::string without_nul_bytes(const std::string &bytes) {
    std::string text;
    for (char c : bytes) {
        if (c != '\0') {
            text += c;
        }
    }
    return text;
}

TEST(Confinement, DecodingMakesNoSystemCall) {
    std::vector<std::pair<std::string, std::string>> queries;
    std::string largest = "action=list&data=x";
    for (int i = 0; i < 15998; ++i) {
        largest += "&a=1";
    }
    queries.emplace_back("16,000 pairs", largest);
    std::string every_byte;
    for (int byte = 1; byte <= 0xff; ++byte) {
        char escape[4];
        snprintf(escape, sizeof escape, "%%%02x", byte);
        every_byte += std::string(1, static_cast<char>(byte)) + escape;
    }
    queries.emplace_back("every raw and escaped byte", every_byte);
    DIR *seeds = opendir(FUZZ_SEEDS_DIR);
    ASSERT_NE(seeds, nullptr) << FUZZ_SEEDS_DIR;
    for (struct dirent *entry; (entry = readdir(seeds)) != nullptr;) {
        if (entry->d_name[0] != '.') {
            std::ifstream file(std::string(FUZZ_SEEDS_DIR) + "/" + entry->d_name, std::ios::binary);
            std::stringstream bytes;
            bytes << file.rdbuf();
            queries.emplace_back(std::string("the fuzz seed ") + entry->d_name,
                                 without_nul_bytes(bytes.str()));
        }
    }
    closedir(seeds);
    ASSERT_GT(queries.size(), 3u) << "no fuzz seeds in " << FUZZ_SEEDS_DIR;

    for (const auto &query : queries) {
        SCOPED_TRACE(query.first);
        decode_query = query.second;
        const ChildResult result = run_child(prepare_confine_decode, Host::none, false);
        EXPECT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0)
            << describe(result.status);
        const ModelPairs pairs = model_decode(query.second.substr(0, CGI_QUERY_SIZE - 2));
        const std::string expected = serialize(pairs);
        const auto differ = std::mismatch(result.output.begin(), result.output.end(),
                                          expected.begin(), expected.end());
        EXPECT_TRUE(result.output == expected)
            << result.output.size() << " bytes written, " << expected.size() << " expected for "
            << pairs.size() << " pairs; the first difference at byte "
            << (differ.first - result.output.begin());
    }
}

// The first address of the handler's RELRO region, as linked, in a 64-bit
// or a 32-bit program.
template <typename Header, typename Segment> uint64_t relro_address(std::ifstream &file) {
    Header header;
    file.seekg(0);
    file.read(reinterpret_cast<char *>(&header), sizeof header);
    for (int i = 0; i < header.e_phnum; ++i) {
        Segment segment;
        file.seekg(static_cast<std::streamoff>(header.e_phoff + i * sizeof segment));
        file.read(reinterpret_cast<char *>(&segment), sizeof segment);
        if (segment.p_type == PT_GNU_RELRO) {
            return segment.p_vaddr;
        }
    }
    return 0;
}

uint64_t relro_address(const std::string &program) {
    std::ifstream file(program, std::ios::binary);
    unsigned char ident[EI_NIDENT] = {};
    file.read(reinterpret_cast<char *>(ident), sizeof ident);
    return ident[EI_CLASS] == ELFCLASS32 ? relro_address<Elf32_Ehdr, Elf32_Phdr>(file)
                                         : relro_address<Elf64_Ehdr, Elf64_Phdr>(file);
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

// The permissions of the page at `offset` in the program's own mappings, from
// /proc/PID/maps: the first mapping of the file is where it was loaded.
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

// The descriptors a process has open, from /proc/PID/fd, in ascending order.
std::vector<int> open_descriptors(const std::string &proc) {
    std::vector<int> descriptors;
    DIR *listing = opendir((proc + "/fd").c_str());
    if (listing == nullptr) {
        return descriptors;
    }
    for (struct dirent *entry; (entry = readdir(listing)) != nullptr;) {
        if (entry->d_name[0] != '.') {
            descriptors.push_back(atoi(entry->d_name));
        }
    }
    closedir(listing);
    std::sort(descriptors.begin(), descriptors.end());
    return descriptors;
}

// Descriptors that a web server passes on, each open on a file that the
// handler could read.
const int inherited_descriptors[] = {5, 10, 251};

struct HandlerSeen {
    std::string status;           // /proc/PID/status while it blocks on its write
    std::string relro;            // the RELRO page's permissions meanwhile
    std::vector<int> descriptors; // its open descriptors meanwhile
    std::string output;           // what it wrote after the filler
    std::string error;            // what it wrote to standard error
    int exit_status = -1;
};

// The real handler, started through seccomp_host HOST (or directly when HOST
// is empty) for QUERY, with the inherited descriptors above open and its
// standard output on a pipe filled in advance, so that it blocks on its one
// write: meanwhile /proc shows its state.
HandlerSeen watch_handler(const std::string &host, const std::string &query) {
    HandlerSeen seen;
    int output[2];
    int error[2];
    if (pipe(output) != 0 || pipe(error) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return seen;
    }
    fcntl(output[1], F_SETFL, O_NONBLOCK);
    std::string filler;
    const std::string chunk(4096, '.');
    for (ssize_t wrote; (wrote = write(output[1], chunk.data(), chunk.size())) > 0;) {
        filler.append(chunk, 0, static_cast<size_t>(wrote));
    }
    fcntl(output[1], F_SETFL, 0);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(error[1], STDERR_FILENO);
        for (int descriptor : {output[0], output[1], error[0], error[1]}) {
            close(descriptor);
        }
        for (int descriptor : inherited_descriptors) {
            const int file = open(HANDLER_PATH, O_RDONLY);
            dup2(file, descriptor);
            close(file);
        }
        std::vector<std::string> words;
        if (!host.empty()) {
            words = {SECCOMP_HOST_PATH, host};
        }
        words.push_back(HANDLER_PATH);
        std::vector<char *> argv;
        for (std::string &word : words) {
            argv.push_back(&word[0]);
        }
        argv.push_back(nullptr);
        std::string variable = "QUERY_STRING=" + query;
        char *const envp[] = {&variable[0], nullptr};
        execve(argv[0], argv.data(), envp);
        _exit(127);
    }
    close(output[1]);
    close(error[1]);

    const std::string proc = "/proc/" + std::to_string(pid);
    char *handler_path = realpath(HANDLER_PATH, nullptr);
    const std::string handler = handler_path != nullptr ? handler_path : HANDLER_PATH;
    free(handler_path);
    char exe[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        seen.status = read_file(proc + "/status");
        const ssize_t size = readlink((proc + "/exe").c_str(), exe, sizeof exe - 1);
        const bool is_handler = size > 0 && std::string(exe, static_cast<size_t>(size)) == handler;
        if (is_handler && status_field(seen.status, "State")[0] == 'S') {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    seen.relro = page_permissions(pid, HANDLER_PATH, relro_address(HANDLER_PATH));
    seen.descriptors = open_descriptors(proc);

    char buffer[65536];
    std::string written;
    for (ssize_t got; (got = read(output[0], buffer, sizeof buffer)) > 0;) {
        written.append(buffer, static_cast<size_t>(got));
    }
    close(output[0]);
    for (ssize_t got; (got = read(error[0], buffer, sizeof buffer)) > 0;) {
        seen.error.append(buffer, static_cast<size_t>(got));
    }
    close(error[0]);
    int exit_status = 0;
    waitpid(pid, &exit_status, 0);
    seen.exit_status = WIFEXITED(exit_status) ? WEXITSTATUS(exit_status) : -1;
    EXPECT_EQ(written.substr(0, filler.size()), filler);
    seen.output = written.substr(std::min(filler.size(), written.size()));
    return seen;
}

const std::string typical_query = "action=list&data=two+words";

// The largest request the design allows: 16,000 pairs in some 64,000 characters.
std::string largest_query() {
    std::string query = "action=list&data=x";
    for (int i = 0; i < 15998; ++i) {
        query += "&a=1";
    }
    return query;
}

const std::string fatal_response = "Status: 500 Internal Server Error\n"
                                   "Content-type: text/plain\n"
                                   "\n"
                                   "Fatal Error\n";

// What the handler does with the descriptors it inherited.
enum class Inherited {
    closed,             // only 0, 1 and 2 open while it blocks on its write
    left_open_and_said, // still open, and one line on standard error says so
    not_reached,        // the fatal response comes before the confinement
};

struct HostCase {
    const char *name;
    const char *host;           // seccomp_host's argument, or "" for none
    std::string query;          // QUERY_STRING
    std::string output;         // the whole answer
    int exit_status;            // 0 for an answer, 4 for the fatal response
    const char *seccomp;        // "Seccomp:" in /proc/PID/status
    const char *filters;        // "Seccomp_filters:", or null when not checked
    const char *no_new_privs;   // "NoNewPrivs:", or null when not checked
    Inherited inherited;        // what became of the inherited descriptors
    const char *filter_refusal; // how the unconfined line ends, or null when confined
};

TEST(Confinement, TheHandlerRunsConfinedUnderEveryHost) {
    // The texts of EINVAL and EPERM, as glibc and musl write them.
    const std::string einval = "(Invalid argument)";
    const std::string eperm = "(Operation not permitted)";
    const std::string answer = header_block + "List: two words\n";
    const std::string largest = largest_query();
    const HostCase cases[] = {
        {"no filter of the host: strict mode", "", typical_query, answer, 0, "1", "0", nullptr,
         Inherited::closed, nullptr},
        {"a host's allowing filter: the filter stacked on it", "allow", typical_query, answer, 0,
         "2", "2", "1", Inherited::closed, nullptr},
        {"a host that refuses seccomp", "refuse", typical_query, answer, 0, "2", "1", nullptr,
         Inherited::closed, "(Invalid argument)"},
        {"a full filter stack", "full", typical_query, answer, 0, "2", nullptr, nullptr,
         Inherited::closed, "memory)"},
        // Memory the kernel cannot give: the fatal response, before confinement.
        {"madvise answered ENOMEM, the typical request", "madvise-enomem", typical_query,
         fatal_response, 4, "2", "1", nullptr, Inherited::not_reached, nullptr},
        {"madvise answered ENOMEM, 16,000 pairs", "madvise-enomem", largest, fatal_response, 4, "2",
         "1", nullptr, Inherited::not_reached, nullptr},
        {"mmap answered ENOMEM, the typical request", "mmap-enomem", typical_query, fatal_response,
         4, "2", "1", nullptr, Inherited::not_reached, nullptr},
        {"mmap answered ENOMEM, 16,000 pairs", "mmap-enomem", largest, fatal_response, 4, "2", "1",
         nullptr, Inherited::not_reached, nullptr},
        // No MADV_POPULATE_WRITE: the pages touched one by one, and the answer.
        {"madvise answered EINVAL, the typical request", "madvise-einval", typical_query, answer, 0,
         "2", "2", "1", Inherited::closed, nullptr},
        {"madvise answered EINVAL, 16,000 pairs", "madvise-einval", largest,
         header_block + "List: x\n", 0, "2", "2", "1", Inherited::closed, nullptr},
        // close_range refused or missing: the descriptors closed one by one.
        {"close_range answered EPERM", "close_range-eperm", typical_query, answer, 0, "2", "2", "1",
         Inherited::closed, nullptr},
        {"close_range answered ENOSYS", "close_range-enosys", typical_query, answer, 0, "2", "2",
         "1", Inherited::closed, nullptr},
        {"close_range and close answered EPERM: left open, and said", "close-eperm", typical_query,
         answer, 0, "2", "2", "1", Inherited::left_open_and_said, nullptr},
    };
    for (const HostCase &c : cases) {
        SCOPED_TRACE(c.name);
        const HandlerSeen seen = watch_handler(c.host, c.query);
        std::cout << c.name << ": Seccomp: " << status_field(seen.status, "Seccomp")
                  << ", NoNewPrivs: " << status_field(seen.status, "NoNewPrivs")
                  << ", Seccomp_filters: " << status_field(seen.status, "Seccomp_filters")
                  << ", RELRO page " << seen.relro << "\n";
        EXPECT_EQ(seen.exit_status, c.exit_status);
        EXPECT_EQ(seen.output, c.output);
        EXPECT_EQ(status_field(seen.status, "Seccomp"), c.seccomp) << seen.status;
        if (c.filters != nullptr) {
            EXPECT_EQ(status_field(seen.status, "Seccomp_filters"), c.filters);
        }
        if (c.no_new_privs != nullptr) {
            EXPECT_EQ(status_field(seen.status, "NoNewPrivs"), c.no_new_privs);
        }
        EXPECT_EQ(seen.relro, "r--p") << "the RELRO region is not read-only while it runs";
        if (c.inherited == Inherited::closed) {
            EXPECT_EQ(seen.descriptors, std::vector<int>({0, 1, 2}));
        } else if (c.inherited == Inherited::left_open_and_said) {
            for (int descriptor : inherited_descriptors) {
                EXPECT_NE(std::count(seen.descriptors.begin(), seen.descriptors.end(), descriptor),
                          0)
                    << descriptor;
            }
            // One line in the web server's error log, naming both refusals.
            EXPECT_EQ(seen.error, "handler: inherited descriptors left open: close_range refused " +
                                      eperm + ", closing one by one refused " + eperm + "\n");
            continue;
        }
        if (c.filter_refusal == nullptr) {
            EXPECT_EQ(seen.error, "");
            continue;
        }
        // One line in the web server's error log, naming both refusals.
        const std::string start = "handler: running unconfined: seccomp strict mode refused " +
                                  einval + ", filter refused ";
        const std::string end = std::string(c.filter_refusal) + "\n";
        EXPECT_EQ(seen.error.substr(0, start.size()), start);
        EXPECT_GE(seen.error.size(), end.size());
        EXPECT_EQ(seen.error.substr(seen.error.size() - std::min(end.size(), seen.error.size())),
                  end);
        EXPECT_EQ(std::count(seen.error.begin(), seen.error.end(), '\n'), 1);
    }
}

} // namespace

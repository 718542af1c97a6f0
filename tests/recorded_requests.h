// The requests the unit and process tests make, written down as they are
// made, so that another runner can put the very same requests to other
// builds of the program (tests/differential/ replays them on the cross-built
// handlers and compares every answer with this machine's).
//
// When CGI_TEST_RECORD names a file in the test program's environment, each
// request is appended to it as its environment: every "NAME=value" entry
// ended by a NUL, and the request ended by one more NUL. An environment entry
// cannot hold a NUL, so the file needs no other framing.
#ifndef TESTS_RECORDED_REQUESTS_H
#define TESTS_RECORDED_REQUESTS_H

#include <fcntl.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

// Appends one request; does nothing unless CGI_TEST_RECORD is set. The
// record leaves in one write on a descriptor opened for appending, so that
// test programs recording at once never interleave their records.
inline void record_request(const std::vector<std::string> &environment) {
    const char *path = getenv("CGI_TEST_RECORD");
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    std::string record;
    for (const std::string &entry : environment) {
        // What execve would pass: the entry up to a NUL, if it has one.
        const std::string passed = entry.substr(0, entry.find('\0'));
        if (!passed.empty()) {
            record += passed;
            record += '\0';
        }
    }
    record += '\0';
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        abort(); // a runner that asked for a record must not get a short one
    }
    const ssize_t written = write(fd, record.data(), record.size());
    close(fd);
    if (written != static_cast<ssize_t>(record.size())) {
        abort();
    }
}

// Reads back every request of a record file; an unreadable file gives none.
inline std::vector<std::vector<std::string>> read_recorded_requests(const std::string &path) {
    std::vector<std::vector<std::string>> requests;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return requests;
    }
    std::string bytes;
    char buffer[65536];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) {
        bytes.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    std::vector<std::string> environment;
    size_t start = 0;
    for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
        if (end == start) {
            requests.push_back(environment);
            environment.clear();
        } else {
            environment.push_back(bytes.substr(start, end - start));
        }
    }
    return requests;
}

#endif

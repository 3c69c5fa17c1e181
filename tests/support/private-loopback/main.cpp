// private-loopback [--private-tmp] PROGRAM [ARGUMENT...]: runs PROGRAM in a network namespace
// of its own with only the loopback interface up (and with --private-tmp an empty /tmp of its
// own), so that what it starts has 127.0.0.1:9977 and /tmp to itself. Where no namespace can be
// made it says so and runs PROGRAM as it is. Exit status: PROGRAM's; 2 for a usage error, 127
// when PROGRAM cannot be run.

#include "tests/support/PrivateLoopback.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* kUsage = "usage: private-loopback [--private-tmp] PROGRAM [ARGUMENT...]\n";

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    bool privateTmp = false;
    if (first < argc &&
        (std::strcmp(argv[first], "-h") == 0 || std::strcmp(argv[first], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (first < argc && std::strcmp(argv[first], "--private-tmp") == 0) {
        privateTmp = true;
        ++first;
    }
    if (first >= argc) {
        std::fprintf(stderr, "private-loopback: no PROGRAM given\n%s", kUsage);
        return 2;
    }
    if (argv[first][0] == '-') {
        std::fprintf(stderr, "private-loopback: unknown option %s\n%s", argv[first], kUsage);
        return 2;
    }
    const std::string problem = OrvaneClient::Testing::EnterPrivateLoopback(privateTmp);
    if (!problem.empty()) {
        std::fprintf(stderr,
                     "private-loopback: no namespace of its own (%s); running %s on the "
                     "machine's own network\n",
                     problem.c_str(),
                     argv[first]);
    }
    execvp(argv[first], argv + first);
    std::fprintf(
        stderr, "private-loopback: cannot run %s: %s\n", argv[first], std::strerror(errno));
    return 127;
}

// Before any test or thread: this executable's tests, and the executables they start, get a
// network namespace of their own, so that 127.0.0.1:9977 is theirs even while the machine runs
// the service (scripts/run-service.sh) or another suite. Where no namespace can be made they
// share the machine's port, as CTest's resource lock on it lets them.

#include "tests/support/PrivateLoopback.h"

#include <cstdio>
#include <string>

namespace {

const bool privateLoopback = [] {
    const std::string problem = OrvaneClient::Testing::EnterPrivateLoopback();
    if (!problem.empty()) {
        std::fprintf(stderr,
                     "service-process-tests: no network namespace of their own (%s); the tests "
                     "use the machine's 127.0.0.1:9977\n",
                     problem.c_str());
    }
    return problem.empty();
}();

}  // namespace

#pragma once

// What every process-level test of the service names: the executables the build made and the
// client's exit codes it checks.

#include <string>
#include <vector>

namespace OrvaneClient::Testing {

inline const std::string ServicePath = ORVANE_SERVICE_PATH;
inline const std::string ClientPath = ORVANE_CLIENT_PATH;
// orvane-client's exit code for an error reply, and for a listener that is not the service
// (tools/orvane-client/ClientExitCode.h).
constexpr int ClientExitErrorReply = 1;
constexpr int ClientExitNotTheService = 8;

// The client's environment for the machine whose SCM `orvane-sc` keeps under `root`: there it
// asks which process is the service's.
inline std::vector<std::string> ClientEnvironment(const std::string& root) {
    return {"WIN32EMU_ROOT=" + root};
}

}  // namespace OrvaneClient::Testing

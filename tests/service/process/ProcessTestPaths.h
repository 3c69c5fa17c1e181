#pragma once

// What every process-level test of the service names: the executables the build made and the
// client's exit codes it checks.

#include <string>

namespace OrvaneClient::Testing {

inline const std::string ServicePath = ORVANE_SERVICE_PATH;
inline const std::string ClientPath = ORVANE_CLIENT_PATH;
// orvane-client's exit code for an error reply (tools/orvane-client/ClientExitCode.h).
constexpr int ClientExitErrorReply = 1;

}  // namespace OrvaneClient::Testing

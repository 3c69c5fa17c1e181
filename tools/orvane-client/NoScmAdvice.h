#pragma once

// What to do when no service control manager answers the client (OpenSCManagerW fails with
// RPC_S_SERVER_UNAVAILABLE, 1722): on the emulated machine, its SCM is an orvane-sc that must
// run for the same host root; on Windows, services.exe itself is not answering.

#include <string>

namespace OrvaneClient {

// One line, without the program's prefix.
std::string NoScmAdvice();

}  // namespace OrvaneClient

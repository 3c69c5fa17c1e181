#pragma once

// `orvane-sc stop`, `interrogate` and `start`: one request to the `orvane-sc run` or `serve`
// under `root`, and what it answered.

#include <string>
#include <windows.h>

namespace OrvaneSc {

// Hands one control to the service. Prints the status line and returns 0; prints why on stderr
// and returns 1 when no SCM runs under `root`, it refuses the control, or it does not answer
// within its own timeout.
int SendControl(const std::string& root, DWORD control);

// Asks `serve` to start the service, as StartServiceW does. Prints "started service=... pid=N"
// and returns 0 once the service process has connected; otherwise prints why and returns 1.
int StartService(const std::string& root, const std::string& serviceName);

}  // namespace OrvaneSc

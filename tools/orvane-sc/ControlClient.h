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

// Asks `serve` to start the service, as StartServiceW does, and waits for it to run. Prints
// "started service=... pid=N" and returns 0 once it reports SERVICE_RUNNING. When it reports
// SERVICE_STOPPED first, prints that status and why, and returns the service's exit code: its
// own error for ERROR_SERVICE_SPECIFIC_ERROR (3 for a held port), else its Win32 exit code, or
// 1 when that does not fit in an exit status. When the start is refused or no answer comes,
// prints why and returns 1.
int StartService(const std::string& root, const std::string& serviceName);

}  // namespace OrvaneSc

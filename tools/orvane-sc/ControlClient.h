#pragma once

// `orvane-sc stop` and `orvane-sc interrogate`: hand one control to the `orvane-sc run` that
// serves `root`, and print what the service reported after handling it.

#include <string>
#include <windows.h>

namespace OrvaneSc {

// Prints the status line and returns 0; prints why on stderr and returns 1 when no SCM runs
// under `root`, it refuses the control, or it does not answer within its own timeout.
int SendControl(const std::string& root, DWORD control);

}  // namespace OrvaneSc

#pragma once

// How orvane-sc shows the SCM's vocabulary: one line per status report that a person reads and
// a script parses (key=value fields, names with their numbers).

#include <string>
#include <windows.h>
#include <winsvc.h>

namespace OrvaneSc {

// "RUNNING(4)"; an unknown state is "UNKNOWN(9)".
std::string StateText(DWORD state);
// "STOP(0x1)", "STOP|SHUTDOWN(0x5)", "NONE(0x0)"; bits without a name are shown in hex.
std::string AcceptedText(DWORD accepted);
// "STOP(1)", "INTERROGATE(4)"; codes 128-255 are "USER(200)", others "CONTROL(99)".
std::string ControlText(DWORD control);
// "state=RUNNING(4) accepted=STOP(0x1) exit=0 specific=0 checkpoint=0 wait=0 type=0x10"
std::string StatusText(const SERVICE_STATUS& status);
// What an SCM error code means to the person who asked for a control.
std::string ControlErrorText(DWORD error);

}  // namespace OrvaneSc

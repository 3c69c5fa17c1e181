#pragma once

// Machine events: what the emulated machine tells the service control manager that a person
// watches (orvane-sc prints each as an `event` line), such as a program it launched. Not part
// of the Win32 surface: system code never includes this.

#include "Win32Emu/ScmMessage.h"

#include <string>

namespace Win32Emu {

// Sends `event <kind> <fields>` (Win32Emu/ScmMessage.h) to the SCM the process's service control
// dispatcher is connected to. Without a running dispatcher, or with the in-process SCM of a
// test, nobody watches and nothing is sent. Thread-safe; never blocks for long.
void ReportMachineEvent(const std::string& kind, const ScmMessage::EventFields& fields);

}  // namespace Win32Emu

#pragma once

// The one header through which system code reaches Win32. On Windows the SDK answers these
// includes; elsewhere the emulated Windows does, with headers of the same names.

// clang-format off
#include <windows.h>
#include <wtsapi32.h>
#include <userenv.h>
#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <shlobj.h>
// clang-format on

#include <string>

namespace OrvaneClient {

// The host file-system path of a Windows path (C:\ProgramData\...), for the dependencies that
// open files themselves (the log file channel, directory creation). The path itself on Windows;
// the emulated drive map elsewhere. Never fails: a path on no mapped drive comes back unchanged.
std::string HostPathFromWindowsPath(const std::string& windowsPath);

}  // namespace OrvaneClient

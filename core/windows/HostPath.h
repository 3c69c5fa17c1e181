#pragma once

#include <string>

namespace OrvaneClient {

// The host file-system path of a Windows path (C:\ProgramData\...), for the dependencies that
// open files themselves (the log file channel, directory creation). The path itself on Windows;
// the emulated drive map elsewhere. Never fails: a path on no mapped drive comes back unchanged.
std::string HostPathFromWindowsPath(const std::string& windowsPath);

}  // namespace OrvaneClient

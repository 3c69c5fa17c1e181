#pragma once

// Where the emulated drives lie on the host, for the programs' own code that hands a Windows path
// to something that opens host files itself. Not part of the Win32 surface.

#include <string>

namespace Win32Emu {

// The host path of a Windows path on an emulated drive (C:\a\b -> <hostRoot>/C/a/b); any other
// path (relative, drive-relative, UNC) comes back unchanged. Never fails.
std::string HostPathFromWindowsPath(const std::string& windowsPath);

}  // namespace Win32Emu

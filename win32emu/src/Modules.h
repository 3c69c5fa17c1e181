#pragma once

// The modules the emulated process has loaded and the functions they export: the emulated calls
// themselves, so that a pointer from GetProcAddress can be called.

#include <string>
#include <windows.h>

namespace Win32Emu {

// "kernel32.dll!GetProductInfo" for an emulated export (module name without regard to case, with
// or without ".dll" or a directory), else empty.
std::string ExportEntryName(const std::string& module, const std::string& function);

}  // namespace Win32Emu

#pragma once

// The modules the emulated process has loaded and the functions they export: the emulated calls
// themselves, so that a pointer from GetProcAddress can be called.

#include <string>
#include <windows.h>

namespace Win32Emu {

// "kernel32.dll!GetProductInfo" for an emulated export (module name without regard to case, with
// or without ".dll" or a directory), else empty.
std::string ExportEntryName(const std::string& module, const std::string& function);

// Whether `function` is an emulated export that fault injection can make fail: not one of the
// calls that cannot fail on Windows.
bool IsFaultableCall(const std::string& function);
// Whether `type` names a kind of emulated object ("Token", "Event"...).
bool IsObjectTypeName(const std::string& type);

}  // namespace Win32Emu

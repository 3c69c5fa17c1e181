#pragma once

// The modules the emulated process has loaded and the functions they export: the emulated calls
// themselves, so that a pointer from GetProcAddress can be called.

#include <cstdint>
#include <string>
#include <windows.h>

namespace Win32Emu {

struct LoadedModule {
    const char* name;  // the file name in lower case ("kernel32.dll")
    std::uintptr_t base;
};

// Where a 32-bit executable is loaded: the handle of the process's own module.
constexpr std::uintptr_t ExecutableBase = 0x00400000;

// The loaded module of that name (as the loader matches names: the file name only, without
// regard to case, ".dll" when no extension is given), or at that handle; null for none.
const LoadedModule* LoadedModuleNamed(const std::string& name);
const LoadedModule* LoadedModuleAt(HMODULE handle);
// Null, or the handle of the process's own module.
bool IsExecutableModule(HMODULE handle);
// Whether the machine's Windows version exports `function` (some appeared after Windows XP).
bool ExportedOnThisVersion(const std::string& function);
// The emulated call `module` ("kernel32.dll") exports as `function`, or null.
FARPROC ExportAddress(const std::string& module, const std::string& function);

// "kernel32.dll!GetProductInfo" for an emulated export (module name without regard to case, with
// or without ".dll" or a directory), else empty.
std::string ExportEntryName(const std::string& module, const std::string& function);

// Whether `function` is an emulated export that fault injection can make fail: not one of the
// calls that cannot fail on Windows.
bool IsFaultableCall(const std::string& function);
// Whether `type` names a kind of emulated object ("Token", "Event"...).
bool IsObjectTypeName(const std::string& type);

}  // namespace Win32Emu

#pragma once

// On the emulated machine a conformance test also checks, as every emulated test does, that it
// released every handle and LocalAlloc block it obtained. What a test needs that the system never
// calls for (making files, hard links and keys) the machine is told directly.

#include "tests/support/EmulatedMachineTest.h"

#include <Win32Emu/Machine.h>
#include <string>

namespace OrvaneClient::Testing {

using ConformanceTest = EmulatedMachineTest;

namespace Detail {
// The tests' names are ASCII.
inline std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}
}  // namespace Detail

// An empty file at `path` (C:\...), unless one is there.
inline bool MakeFile(const std::wstring& path) {
    Win32Emu::Machine::instance().setFile(Detail::Narrow(path));
    return true;
}

// `name` another name of the file `existing`, as CreateHardLinkW makes one.
inline bool MakeHardLink(const std::wstring& name, const std::wstring& existing) {
    Win32Emu::Machine::instance().setHardLink(Detail::Narrow(name), Detail::Narrow(existing));
    return true;
}

// The key HKEY_LOCAL_MACHINE\`subKey`, made if missing.
inline bool MakeMachineKey(const std::wstring& subKey) {
    Win32Emu::Machine::instance().createRegistryKey("HKEY_LOCAL_MACHINE\\" +
                                                    Detail::Narrow(subKey));
    return true;
}

}  // namespace OrvaneClient::Testing

#pragma once

// Functions that older kernel32 versions lack are looked up by name at run time.

#include "core/windows/Win32Api.h"

namespace OrvaneClient {

// The kernel32 export `name` as a `Function` pointer; null when kernel32 is not loaded or does
// not export it. Leaves the last error as GetModuleHandleA or GetProcAddress set it.
template <typename Function>
Function FindKernel32Function(const char* name) {
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (kernel32 == nullptr) {
        return nullptr;
    }
    // Through void (*)(), the generic function pointer type, so the cast states its intent.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)));
}

}  // namespace OrvaneClient

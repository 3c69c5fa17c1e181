// Local memory: LocalAlloc and LocalFree, every block counted until it is freed.

#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"

#include <cstdlib>
#include <cstring>

namespace Win32Emu {

void* AllocateLocal(size_t bytes, const char* call) {
    // A zero-byte request still yields a distinct block, as on Windows.
    void* block = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (block != nullptr) {
        Model().addLocalAllocation(block, call);
    }
    return block;
}

}  // namespace Win32Emu

using namespace Win32Emu;

extern "C" {

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    if (InjectedFailure("LocalAlloc")) {
        return nullptr;
    }
    // Movable and discardable blocks (handles to be locked) are not emulated.
    if (RefuseUnmodelled((uFlags & ~static_cast<UINT>(LMEM_ZEROINIT)) != LMEM_FIXED)) {
        return nullptr;
    }
    void* block = AllocateLocal(uBytes, "LocalAlloc");
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
    if (hMem == nullptr) {
        return nullptr;
    }
    if (InjectedFailure("LocalFree")) {
        return hMem;
    }
    // Only blocks of LocalAlloc: anything else is reported, never handed to free().
    if (!Model().removeLocalAllocation(hMem)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return hMem;
    }
    std::free(hMem);
    return nullptr;
}

}  // extern "C"

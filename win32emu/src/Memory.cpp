// Local memory: LocalAlloc and LocalFree, every block counted until it is freed.

#include "ApiSupport.h"
#include "MachineModel.h"

#include <cstdlib>
#include <cstring>

using namespace Win32Emu;

extern "C" {

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    if (InjectedFailure("LocalAlloc")) {
        return nullptr;
    }
    if ((uFlags & ~static_cast<UINT>(LMEM_ZEROINIT)) != LMEM_FIXED) {
        // Movable and discardable blocks (handles to be locked) are not emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    // A zero-byte request still yields a distinct block, as on Windows.
    void* block = std::malloc(uBytes == 0 ? 1 : uBytes);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if ((uFlags & LMEM_ZEROINIT) != 0) {
        std::memset(block, 0, uBytes);
    }
    Model().addLocalAllocation(block);
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

#pragma once

#include "core/util/ScopedResource.h"
#include "core/windows/LastErrorGuard.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

struct HandleTraits {
    using Value = HANDLE;
    using ErrorGuard = LastErrorGuard;
    static Value Empty() { return nullptr; }
    // Win32 uses both null and INVALID_HANDLE_VALUE for "no handle".
    static bool IsValid(Value handle) {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static bool Close(Value handle) { return CloseHandle(handle) != FALSE; }
};

// Owns a kernel object handle (event, token, process, snapshot) and closes it with CloseHandle.
// Empty is either null or INVALID_HANDLE_VALUE. close() reports a failed CloseHandle with its last
// error; every other close keeps the last error as it found it.
using ScopedHandle = ScopedResource<HandleTraits>;

}  // namespace OrvaneClient

#pragma once

#include "core/util/ScopedResource.h"
#include "core/windows/LastErrorGuard.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

struct FindHandleTraits {
    using Value = HANDLE;
    using ErrorGuard = LastErrorGuard;
    static Value Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Value handle) { return handle != INVALID_HANDLE_VALUE; }
    static bool Close(Value handle) { return FindClose(handle) != FALSE; }
};

// Owns a directory search (FindFirstFileExW) and ends it with FindClose.
using ScopedFindHandle = ScopedResource<FindHandleTraits>;

}  // namespace OrvaneClient

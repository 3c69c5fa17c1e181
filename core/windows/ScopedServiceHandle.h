#pragma once

#include "core/util/ScopedResource.h"
#include "core/windows/LastErrorGuard.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

struct ServiceHandleTraits {
    using Value = SC_HANDLE;
    using ErrorGuard = LastErrorGuard;
    static Value Empty() { return nullptr; }
    static bool IsValid(Value handle) { return handle != nullptr; }
    static bool Close(Value handle) { return CloseServiceHandle(handle) != FALSE; }
};

// Owns a handle from OpenSCManagerW or OpenServiceW and closes it with CloseServiceHandle.
using ScopedServiceHandle = ScopedResource<ServiceHandleTraits>;

}  // namespace OrvaneClient

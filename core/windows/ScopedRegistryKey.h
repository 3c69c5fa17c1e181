#pragma once

#include "core/util/ScopedResource.h"
#include "core/windows/LastErrorGuard.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

struct RegistryKeyTraits {
    using Value = HKEY;
    using ErrorGuard = LastErrorGuard;
    static Value Empty() { return nullptr; }
    static bool IsValid(Value key) { return key != nullptr; }
    static bool Close(Value key) { return RegCloseKey(key) == ERROR_SUCCESS; }
};

// Owns an opened registry key and closes it with RegCloseKey.
using ScopedRegistryKey = ScopedResource<RegistryKeyTraits>;

}  // namespace OrvaneClient

#pragma once

#include "core/util/ScopedResource.h"
#include "core/windows/LastErrorGuard.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

template <class T>
struct LocalMemoryTraits {
    using Value = T*;
    using ErrorGuard = LastErrorGuard;
    static Value Empty() { return nullptr; }
    static bool IsValid(Value block) { return block != nullptr; }
    // LocalFree gives null back on success and the block itself on failure.
    static bool Close(Value block) { return LocalFree(reinterpret_cast<HLOCAL>(block)) == nullptr; }
};

// Owns a block that a Win32 call allocated with LocalAlloc on the caller's behalf (a SID string
// from ConvertSidToStringSidA, an access list from SetEntriesInAclA, a security descriptor from
// GetNamedSecurityInfoW) and frees it with LocalFree. T is the type the block is read as.
template <class T>
using ScopedLocalMemory = ScopedResource<LocalMemoryTraits<T>>;

}  // namespace OrvaneClient

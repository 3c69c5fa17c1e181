#pragma once

#include "core/util/ScopedResource.h"
#include "core/windows/LastErrorGuard.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

struct HeldMutexTraits {
    using Value = HANDLE;
    using ErrorGuard = LastErrorGuard;
    static Value Empty() { return nullptr; }
    static bool IsValid(Value mutex) { return mutex != nullptr; }
    static bool Close(Value mutex) { return ReleaseMutex(mutex) != FALSE; }
};

// Ownership of a Windows mutex for one scope: the constructor waits for it without time-out
// (WaitForSingleObject) and the owner releases it (ReleaseMutex). WAIT_ABANDONED counts as
// acquired, as Windows gives the mutex to the waiter. A failed wait leaves the lock not held;
// isLocked() tells, and nothing is released then. The mutex handle itself is not owned and is
// never closed. The thread that holds the mutex may lock it again: Windows mutexes are
// re-entrant for their owner, and every lock releases once. Move-only; every release but
// unlock() keeps the last error as it found it. Must be destroyed on the thread that
// constructed it. release() hands the duty to call ReleaseMutex to the caller.
class ScopedMutexLock : public ScopedResource<HeldMutexTraits> {
public:
    explicit ScopedMutexLock(HANDLE mutex) : ScopedResource(Acquire(mutex)) {}

    bool isLocked() const { return isValid(); }

    // Releases the mutex now; false (last error from ReleaseMutex) when ReleaseMutex failed, and
    // false when it was not held.
    bool unlock() { return isLocked() && close(); }

private:
    static HANDLE Acquire(HANDLE mutex) {
        const DWORD wait = WaitForSingleObject(mutex, INFINITE);
        return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED ? mutex : nullptr;
    }
};

}  // namespace OrvaneClient

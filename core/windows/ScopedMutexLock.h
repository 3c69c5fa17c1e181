#pragma once

#include "core/windows/Win32Api.h"

namespace OrvaneClient {

// Ownership of a Windows mutex for one scope: the constructor waits for it without time-out
// (WaitForSingleObject) and the destructor releases it (ReleaseMutex). WAIT_ABANDONED counts as
// acquired, as Windows gives the mutex to the waiter. A failed wait leaves the lock not held;
// isLocked() tells, and nothing is released then. The mutex handle itself is not owned and is
// never closed. The thread that holds the mutex may lock it again: Windows mutexes are
// re-entrant for their owner, and every lock releases once. Move-only; the destructor leaves
// the last error as it found it. Must be destroyed on the thread that constructed it.
class ScopedMutexLock {
public:
    explicit ScopedMutexLock(HANDLE mutex) : mutex(mutex) {
        const DWORD wait = WaitForSingleObject(mutex, INFINITE);
        locked = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }

    ~ScopedMutexLock() {
        if (locked) {
            const DWORD error = GetLastError();
            ReleaseMutex(mutex);
            SetLastError(error);
        }
    }

    ScopedMutexLock(ScopedMutexLock&& other) noexcept : mutex(other.mutex), locked(other.locked) {
        other.locked = false;
    }

    ScopedMutexLock& operator=(ScopedMutexLock&& other) noexcept {
        if (this != &other) {
            unlock();
            mutex = other.mutex;
            locked = other.locked;
            other.locked = false;
        }
        return *this;
    }

    ScopedMutexLock(const ScopedMutexLock&) = delete;
    ScopedMutexLock& operator=(const ScopedMutexLock&) = delete;

    bool isLocked() const { return locked; }
    HANDLE get() const { return mutex; }

    // Releases the mutex now; false (last error from ReleaseMutex) when it was not held or
    // ReleaseMutex failed.
    bool unlock() {
        if (!locked) {
            return false;
        }
        locked = false;
        return ReleaseMutex(mutex) != FALSE;
    }

    // Hands the duty to call ReleaseMutex to the caller: the mutex when it is held, else null.
    [[nodiscard]] HANDLE release() {
        if (!locked) {
            return nullptr;
        }
        locked = false;
        return mutex;
    }

private:
    HANDLE mutex;
    bool locked = false;
};

}  // namespace OrvaneClient

#pragma once

#include "core/windows/Win32Api.h"

namespace OrvaneClient {

// Owns a kernel object handle and closes it with CloseHandle. Empty is either null or
// INVALID_HANDLE_VALUE, since Win32 uses both for "no handle". Move-only; the destructor leaves
// the last error as it found it, so an owner going out of scope in a failure branch does not
// overwrite the error the branch is about to log.
class ScopedHandle {
public:
    ScopedHandle() = default;
    explicit ScopedHandle(HANDLE handle) : handle(handle) {}

    ~ScopedHandle() {
        if (isValid()) {
            const DWORD error = GetLastError();
            CloseHandle(handle);
            SetLastError(error);
        }
    }

    ScopedHandle(ScopedHandle&& other) noexcept : handle(other.handle) { other.handle = nullptr; }

    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        if (this != &other) {
            reset(other.handle);
            other.handle = nullptr;
        }
        return *this;
    }

    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    bool isValid() const { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle; }

    // Closes the owned handle now, for callers that log a failed close; true when there was
    // nothing to close.
    bool close() {
        if (!isValid()) {
            return true;
        }
        const HANDLE closing = handle;
        handle = nullptr;
        return CloseHandle(closing) != FALSE;
    }

    // Closes what is owned (keeping the last error) and takes `replacement`.
    void reset(HANDLE replacement = nullptr) {
        if (isValid() && handle != replacement) {
            const DWORD error = GetLastError();
            CloseHandle(handle);
            SetLastError(error);
        }
        handle = replacement;
    }

    // Hands the handle to the caller, who then closes it.
    [[nodiscard]] HANDLE release() {
        const HANDLE released = handle;
        handle = nullptr;
        return released;
    }

private:
    HANDLE handle = nullptr;
};

}  // namespace OrvaneClient

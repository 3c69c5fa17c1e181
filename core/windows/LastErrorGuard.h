#pragma once

#include "core/windows/Win32Api.h"

namespace OrvaneClient {

// Saves the calling thread's last error and puts it back when the scope ends, for cleanup that
// runs between a failure and the line that logs its code.
class LastErrorGuard {
public:
    LastErrorGuard() : error(GetLastError()) {}
    ~LastErrorGuard() { SetLastError(error); }
    LastErrorGuard(const LastErrorGuard&) = delete;
    LastErrorGuard& operator=(const LastErrorGuard&) = delete;

private:
    DWORD error;
};

}  // namespace OrvaneClient

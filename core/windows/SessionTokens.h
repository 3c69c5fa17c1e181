#pragma once

#include "core/windows/Win32Api.h"

#include <string>

namespace OrvaneClient {

// What the walk for a process token of the active console session meets on its way. Each
// failure skips one process; the callbacks run with the last error of the failed call still set,
// so they can log it. Every default does nothing.
class ProcessTokenWalkObserver {
public:
    virtual ~ProcessTokenWalkObserver() = default;
    // WTSGetActiveConsoleSessionId gave 0xFFFFFFFF: nothing can match.
    virtual void noConsoleSession() {}
    virtual void sessionQueryFailed(const std::string& /*executableName*/, DWORD /*error*/) {}
    virtual void openProcessFailed(const std::string& /*executableName*/, DWORD /*error*/) {}
    virtual void openProcessTokenFailed(const std::string& /*executableName*/, DWORD /*error*/) {}
    // The walk ended without a token; `examined` is the number of snapshot entries visited.
    virtual void notFound(const std::string& /*executableName*/, int /*examined*/) {}
};

// Walks a process snapshot in its order for the first process named `executableName` (without
// regard to case) that runs in the active console session, and opens its token with
// TOKEN_DUPLICATE access. Returns that token, which the caller closes, or INVALID_HANDLE_VALUE.
// Every other handle it opens is closed before it returns.
HANDLE FindProcessTokenInActiveSession(const std::string& executableName,
                                       ProcessTokenWalkObserver& observer);

// The walk above, logging each failure at warning level. INVALID_HANDLE_VALUE when nothing was
// found ("Failed getting token for process %s, checked processes: %d.").
HANDLE GetProcessTokenInActiveSession(const std::string& executableName);

// A primary token duplicated from `source` for identifying its user (maximum allowed access,
// SecurityIdentification, no inheritance): the caller closes it. Null with the last error of
// DuplicateTokenEx when that fails, as it does for INVALID_HANDLE_VALUE.
HANDLE DuplicateTokenForIdentification(HANDLE source);

// True when the system's major version is 6 or higher; false also when GetVersionExA fails.
bool IsVistaOrLater();

}  // namespace OrvaneClient

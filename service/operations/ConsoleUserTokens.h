#pragma once

#include "core/windows/Win32Api.h"

#include <string>

namespace OrvaneClient {

// The console user's tokens, as the operations need them. Each call acquires its handles anew
// and releases all but the one it hands over; nothing is kept between calls.
class ConsoleUserTokens {
public:
    // The primary token of the user logged on to the active console session (for an
    // administrator under UAC, the filtered one). False after an error line.
    bool queryConsoleUserToken(HANDLE* userToken);
    // A new primary token for CreateProcessAsUserW: a duplicate of the linked full token when
    // `elevated` and the user has one, else of `userToken`. False after an error line.
    bool getLaunchToken(HANDLE userToken, bool elevated, HANDLE* launchToken);
    // The first `executableName` process of the active console session, its token opened with
    // TOKEN_DUPLICATE access; INVALID_HANDLE_VALUE when there is none. Logs only that there is
    // no console session.
    HANDLE findConsoleProcessToken(const std::string& executableName);
    // A primary token duplicated from the token of explorer.exe in the active console session,
    // or null. Logs nothing of its own.
    HANDLE getShellUserToken();
};

}  // namespace OrvaneClient

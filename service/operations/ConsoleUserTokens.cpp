#include "service/operations/ConsoleUserTokens.h"

#include "core/logfacade/LogFacade.h"
#include "core/windows/AccessToken.h"
#include "core/windows/ScopedHandle.h"
#include "core/windows/SessionTokens.h"

namespace OrvaneClient {
namespace {

constexpr DWORD LaunchTokenAccess = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY;

// The service's own walk tells only that the console has no session; a process it cannot open
// is simply not the one it looks for.
class ConsoleSessionWalkObserver : public ProcessTokenWalkObserver {
public:
    void noConsoleSession() override {
        LogWarning("Could not obtain active console session ID, probably running via RDP.");
    }
};

}  // namespace

bool ConsoleUserTokens::queryConsoleUserToken(HANDLE* userToken) {
    ScopedHandle token;
    const DWORD error = QueryConsoleUserToken(token);
    if (error != ERROR_SUCCESS) {
        LogError("Couldnt get query user token, error code %d", static_cast<int>(error));
        return false;
    }
    *userToken = token.release();
    return true;
}

bool ConsoleUserTokens::getLaunchToken(HANDLE userToken, bool elevated, HANDLE* launchToken) {
    ScopedHandle linkedToken;
    HANDLE source = userToken;
    if (elevated) {
        TOKEN_LINKED_TOKEN linked = {};
        DWORD returned = 0;
        if (GetTokenInformation(userToken, TokenLinkedToken, &linked, sizeof(linked), &returned)) {
            linkedToken.reset(linked.LinkedToken);
            source = linkedToken.get();
        } else {
            const DWORD error = GetLastError();
            if (error == ERROR_INVALID_PARAMETER && !IsVistaOrLater()) {
                LogWarning(
                    "Couldn't get TokenLinkedToken from user token (os == Windows XP), error code "
                    "%d",
                    static_cast<int>(error));
            } else if (error != ERROR_NO_SUCH_LOGON_SESSION) {
                LogError("Couldn't get TokenLinkedToken from user token, error code %d",
                         static_cast<int>(error));
                return false;
            }
            // No linked token (a standard user, or UAC off): the user's own token is the one.
        }
    }

    HANDLE duplicated = nullptr;
    if (!DuplicateTokenEx(
            source, LaunchTokenAccess, nullptr, SecurityImpersonation, TokenPrimary, &duplicated)) {
        const DWORD error = GetLastError();
        LogError("Couldn't duplicate linked token, error code %d", static_cast<int>(error));
        return false;
    }
    *launchToken = duplicated;
    return true;
}

HANDLE ConsoleUserTokens::findConsoleProcessToken(const std::string& executableName) {
    ConsoleSessionWalkObserver observer;
    return FindProcessTokenInActiveSession(executableName, observer);
}

HANDLE ConsoleUserTokens::getShellUserToken() {
    const ScopedHandle source(findConsoleProcessToken(ShellExecutableName));
    return DuplicateTokenForIdentification(source.get());
}

}  // namespace OrvaneClient

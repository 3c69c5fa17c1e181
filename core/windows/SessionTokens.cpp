#include "core/windows/SessionTokens.h"

#include "core/logfacade/LogFacade.h"
#include "core/windows/AccessToken.h"
#include "core/windows/OperatingSystem.h"
#include "core/windows/ScopedHandle.h"

#include <Poco/String.h>

namespace OrvaneClient {
namespace {

class LoggingWalkObserver : public ProcessTokenWalkObserver {
public:
    void sessionQueryFailed(const std::string& executableName, DWORD error) override {
        // clang-format off
        LogWarning("ProcessIdToSessionId failed while getting process token from process %s, error code= %d",
                   executableName.c_str(),
                   static_cast<int>(error));
        // clang-format on
    }
    void openProcessFailed(const std::string& executableName, DWORD error) override {
        LogWarning("OpenProcess failed while getting process token from process %s, error code= %d",
                   executableName.c_str(),
                   static_cast<int>(error));
    }
    void openProcessTokenFailed(const std::string& executableName, DWORD error) override {
        LogWarning(
            "OpenProcessToken failed while getting process token from process %s, error code= %d",
            executableName.c_str(),
            static_cast<int>(error));
    }
    void notFound(const std::string& executableName, int examined) override {
        LogWarning("Failed getting token for process %s, checked processes: %d.",
                   executableName.c_str(),
                   examined);
    }
};

// The token of the process `entry` names, when it runs in `consoleSession`; else
// INVALID_HANDLE_VALUE after telling the observer why.
HANDLE OpenProcessTokenInSession(const PROCESSENTRY32& entry,
                                 DWORD consoleSession,
                                 const std::string& executableName,
                                 ProcessTokenWalkObserver& observer) {
    DWORD sessionId = 0;
    if (!ProcessIdToSessionId(entry.th32ProcessID, &sessionId)) {
        observer.sessionQueryFailed(executableName, GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    if (sessionId != consoleSession) {
        return INVALID_HANDLE_VALUE;
    }
    ScopedHandle process(OpenProcess(MAXIMUM_ALLOWED, FALSE, entry.th32ProcessID));
    if (!process.isValid()) {
        observer.openProcessFailed(executableName, GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    HANDLE token = nullptr;
    if (!OpenProcessToken(process.get(), TOKEN_DUPLICATE, &token)) {
        observer.openProcessTokenFailed(executableName, GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    return token;
}

}  // namespace

HANDLE FindProcessTokenInActiveSession(const std::string& executableName,
                                       ProcessTokenWalkObserver& observer) {
    ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    const DWORD consoleSession = WTSGetActiveConsoleSessionId();
    if (consoleSession == NoConsoleSession) {
        observer.noConsoleSession();
    }

    int examined = 0;
    if (snapshot.isValid()) {
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32First(snapshot.get(), &entry); more;
             more = Process32Next(snapshot.get(), &entry)) {
            ++examined;
            if (Poco::icompare(std::string(entry.szExeFile), executableName) != 0) {
                continue;
            }
            const HANDLE token =
                OpenProcessTokenInSession(entry, consoleSession, executableName, observer);
            if (token != INVALID_HANDLE_VALUE) {
                return token;
            }
        }
    }
    observer.notFound(executableName, examined);
    return INVALID_HANDLE_VALUE;
}

HANDLE GetProcessTokenInActiveSession(const std::string& executableName) {
    LoggingWalkObserver observer;
    return FindProcessTokenInActiveSession(executableName, observer);
}

HANDLE DuplicateTokenForIdentification(HANDLE source) {
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = FALSE;
    HANDLE duplicated = nullptr;
    if (!DuplicateTokenEx(source,
                          MAXIMUM_ALLOWED,
                          &attributes,
                          SecurityIdentification,
                          TokenPrimary,
                          &duplicated)) {
        return nullptr;
    }
    return duplicated;
}

bool IsVistaOrLater() {
    return VersionAtLeast(6, 0, false);
}

}  // namespace OrvaneClient

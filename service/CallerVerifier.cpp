#include "service/CallerVerifier.h"

#include "core/windows/AccessToken.h"
#include "core/windows/OperatingSystem.h"
#include "core/windows/ScopedHandle.h"

#include <Poco/Exception.h>

#include <cstdint>

namespace OrvaneClient {

namespace {

std::string Failed(const char* call, DWORD error) {
    return std::string(call) + " failed, error code " + std::to_string(error);
}

using Endpoint = TcpTable::Endpoint;

std::uint64_t FileTimeValue(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The process that owns the client's end of the connection from `peer` to `server`; none with
// `failure` set.
std::optional<DWORD> ConnectionOwner(const Endpoint& peer,
                                     const Endpoint& server,
                                     std::string& failure) {
    TcpTable table;
    if (const DWORD result = table.read(TCP_TABLE_OWNER_PID_CONNECTIONS); result != NO_ERROR) {
        failure = Failed("GetExtendedTcpTable", result);
        return std::nullopt;
    }
    const std::optional<DWORD> owner = table.connectionOwner(peer, server);
    if (!owner) {
        failure = "no process owns the connection";
    }
    return owner;
}

// Why the token of the calling process is not the console user's own, unsandboxed one; empty
// when it is.
std::optional<std::string> TokenRefusal(HANDLE token, PSID consoleUserSid) {
    const AccessToken caller(token);
    std::optional<TokenUserSid> user;
    if (const DWORD error = caller.user(user); error != ERROR_SUCCESS || !user) {
        return Failed("GetTokenInformation(TokenUser)", error);
    }
    if (!EqualSid(user->get(), consoleUserSid)) {
        return std::string("other user");
    }
    // Integrity levels exist from Vista on, AppContainers from Windows 8 on. A version that
    // cannot be read has the checks made rather than skipped.
    if (VersionAtLeast(6, 0, true)) {
        DWORD level = 0;
        if (const DWORD error = caller.integrityLevel(level); error != ERROR_SUCCESS) {
            return Failed("GetTokenInformation(TokenIntegrityLevel)", error);
        }
        if (level < SECURITY_MANDATORY_MEDIUM_RID) {
            return "integrity level " + std::to_string(level) + " below medium";
        }
    }
    if (VersionAtLeast(6, 2, true)) {
        bool appContainer = false;
        if (const DWORD error = caller.isAppContainer(appContainer); error != ERROR_SUCCESS) {
            return Failed("GetTokenInformation(TokenIsAppContainer)", error);
        }
        if (appContainer) {
            return std::string("AppContainer process");
        }
    }
    return std::nullopt;
}

// The held handle keeps the id from passing to another process, but a process that exited is
// not the caller any more.
std::optional<std::string> ExitRefusal(HANDLE process) {
    const DWORD waited = WaitForSingleObject(process, 0);
    if (waited == WAIT_OBJECT_0) {
        return std::string("process exited");
    }
    if (waited != WAIT_TIMEOUT) {
        const DWORD error = GetLastError();
        return Failed("WaitForSingleObject", error);
    }
    return std::nullopt;
}

std::optional<std::string> RestrictedRefusal(HANDLE token) {
    bool restricted = false;
    if (const DWORD error = AccessToken(token).isRestricted(restricted); error != ERROR_SUCCESS) {
        return Failed("IsTokenRestricted", error);
    }
    if (restricted) {
        return std::string("restricted token");
    }
    return std::nullopt;
}

// Why process `processId` is not in the console session; none with `consoleSession` set when it
// is.
std::optional<std::string> SessionRefusal(DWORD processId, DWORD& consoleSession) {
    DWORD callerSession = 0;
    if (!ProcessIdToSessionId(processId, &callerSession)) {
        const DWORD error = GetLastError();
        return Failed("ProcessIdToSessionId", error);
    }
    consoleSession = WTSGetActiveConsoleSessionId();
    if (consoleSession == NoConsoleSession) {
        return std::string("nobody at the console");
    }
    if (callerSession != consoleSession) {
        return "other session (" + std::to_string(callerSession) + ", console session " +
               std::to_string(consoleSession) + ")";
    }
    return std::nullopt;
}

// TokenRefusal against the user logged on in `consoleSession`.
std::optional<std::string> ConsoleUserRefusal(HANDLE token, DWORD consoleSession) {
    ScopedHandle consoleToken;
    if (const DWORD error = QuerySessionUserToken(consoleSession, consoleToken);
        error != ERROR_SUCCESS) {
        return Failed("WTSQueryUserToken", error);
    }
    std::optional<TokenUserSid> consoleUser;
    if (const DWORD error = AccessToken(consoleToken.get()).user(consoleUser);
        error != ERROR_SUCCESS || !consoleUser) {
        return Failed("GetTokenInformation(TokenUser)", error);
    }
    return TokenRefusal(token, consoleUser->get());
}

}  // namespace

CallerVerifier::CallerVerifier(const Poco::Net::StreamSocket& connection) {
    GetSystemTimeAsFileTime(&accepted);
    try {
        peer = TcpTable::Ipv4Endpoint(connection.peerAddress());
        server = TcpTable::Ipv4Endpoint(connection.address());
    } catch (const Poco::Exception& exception) {
        // The client may already be gone; nothing it sends will be served then.
        identificationFailure = "connection endpoints unknown (" + exception.displayText() + ")";
        peer.reset();
        return;
    }
    if (!peer || !server) {
        identificationFailure = "not an IPv4 connection";
    }
}

std::string CallerVerifier::processText() const {
    return processId ? std::to_string(*processId) : std::string("-");
}

void CallerVerifier::identify() {
    identified = true;
    if (!peer || !server) {
        return;
    }
    processId = ConnectionOwner(*peer, *server, identificationFailure);
    if (!processId) {
        return;
    }
    // SYNCHRONIZE: the handle also tells when the process has exited.
    const HANDLE opened =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, *processId);
    if (opened == nullptr) {
        const DWORD error = GetLastError();
        identificationFailure = Failed("OpenProcess", error);
        return;
    }
    ScopedHandle owner(opened);
    // The table keeps naming a process that created the socket and then exited, and its id may
    // have gone to a process started since: one younger than the connection is not its owner.
    FILETIME created = {};
    FILETIME exited = {};
    FILETIME kernel = {};
    FILETIME user = {};
    if (!GetProcessTimes(owner.get(), &created, &exited, &kernel, &user)) {
        const DWORD error = GetLastError();
        identificationFailure = Failed("GetProcessTimes", error);
        return;
    }
    if (FileTimeValue(created) > FileTimeValue(accepted)) {
        identificationFailure = "process started after the connection";
        return;
    }
    process = std::move(owner);
}

std::optional<std::string> CallerVerifier::refusal() {
    if (!identified) {
        identify();
    }
    if (!process.isValid()) {
        return identificationFailure;
    }
    if (std::optional<std::string> exited = ExitRefusal(process.get())) {
        return exited;
    }
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(process.get(), TOKEN_QUERY, &rawToken)) {
        const DWORD error = GetLastError();
        return Failed("OpenProcessToken", error);
    }
    const ScopedHandle token(rawToken);
    if (std::optional<std::string> restricted = RestrictedRefusal(token.get())) {
        return restricted;
    }
    DWORD consoleSession = 0;
    if (std::optional<std::string> elsewhere = SessionRefusal(*processId, consoleSession)) {
        return elsewhere;
    }
    return ConsoleUserRefusal(token.get(), consoleSession);
}

}  // namespace OrvaneClient

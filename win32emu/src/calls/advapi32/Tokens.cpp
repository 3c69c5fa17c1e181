// Access tokens: OpenProcessToken, DuplicateTokenEx, GetTokenInformation, IsTokenRestricted.

#include "machine/ApiSupport.h"
#include "machine/Identity.h"
#include "machine/MachineModel.h"
#include "machine/SidText.h"

#include <cstring>

using namespace Win32Emu;

namespace {

struct OpenToken {
    std::shared_ptr<TokenObject> token;
    ACCESS_MASK access = 0;
};

// The token behind `handle`, or null with ERROR_INVALID_HANDLE (the process pseudo handle, equal
// to INVALID_HANDLE_VALUE, is a process, not a token).
std::optional<OpenToken> tokenAt(HANDLE handle) {
    const std::optional<HandleEntry> entry = Model().handles.entry(handle);
    if (entry) {
        if (auto token = std::dynamic_pointer_cast<TokenObject>(entry->object)) {
            return OpenToken{std::move(token), entry->access};
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return std::nullopt;
}

std::string objectTypeAt(HANDLE handle) {
    const std::optional<HandleEntry> entry = Model().handles.entry(handle);
    return entry ? entry->object->typeName() : std::string();
}

BOOL queryTokenUser(const TokenObject& token, LPVOID buffer, DWORD length, PDWORD returnLength) {
    const std::vector<BYTE> sid = SidFromText(token.userSid);
    const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    *returnLength = needed;
    if (length < needed || buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // The SID follows the record inside the caller's buffer, as Windows lays it out.
    BYTE* bytes = static_cast<BYTE*>(buffer);
    std::memcpy(bytes + sizeof(TOKEN_USER), sid.data(), sid.size());
    TOKEN_USER user{};
    user.User.Sid = bytes + sizeof(TOKEN_USER);
    user.User.Attributes = 0;
    std::memcpy(bytes, &user, sizeof(user));
    return TRUE;
}

BOOL queryLinkedToken(const TokenObject& token, LPVOID buffer, DWORD length, PDWORD returnLength) {
    if (Model().majorVersion() < 6) {
        // The class is unknown before Vista.
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returnLength = sizeof(TOKEN_LINKED_TOKEN);
    if (length < sizeof(TOKEN_LINKED_TOKEN) || buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (token.elevation == TokenElevationTypeDefault) {
        SetLastError(ERROR_NO_SUCH_LOGON_SESSION);
        return FALSE;
    }
    std::shared_ptr<TokenObject> linked = CopyToken(token);
    linked->elevation = token.elevation == TokenElevationTypeLimited ? TokenElevationTypeFull
                                                                     : TokenElevationTypeLimited;
    linked->integrityLevel = DefaultIntegrityLevel(linked->userSid, linked->elevation);
    // A caller with SeTcbPrivilege gets a primary token; anyone else one it can only identify by.
    if (CallerIsLocalSystem()) {
        linked->type = TokenPrimary;
        linked->impersonationLevel = SecurityAnonymous;
    } else {
        linked->type = TokenImpersonation;
        linked->impersonationLevel = SecurityIdentification;
    }
    TOKEN_LINKED_TOKEN result{};
    result.LinkedToken = Model().handles.insert(linked, "GetTokenInformation", TOKEN_ALL_ACCESS);
    std::memcpy(buffer, &result, sizeof(result));
    return TRUE;
}

// TOKEN_MANDATORY_LABEL followed by the label SID S-1-16-<level>, Vista and later.
BOOL queryIntegrityLevel(const TokenObject& token,
                         LPVOID buffer,
                         DWORD length,
                         PDWORD returnLength) {
    if (Model().majorVersion() < 6) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::vector<BYTE> sid = SidFromText("S-1-16-" + std::to_string(token.integrityLevel));
    const DWORD needed = static_cast<DWORD>(sizeof(TOKEN_MANDATORY_LABEL) + sid.size());
    *returnLength = needed;
    if (length < needed || buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BYTE* bytes = static_cast<BYTE*>(buffer);
    std::memcpy(bytes + sizeof(TOKEN_MANDATORY_LABEL), sid.data(), sid.size());
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Sid = bytes + sizeof(TOKEN_MANDATORY_LABEL);
    label.Label.Attributes = SE_GROUP_INTEGRITY | SE_GROUP_INTEGRITY_ENABLED;
    std::memcpy(bytes, &label, sizeof(label));
    return TRUE;
}

// A DWORD, Windows 8 (6.2) and later; the class is unknown before.
BOOL queryIsAppContainer(const TokenObject& token,
                         LPVOID buffer,
                         DWORD length,
                         PDWORD returnLength) {
    VersionInfo version;
    {
        std::lock_guard<std::mutex> guard(Model().lock);
        version = Model().configuration.version;
    }
    if (version.majorVersion < 6 || (version.majorVersion == 6 && version.minorVersion < 2)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returnLength = sizeof(DWORD);
    if (length < sizeof(DWORD) || buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const DWORD value = token.appContainer ? 1 : 0;
    std::memcpy(buffer, &value, sizeof(value));
    return TRUE;
}

}  // namespace

extern "C" {

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    std::optional<ProcessEntry> process;
    ACCESS_MASK processAccess = PROCESS_ALL_ACCESS;
    if (ProcessHandle == GetCurrentProcess()) {
        process = CurrentProcessEntry();
    } else if (const std::optional<HandleEntry> entry = Model().handles.entry(ProcessHandle)) {
        if (const auto object = std::dynamic_pointer_cast<ProcessObject>(entry->object)) {
            processAccess = entry->access;
            // While the handle is open the id names this process and no other.
            if (!object->exited()) {
                process = FindProcess(object->processId);
            }
            if (!process) {
                // The process has ended: its handle still names it, but it has no token.
                ProcessEntry ended;
                ended.processId = object->processId;
                ended.openProcessTokenError = ERROR_ACCESS_DENIED;
                process = ended;
            }
        }
    }
    const std::string argument = process ? std::to_string(process->processId) : std::string();
    if (InjectedFailure("OpenProcessToken", argument, process ? "Process" : "")) {
        return FALSE;
    }
    if (!process) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((processAccess & PROCESS_QUERY_LIMITED_INFORMATION) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    ACCESS_MASK granted = 0;
    if (!GrantedTokenAccess(DesiredAccess, granted)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (process->openProcessTokenError != 0) {
        SetLastError(process->openProcessTokenError);
        return FALSE;
    }
    if (TokenHandle == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *TokenHandle = Model().handles.insert(NewToken(process->userSid,
                                                   process->sessionId,
                                                   process->elevated,
                                                   process->integrityLevel,
                                                   process->appContainer,
                                                   process->restricted),
                                          "OpenProcessToken",
                                          granted);
    return TRUE;
}

BOOL WINAPI DuplicateTokenEx(HANDLE hExistingToken,
                             DWORD dwDesiredAccess,
                             LPSECURITY_ATTRIBUTES lpTokenAttributes,
                             SECURITY_IMPERSONATION_LEVEL ImpersonationLevel,
                             TOKEN_TYPE TokenType,
                             PHANDLE phNewToken) {
    if (InjectedFailure("DuplicateTokenEx", std::string(), objectTypeAt(hExistingToken))) {
        return FALSE;
    }
    const std::optional<OpenToken> source = tokenAt(hExistingToken);
    if (!source) {
        return FALSE;
    }
    if ((source->access & TOKEN_DUPLICATE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (ImpersonationLevel < SecurityAnonymous || ImpersonationLevel > SecurityDelegation ||
        (TokenType != TokenPrimary && TokenType != TokenImpersonation)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lpTokenAttributes != nullptr && lpTokenAttributes->lpSecurityDescriptor != nullptr) {
        // Security descriptors on tokens are not emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    // An impersonation token gives no more than its own level, and a primary token only from
    // the level that allows impersonation.
    const TokenObject& existing = *source->token;
    if (existing.type == TokenImpersonation &&
        (ImpersonationLevel > existing.impersonationLevel ||
         (TokenType == TokenPrimary && existing.impersonationLevel < SecurityImpersonation))) {
        SetLastError(ERROR_BAD_IMPERSONATION_LEVEL);
        return FALSE;
    }
    ACCESS_MASK granted = source->access;
    if (dwDesiredAccess != 0 && !GrantedTokenAccess(dwDesiredAccess, granted)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (phNewToken == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    std::shared_ptr<TokenObject> duplicate = CopyToken(existing);
    duplicate->type = TokenType;
    duplicate->impersonationLevel = ImpersonationLevel;
    *phNewToken = Model().handles.insert(duplicate, "DuplicateTokenEx", granted);
    return TRUE;
}

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle,
                                TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation,
                                DWORD TokenInformationLength,
                                PDWORD ReturnLength) {
    if (InjectedFailure("GetTokenInformation",
                        std::to_string(static_cast<int>(TokenInformationClass)),
                        objectTypeAt(TokenHandle))) {
        return FALSE;
    }
    const std::optional<OpenToken> token = tokenAt(TokenHandle);
    if (!token) {
        return FALSE;
    }
    if (TokenInformationClass < TokenUser || TokenInformationClass >= MaxTokenInfoClass) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((token->access & TOKEN_QUERY) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (ReturnLength == nullptr) {
        // Windows writes the length unconditionally and faults on a null pointer.
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    switch (TokenInformationClass) {
        case TokenUser:
            return queryTokenUser(
                *token->token, TokenInformation, TokenInformationLength, ReturnLength);
        case TokenLinkedToken:
            return queryLinkedToken(
                *token->token, TokenInformation, TokenInformationLength, ReturnLength);
        case TokenIntegrityLevel:
            return queryIntegrityLevel(
                *token->token, TokenInformation, TokenInformationLength, ReturnLength);
        case TokenIsAppContainer:
            return queryIsAppContainer(
                *token->token, TokenInformation, TokenInformationLength, ReturnLength);
        default:
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return FALSE;
    }
}

// Success leaves the last error alone, whatever the answer.
BOOL WINAPI IsTokenRestricted(HANDLE TokenHandle) {
    if (InjectedFailure("IsTokenRestricted", std::string(), objectTypeAt(TokenHandle))) {
        return FALSE;
    }
    const std::optional<OpenToken> token = tokenAt(TokenHandle);
    if (!token) {
        return FALSE;
    }
    if ((token->access & TOKEN_QUERY) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return token->token->restricted ? TRUE : FALSE;
}

}  // extern "C"

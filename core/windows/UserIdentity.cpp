#include "core/windows/UserIdentity.h"

#include "core/logfacade/LogFacade.h"
#include "core/windows/ScopedHandle.h"
#include "core/windows/ScopedLocalMemory.h"
#include "core/windows/SessionTokens.h"

namespace OrvaneClient {
namespace {

constexpr const char* UsersHivePrefix = "HKEY_USERS\\";
constexpr const char* SettingsKeySuffix = "\\SOFTWARE\\Qovex\\Orvane";

}  // namespace

std::optional<TokenUserSid> GetCurrentUserSID() {
    ScopedHandle source(GetProcessTokenInActiveSession(ShellExecutableName));

    ScopedHandle token(DuplicateTokenForIdentification(source.get()));
    if (!token.isValid()) {
        const DWORD error = GetLastError();
        LogWarning("DuplicateTokenEx failed with error %d", static_cast<int>(error));
        return std::nullopt;
    }

    std::optional<TokenUserSid> sid;
    const DWORD error = AccessToken(token.get()).user(sid);
    if (error != ERROR_SUCCESS) {
        LogWarning("GetTokenInformation failed with error %d", static_cast<int>(error));
    }
    return sid;
}

bool GetCurrentUserHivePath(std::string& hivePath) {
    const std::optional<TokenUserSid> sid = GetCurrentUserSID();
    if (!sid) {
        LogWarning("GetCurrentUserSID() failed");
        return false;
    }
    LPSTR sidText = nullptr;
    if (!ConvertSidToStringSidA(sid->get(), &sidText)) {
        const DWORD error = GetLastError();
        LogWarning("ConvertSidToStringSidA failed with error %d", static_cast<int>(error));
        return false;
    }
    const ScopedLocalMemory<char> sidString(sidText);
    hivePath = std::string(UsersHivePrefix) + sidString.get();
    return true;
}

bool GetCurrentUserSettingsKeyPath(std::string& path) {
    std::string hivePath;
    if (!GetCurrentUserHivePath(hivePath)) {
        return false;
    }
    path = hivePath + SettingsKeySuffix;
    return true;
}

bool GetTokenAccountName(
    HANDLE token, char* name, DWORD nameCapacity, char* domain, DWORD domainCapacity) {
    std::optional<TokenUserSid> sid;
    AccessToken(token).user(sid);
    if (!sid) {
        const DWORD error = GetLastError();
        LogWarning("GetTokenInformation failed: %d", static_cast<int>(error));
        return false;
    }
    DWORD nameLength = nameCapacity;
    DWORD domainLength = domainCapacity;
    SID_NAME_USE use = SidTypeUnknown;
    if (!LookupAccountSidA(nullptr, sid->get(), name, &nameLength, domain, &domainLength, &use)) {
        const DWORD error = GetLastError();
        LogWarning("LookupAccountSid failed: %d", static_cast<int>(error));
        return false;
    }
    return true;
}

}  // namespace OrvaneClient

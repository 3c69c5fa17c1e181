#include "core/windows/UserIdentity.h"

#include "core/logfacade/LogFacade.h"
#include "core/windows/ScopedHandle.h"
#include "core/windows/ScopedLocalMemory.h"
#include "core/windows/SessionTokens.h"

#include <algorithm>
#include <vector>

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

bool GetTokenAccountName(HANDLE token, std::string& name, std::string& domain) {
    std::optional<TokenUserSid> sid;
    AccessToken(token).user(sid);
    if (!sid) {
        const DWORD error = GetLastError();
        LogWarning("GetTokenInformation failed: %d", static_cast<int>(error));
        return false;
    }
    // Most accounts fit the sizes Windows itself once fixed; longer ones are asked for again.
    std::vector<char> nameBuffer(32);
    std::vector<char> domainBuffer(16);
    for (int attempt = 0;; ++attempt) {
        DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
        DWORD domainLength = static_cast<DWORD>(domainBuffer.size());
        SID_NAME_USE use = SidTypeUnknown;
        if (LookupAccountSidA(nullptr,
                              sid->get(),
                              nameBuffer.data(),
                              &nameLength,
                              domainBuffer.data(),
                              &domainLength,
                              &use)) {
            name.assign(nameBuffer.data());
            domain.assign(domainBuffer.data());
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || attempt > 0) {
            LogWarning("LookupAccountSid failed: %d", static_cast<int>(error));
            return false;
        }
        // The sizes given back count the terminating zero.
        nameBuffer.assign(std::max<size_t>(nameLength, nameBuffer.size()), '\0');
        domainBuffer.assign(std::max<size_t>(domainLength, domainBuffer.size()), '\0');
    }
}

}  // namespace OrvaneClient

#include "core/windows/AccessToken.h"

namespace OrvaneClient {

DWORD AccessToken::information(TOKEN_INFORMATION_CLASS informationClass,
                               std::vector<BYTE>& buffer) const {
    buffer.clear();
    DWORD size = 0;
    if (GetTokenInformation(token, informationClass, nullptr, 0, &size)) {
        return ERROR_SUCCESS;
    }
    std::vector<BYTE> read(size, 0);
    if (!GetTokenInformation(token, informationClass, read.data(), size, &size)) {
        return GetLastError();
    }
    buffer = std::move(read);
    return ERROR_SUCCESS;
}

DWORD AccessToken::user(std::optional<TokenUserSid>& sid) const {
    sid.reset();
    std::vector<BYTE> tokenUser;
    const DWORD error = information(TokenUser, tokenUser);
    if (error == ERROR_SUCCESS && !tokenUser.empty()) {
        sid.emplace(std::move(tokenUser));
    }
    return error;
}

DWORD AccessToken::integrityLevel(DWORD& level) const {
    level = 0;
    std::vector<BYTE> label;
    const DWORD error = information(TokenIntegrityLevel, label);
    if (error != ERROR_SUCCESS || label.empty()) {
        // Nothing read is no label: the lowest level, so that a check refuses.
        return error;
    }
    const PSID labelSid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
    const UCHAR count = *GetSidSubAuthorityCount(labelSid);
    if (count != 0) {
        level = *GetSidSubAuthority(labelSid, count - 1u);
    }
    return ERROR_SUCCESS;
}

DWORD AccessToken::isAppContainer(bool& appContainer) const {
    appContainer = false;
    DWORD value = 0;
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenIsAppContainer, &value, sizeof(value), &size)) {
        return GetLastError();
    }
    appContainer = value != 0;
    return ERROR_SUCCESS;
}

DWORD AccessToken::isRestricted(bool& restricted) const {
    // FALSE is both "not restricted" and a failure: only the last error tells them apart.
    SetLastError(ERROR_SUCCESS);
    restricted = IsTokenRestricted(token) != FALSE;
    if (restricted) {
        return ERROR_SUCCESS;
    }
    const DWORD error = GetLastError();
    // A system that does not implement the query (Wine 8 answers STATUS_NOT_IMPLEMENTED) makes
    // no restricted tokens either.
    return error == ERROR_INVALID_FUNCTION ? ERROR_SUCCESS : error;
}

DWORD QuerySessionUserToken(DWORD session, ScopedHandle& userToken) {
    userToken.reset();
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(session, &token)) {
        return GetLastError();
    }
    userToken.reset(token);
    return ERROR_SUCCESS;
}

DWORD QueryConsoleUserToken(ScopedHandle& userToken) {
    return QuerySessionUserToken(WTSGetActiveConsoleSessionId(), userToken);
}

}  // namespace OrvaneClient

#pragma once

#include "core/windows/ScopedHandle.h"
#include "core/windows/Win32Api.h"

#include <optional>
#include <vector>

namespace OrvaneClient {

// WTSGetActiveConsoleSessionId's answer when no session is attached to the physical console.
constexpr DWORD NoConsoleSession = 0xFFFFFFFF;

// The executable of the console user's shell, whose token names that user.
constexpr const char* ShellExecutableName = "explorer.exe";

// A user's SID together with the zero-filled TOKEN_USER buffer it lies in, which the owner keeps
// alive. Move-only: a copy of the buffer would still point into the original.
class TokenUserSid {
public:
    explicit TokenUserSid(std::vector<BYTE> tokenUser) : tokenUser(std::move(tokenUser)) {}
    TokenUserSid(TokenUserSid&&) noexcept = default;
    TokenUserSid& operator=(TokenUserSid&&) noexcept = default;
    TokenUserSid(const TokenUserSid&) = delete;
    TokenUserSid& operator=(const TokenUserSid&) = delete;

    PSID get() const { return reinterpret_cast<const TOKEN_USER*>(tokenUser.data())->User.Sid; }

private:
    std::vector<BYTE> tokenUser;
};

// What a token says about who it stands for, read with the token calls. Refers to a token handle
// it does not own (TOKEN_QUERY access). Every query returns ERROR_SUCCESS or the Win32 error of
// the call that failed, which it also leaves as the last error; it logs nothing, so that each
// caller writes its own lines.
class AccessToken {
public:
    explicit AccessToken(HANDLE token) : token(token) {}

    // One class of information in `buffer`, zero-filled, of the size a first call without a
    // buffer tells. That first call is expected to fail: one that fails for another reason tells
    // no size, and the read then fails for want of room. One that succeeds (no class asked here
    // does) leaves `buffer` empty and gives ERROR_SUCCESS.
    DWORD information(TOKEN_INFORMATION_CLASS informationClass, std::vector<BYTE>& buffer) const;

    // The token's user; `sid` stays empty when information() read nothing.
    DWORD user(std::optional<TokenUserSid>& sid) const;
    // The RID of its integrity label (SECURITY_MANDATORY_MEDIUM_RID...), 0 when it has none.
    // Integrity levels exist from Vista on.
    DWORD integrityLevel(DWORD& level) const;
    // Whether it is an AppContainer's token (Windows 8 and later).
    DWORD isAppContainer(bool& appContainer) const;
    // Whether it holds restricting SIDs (IsTokenRestricted); not restricted where the system does
    // not implement the query (ERROR_INVALID_FUNCTION).
    DWORD isRestricted(bool& restricted) const;

private:
    HANDLE token;
};

// The primary token of the user logged on in `session` (WTSQueryUserToken; the service must run
// as LocalSystem) into `userToken`: ERROR_SUCCESS, or the call's last error and `userToken` empty.
DWORD QuerySessionUserToken(DWORD session, ScopedHandle& userToken);
// The same for the session now attached to the console, as WTSGetActiveConsoleSessionId names it
// (NoConsoleSession is not told apart: the query then fails).
DWORD QueryConsoleUserToken(ScopedHandle& userToken);

}  // namespace OrvaneClient

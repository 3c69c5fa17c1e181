#pragma once

#include "core/windows/AccessToken.h"
#include "core/windows/Win32Api.h"

#include <optional>
#include <string>

namespace OrvaneClient {

// The SID of the console user, read from the token of explorer.exe in the active console
// session. None after a warning line when there is no such process or a token call fails.
std::optional<TokenUserSid> GetCurrentUserSID();

// Sets `hivePath` to "HKEY_USERS\" and the console user's SID string. False after a warning
// ("GetCurrentUserSID() failed", "ConvertSidToStringSidA failed with error %d").
bool GetCurrentUserHivePath(std::string& hivePath);

// Sets `path` to the console user's own settings key, "HKEY_USERS\<SID>\SOFTWARE\Qovex\Orvane".
// False when the hive path cannot be had (its own lines are the only log).
bool GetCurrentUserSettingsKeyPath(std::string& path);

// Looks up the account of the token's user on the local system, of whatever length it is: a
// lookup that finds the buffers too small (ERROR_INSUFFICIENT_BUFFER) is asked again with the
// sizes it gave. False after a warning ("GetTokenInformation failed: %d", "LookupAccountSid
// failed: %d"). The token needs TOKEN_QUERY access.
bool GetTokenAccountName(HANDLE token, std::string& name, std::string& domain);

}  // namespace OrvaneClient

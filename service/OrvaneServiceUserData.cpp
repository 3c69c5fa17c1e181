#include "core/logfacade/LogFacade.h"
#include "core/messaging/ExceptionText.h"
#include "core/util/Constants.h"
#include "core/windows/Locations.h"
#include "core/windows/UserIdentity.h"
#include "core/windows/Win32Api.h"
#include "service/OrvaneService.h"

#include <Poco/Exception.h>
#include <Poco/Util/WinRegistryKey.h>

namespace OrvaneClient {
namespace {

// The refresh token is a credential and the log is read by more people than its owner: the line
// tells that one was found and how long it is, never the token itself.
std::string RedactedToken(const std::string& token) {
    if (token.empty()) {
        return std::string();
    }
    size_t characters = 0;
    for (const char byte : token) {
        // UTF-8: count every byte that does not continue a character.
        if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80) {
            ++characters;
        }
    }
    return "[redacted, " + std::to_string(characters) + " characters]";
}

}  // namespace

bool OrvaneService::getRefreshToken(std::string& token) {
    std::string keyPath;
    if (!GetCurrentUserSettingsKeyPath(keyPath)) {
        return false;
    }
    try {
        Poco::Util::WinRegistryKey key(keyPath, true, 0);
        if (key.exists(RefreshTokenValueName)) {
            token = key.getString(RefreshTokenValueName);
            LogInfo("Found refresh token %s", RedactedToken(token).c_str());
            return true;
        }
    } catch (const Poco::Exception& error) {
        LogWarning("Exception during fetching refresh token: %s", ExceptionText(error).c_str());
    }
    LogInfo("No refresh token found in key %s", keyPath.c_str());
    return false;
}

std::string OrvaneService::getLibraryLocation() {
    const std::string path = GetExecutablePath(MAX_PATH);

    const std::string::size_type lastBackslash = path.rfind('\\');
    if (lastBackslash == std::string::npos) {
        return path;
    }
    return path.substr(0, lastBackslash);
}

}  // namespace OrvaneClient

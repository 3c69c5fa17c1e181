#include "core/logging/LogFacade.h"
#include "core/windows/WideString.h"
#include "service/OrvaneService.h"

namespace OrvaneClient {

bool OrvaneService::getRefreshToken(std::string& /*token*/) {
    LogError("getRefreshToken is not available yet in this build");
    return false;
}

std::string OrvaneService::getLibraryLocation() {
    // Zero-filled so that a failed call yields an empty text rather than stale memory.
    WCHAR modulePath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    const std::string path = WideToUtf8(std::wstring(modulePath, wcsnlen(modulePath, MAX_PATH)));

    const std::string::size_type lastBackslash = path.rfind('\\');
    if (lastBackslash == std::string::npos) {
        return path;
    }
    return path.substr(0, lastBackslash);
}

}  // namespace OrvaneClient

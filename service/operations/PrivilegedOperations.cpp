#include "service/operations/PrivilegedOperations.h"

#include "core/logfacade/LogFacade.h"
#include "core/messaging/ExceptionText.h"
#include "core/util/Constants.h"
#include "core/util/WideString.h"
#include "core/windows/AccessToken.h"
#include "core/windows/Locations.h"
#include "core/windows/ScopedEnvironmentBlock.h"
#include "core/windows/ScopedHandle.h"
#include "core/windows/UserIdentity.h"
#include "service/grant/Grant.h"
#include "service/grant/GrantRules.h"
#include "service/operations/ProcessLaunch.h"

#include <Poco/Exception.h>
#include <Poco/String.h>
#include <Poco/Util/WinRegistryKey.h>

#include <optional>

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

// The security calls name registry keys from their root key's short name.
std::wstring RegistryObjectName(const std::string& key) {
    return Utf8ToWide(
        Poco::replace(key, std::string("HKEY_LOCAL_MACHINE"), std::string("MACHINE")));
}

SE_OBJECT_TYPE RegistryObjectType() {
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) {
        // The 32-bit service on 64-bit Windows: the client's keys live in the 32-bit view.
        return SE_REGISTRY_WOW64_32KEY;
    }
    return SE_REGISTRY_KEY;
}

}  // namespace

bool PrivilegedOperations::launchProcess(const char* processPath,
                                         const char* commandLineArgs,
                                         const char* workingDir,
                                         bool elevated,
                                         uint32_t* processId) {
    // Before any token is taken or file touched: nothing of this reaches another host or a pipe.
    if (const std::optional<std::string> refusal = NonLocalLaunchReason(processPath, workingDir)) {
        LogWarning("Refusing to launch %s: %s", processPath, refusal->c_str());
        return false;
    }
    HANDLE consoleToken = nullptr;
    if (!consoleUser.queryConsoleUserToken(&consoleToken)) {
        return false;
    }
    ScopedHandle userToken(consoleToken);

    HANDLE derivedToken = nullptr;
    if (!consoleUser.getLaunchToken(userToken.get(), elevated, &derivedToken)) {
        return false;
    }
    ScopedHandle launchToken(derivedToken);

    // The program and its folders stay held until the process has started.
    ElevatedProgramCheck program;
    if (elevated && !ElevatedLaunchAllowed(userToken.get(), processPath, program)) {
        return false;
    }

    // From the console user's own token, so the program sees the user's variables.
    LPVOID block = nullptr;
    if (!CreateEnvironmentBlock(&block, userToken.get(), FALSE)) {
        const DWORD error = GetLastError();
        LogError("Couldn't create user environment block, error code %d", static_cast<int>(error));
        return false;
    }
    ScopedEnvironmentBlock environment(block);

    const bool launched = StartProcess(
        launchToken.get(), environment.get(), processPath, commandLineArgs, workingDir, processId);

    if (!environment.close()) {
        const DWORD error = GetLastError();
        LogWarning("Couldn't close environment block, error code %d", static_cast<int>(error));
    }
    // The launch token, then the user's token, go with their owners (declared in that order).
    return launched;
}

bool PrivilegedOperations::fixDirectoryPrivileges(const char* directory, size_t /*length*/) {
    // One request's grants: the machine's locations are read once for all of them.
    Grant grant;
    bool directoryGranted = false;
    ScopedHandle folder;
    std::string grantPath;
    if (const std::optional<std::string> refusal =
            grant.prepareDirectory(directory, folder, grantPath)) {
        LogWarning("Refusing to grant full control of %s: %s", directory, refusal->c_str());
    } else if (folder.isValid()) {
        // The grant acts on the folder the rules approved, through the handle they looked at.
        directoryGranted = setDirectoryPermissions(grant, folder.get(), Utf8ToWide(grantPath));
    }
    if (directoryGranted) {
        LogInfo("Setting directory permissions for %s OK", directory);
    } else {
        LogWarning("Setting directory permissions for %s FAILED", directory);
    }

    const bool gamesGranted = grantRegistryKey(grant, GamesRegistryKey);
    if (gamesGranted) {
        LogInfo("Setting registry permissions for games OK");
    } else {
        LogWarning("Setting registry permissions for games FAILED");
    }

    const bool clientGranted = grantRegistryKey(grant, ClientRegistryKey);
    if (clientGranted) {
        LogInfo("Setting registry permissions for client OK");
    } else {
        LogWarning("Setting registry permissions for client FAILED");
    }
    return directoryGranted && gamesGranted && clientGranted;
}

bool PrivilegedOperations::grantRegistryKey(Grant& grant, const std::string& key) {
    if (const std::optional<std::string> refusal = RegistryKeyRefusal(key)) {
        LogWarning("Refusing to grant full control of %s: %s", key.c_str(), refusal->c_str());
        return false;
    }
    return setRegistryPermissions(grant, RegistryObjectName(key), key);
}

bool PrivilegedOperations::setDirectoryPermissions(Grant& grant,
                                                   HANDLE folder,
                                                   const std::wstring& directory) {
    return grantConsoleUserFullControl(grant, directory, WideToUtf8(directory), false, folder);
}

bool PrivilegedOperations::setRegistryPermissions(Grant& grant,
                                                  const std::wstring& objectName,
                                                  const std::string& key) {
    return grantConsoleUserFullControl(grant, objectName, key, true, nullptr);
}

bool PrivilegedOperations::grantConsoleUserFullControl(Grant& grant,
                                                       const std::wstring& objectName,
                                                       const std::string& grantName,
                                                       bool registryKey,
                                                       HANDLE object) {
    ScopedHandle shellToken(consoleUser.getShellUserToken());
    if (!shellToken.isValid()) {
        return false;
    }
    std::string name;
    std::string domain;
    // Without the account or the SID nothing can be granted: the grant has failed, and the
    // client must not be told that the object is now writable.
    if (!GetTokenAccountName(shellToken.get(), name, domain)) {
        return false;
    }
    const std::optional<TokenUserSid> sid = GetCurrentUserSID();
    if (!sid) {
        return false;
    }
    // The WOW64 question is asked only now, once there is something to grant.
    const SE_OBJECT_TYPE objectType = registryKey ? RegistryObjectType() : SE_FILE_OBJECT;
    return grant.setObjectPermissions(objectName,
                                      grantName,
                                      object,
                                      objectType,
                                      sid->get(),
                                      TRUSTEE_IS_SID,
                                      GENERIC_ALL,
                                      GRANT_ACCESS,
                                      SUB_CONTAINERS_AND_OBJECTS_INHERIT) == ERROR_SUCCESS;
}

bool PrivilegedOperations::getRefreshToken(std::string& token) {
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

std::string PrivilegedOperations::getLibraryLocation() {
    const std::string path = GetExecutablePath(MAX_PATH);

    const std::string::size_type lastBackslash = path.rfind('\\');
    if (lastBackslash == std::string::npos) {
        return path;
    }
    return path.substr(0, lastBackslash);
}

}  // namespace OrvaneClient

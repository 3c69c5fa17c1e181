#pragma once

#include "core/windows/Win32Api.h"
#include "service/operations/ConsoleUserTokens.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace OrvaneClient {

class Grant;

// The four privileged operations the service serves, as IOrvaneService names them (its
// comments give each one's contract). Built and called without a socket or a service control
// manager: OrvaneService hands its requests here.
//
// Threads: keeps no state between calls, so calls of different connections may run at the same
// time. All narrow strings are UTF-8. Failures are results; what a call acquires it releases on
// every path.
class PrivilegedOperations {
public:
    bool launchProcess(const char* processPath,
                       const char* commandLineArgs,
                       const char* workingDir,
                       bool elevated,
                       uint32_t* processId);
    // The folder, then the games key, then the client key, each whatever became of the ones
    // before, each logged OK or FAILED.
    bool fixDirectoryPrivileges(const char* directory, size_t length);
    bool getRefreshToken(std::string& token);
    std::string getLibraryLocation();

private:
    // Granting the console user full control, within the request's `grant`. Each true only when
    // the user's SID now holds the inheritable full-control entry on the object; the shell token
    // and SID are had anew and released on every path.
    // The folder is the one `directory` names, held open since it was checked.
    bool setDirectoryPermissions(Grant& grant, HANDLE folder, const std::wstring& directory);
    // `key`: the "HKEY_LOCAL_MACHINE\..." constant the object name was made from.
    bool setRegistryPermissions(Grant& grant,
                                const std::wstring& objectName,
                                const std::string& key);
    // What both grants do: the shell user's account and SID, then an inheritable full-control
    // entry for that SID on a folder (through `object`, its handle), or on a key in the
    // process's registry view (`object` null). `grantName` names it in refusals.
    bool grantConsoleUserFullControl(Grant& grant,
                                     const std::wstring& objectName,
                                     const std::string& grantName,
                                     bool registryKey,
                                     HANDLE object);
    // The grant of one of the two keys, and its refusal line for a key not of the machine's.
    bool grantRegistryKey(Grant& grant, const std::string& key);

    ConsoleUserTokens consoleUser;
};

}  // namespace OrvaneClient

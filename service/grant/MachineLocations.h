#pragma once

// The machine's own locations that the grant rules (GrantRules.h) are applied to.

#include "core/windows/Win32Api.h"
#include "service/grant/GrantRules.h"

#include <optional>
#include <string>

namespace OrvaneClient {

// The locations of this machine, found through the shell folders, the module path, the
// services' ImagePath values and the service's own LibraryRoots value (read anew each time, so
// an administrator's change applies to the next request); `userToken` (may be null) names the
// console user for their own profile. None, with `failure` saying what could not be had, when a
// location is unknown.
std::optional<ProtectedLocations> FindProtectedLocations(HANDLE userToken, std::string& failure);

// GetFileAttributesW as a PathProbe.
PathState ProbePath(const std::string& path);

// The folder of the executable an ImagePath value names ("\"C:\a b\x.exe\" -k",
// "%SystemRoot%\system32\svchost.exe -k netsvcs", "\SystemRoot\System32\drivers\x.sys",
// "system32\drivers\x.sys"); empty when it names none on a drive.
std::string ImageDirectory(const std::string& imagePath, const std::string& windowsDirectory);

}  // namespace OrvaneClient

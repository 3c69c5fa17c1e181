#pragma once

// Which directories the console user may be given full control of. The user may be a standard
// user: full control of a folder that the system, the service (which runs as LocalSystem) or
// another installed service executes from, or of a path that a link redirects there, would make
// them administrator. The rules live here and nowhere else.

#include "core/windows/Win32Api.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace OrvaneClient {

// Windows paths ("C:\Windows"), as the machine names them.
struct ProtectedLocations {
    std::string windowsDirectory;
    std::string installDirectory;  // of the running service executable
    std::vector<std::string> programFilesDirectories;
    std::string commonAppDataDirectory;
    std::string profilesDirectory;
    std::string ownProfileDirectory;  // the console user's; empty when unknown
    // Folders that hold the executable of an installed service or driver.
    std::vector<std::string> serviceImageDirectories;
};

// What a path is on disk, as far as the refusal rules care.
enum class PathState { Missing, Present, ReparsePoint, Unknown };
using PathProbe = std::function<PathState(const std::string& path)>;

// Why `directory` (UTF-8) must not be granted, or none when it may be. `probe` is asked about
// each component of the path from the drive down, until one is missing.
std::optional<std::string> GrantRefusalReason(const std::string& directory,
                                              const ProtectedLocations& locations,
                                              const PathProbe& probe);

// The locations of this machine, found through the shell folders, the module path and the
// services' ImagePath values; `userToken` (may be null) names the console user for their own
// profile. None, with `failure` saying what could not be had, when a location is unknown.
std::optional<ProtectedLocations> FindProtectedLocations(HANDLE userToken, std::string& failure);

// GetFileAttributesW as a PathProbe.
PathState ProbePath(const std::string& path);

// The folder of the executable an ImagePath value names ("\"C:\a b\x.exe\" -k",
// "%SystemRoot%\system32\svchost.exe -k netsvcs", "\SystemRoot\System32\drivers\x.sys",
// "system32\drivers\x.sys"); empty when it names none on a drive.
std::string ImageDirectory(const std::string& imagePath, const std::string& windowsDirectory);

}  // namespace OrvaneClient

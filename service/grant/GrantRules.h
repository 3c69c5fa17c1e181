#pragma once

// Which folders and keys the console user may be given full control of, judged by their names.
// The user may be a standard user: full control of a folder that the system, the service (which
// runs as LocalSystem) or another installed service executes from, or of a path that a link
// redirects there, would make them administrator. These are the rules on a name; MachineLocations.h
// finds what they are applied to. What a name turns out to lead to is judged on the handle that
// holds it: the folder in Grant.h, each object below it in GrantWalk.h.

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
    // The client's data folder, which holds the service's logs.
    std::string clientDataDirectory;
    // The folders an administrator listed as game libraries; with the user's own profile, the
    // only places a grant may reach.
    std::vector<std::string> libraryRoots;
};

// What a path is on disk, as far as the refusal rules care.
enum class PathState { Missing, Present, ReparsePoint, Unknown };
using PathProbe = std::function<PathState(const std::string& path)>;

// What the rules decided: a reason to refuse, or the path they approved in canonical form
// ("C:/Games/Mine/" -> "C:\Games\Mine"), which is the one the grant must act on.
struct GrantVerdict {
    std::optional<std::string> refusal;
    std::string approvedPath;
};

// The root every key the grant reaches lies under, as its key names spell it.
constexpr char LocalMachineKeyPrefix[] = "HKEY_LOCAL_MACHINE\\";

// Why `key` ("HKEY_LOCAL_MACHINE\...") must not be granted, or none: only the machine's keys.
std::optional<std::string> RegistryKeyRefusal(const std::string& key);

// The verdict on `directory` (UTF-8). `probe` is asked about each component of the path from
// the drive down, until one is missing.
GrantVerdict JudgeGrant(const std::string& directory,
                        const ProtectedLocations& locations,
                        const PathProbe& probe);

}  // namespace OrvaneClient

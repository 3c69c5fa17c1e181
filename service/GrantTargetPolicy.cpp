#include "service/GrantTargetPolicy.h"

#include "core/windows/WideString.h"

#include <Poco/Exception.h>
#include <Poco/String.h>
#include <Poco/UTF8String.h>
#include <Poco/Util/WinRegistryKey.h>

#include <cctype>

namespace OrvaneClient {
namespace {

const char ServicesKey[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";
// Characters Windows does not allow in a name; ':' would also open an alternate data stream.
const char ForbiddenNameCharacters[] = "<>:\"|?*";

using Components = std::vector<std::string>;

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsDrivePath(const std::string& path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && IsSeparator(path[2]);
}

// "C:\a\b" -> {"C:", "A", "B"} in upper case, for comparing as Windows compares names. Lenient:
// for the machine's own locations, which are trusted to be canonical.
Components ComponentsOf(const std::string& path) {
    Components components;
    if (path.size() < 2 || path[1] != ':') {
        return components;
    }
    std::string name;
    for (char c : path) {
        if (IsSeparator(c)) {
            if (!name.empty()) {
                components.push_back(Poco::UTF8::toUpper(name));
            }
            name.clear();
        } else {
            name += c;
        }
    }
    if (!name.empty()) {
        components.push_back(Poco::UTF8::toUpper(name));
    }
    return components;
}

bool StartsWith(const Components& path, const Components& prefix) {
    return !prefix.empty() && path.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), path.begin());
}

bool SameOrInside(const Components& path, const std::string& location) {
    return StartsWith(path, ComponentsOf(location));
}

bool SameOrContains(const Components& path, const std::string& location) {
    return StartsWith(ComponentsOf(location), path);
}

bool Same(const Components& path, const std::string& location) {
    return path == ComponentsOf(location);
}

// Windows would read these names as another path: "." and "..", trailing dots and spaces (which
// it strips), short 8.3 aliases ("PROGRA~2"), streams and wildcards.
bool IsCanonicalName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.back() == '.' || name.back() == ' ') {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || std::string(ForbiddenNameCharacters).find(name[i]) != std::string::npos) {
            return false;
        }
        if (name[i] == '~' && i + 1 < name.size() && std::isdigit(name[i + 1])) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> FormRefusal(const std::string& directory, Components& components) {
    if (directory.empty()) {
        return std::string("the path is empty");
    }
    if (directory.size() >= 2 && IsSeparator(directory[0]) && IsSeparator(directory[1])) {
        return std::string("UNC and device paths are not granted");
    }
    if (!IsDrivePath(directory)) {
        return std::string("the path is not absolute");
    }
    components.push_back(Poco::UTF8::toUpper(directory.substr(0, 2)));
    std::string rest = directory.substr(3);
    // One trailing separator is how folders are often written; more would be doubled.
    if (!rest.empty() && IsSeparator(rest.back())) {
        rest.pop_back();
    }
    if (rest.empty()) {
        return std::string("the path is a drive root");
    }
    std::string name;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || IsSeparator(rest[i])) {
            if (!IsCanonicalName(name)) {
                return std::string("the path is not in canonical form");
            }
            components.push_back(Poco::UTF8::toUpper(name));
            name.clear();
        } else {
            name += rest[i];
        }
    }
    return std::nullopt;
}

// The first `count` components as a path; names compare without regard to case on Windows.
std::string Joined(const Components& components, size_t count) {
    std::string path = components[0] + "\\";
    for (size_t i = 1; i < count; ++i) {
        path += (i == 1 ? "" : "\\") + components[i];
    }
    return path;
}

std::optional<std::string> FolderPath(int csidl, HANDLE token) {
    WCHAR buffer[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, csidl, token, SHGFP_TYPE_CURRENT, buffer) != S_OK ||
        buffer[0] == L'\0') {
        return std::nullopt;
    }
    return WideToUtf8(buffer);
}

// The folder of the users' profiles. userenv's own call, which every Windows answers; not all
// systems give CSIDL_PROFILES through the shell (Wine answers E_INVALIDARG).
std::optional<std::string> ProfilesDirectory() {
    WCHAR buffer[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!GetProfilesDirectoryW(buffer, &size) || buffer[0] == L'\0') {
        return std::nullopt;
    }
    return WideToUtf8(buffer);
}

std::optional<std::string> ModuleDirectory() {
    std::vector<WCHAR> buffer(1024, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return std::nullopt;
    }
    const std::string path = WideToUtf8(std::wstring(buffer.data(), length));
    const size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos || !IsDrivePath(path)) {
        return std::nullopt;
    }
    return path.substr(0, slash == 2 ? 3 : slash);
}

// Every ImagePath under the Services key; false when the key cannot be read.
bool ServiceImageDirectories(const std::string& windowsDirectory,
                             std::vector<std::string>& directories) {
    try {
        Poco::Util::WinRegistryKey services(ServicesKey, true, KEY_WOW64_64KEY);
        Poco::Util::WinRegistryKey::Keys names;
        services.subKeys(names);
        for (const std::string& name : names) {
            Poco::Util::WinRegistryKey service(
                std::string(ServicesKey) + "\\" + name, true, KEY_WOW64_64KEY);
            if (!service.exists("ImagePath")) {
                continue;
            }
            const std::string directory =
                ImageDirectory(service.getString("ImagePath"), windowsDirectory);
            if (!directory.empty()) {
                directories.push_back(directory);
            }
        }
        return true;
    } catch (const Poco::Exception&) {
        // Not readable, or a value of another type: the rules cannot be checked.
        return false;
    }
}

}  // namespace

std::string ImageDirectory(const std::string& imagePath, const std::string& windowsDirectory) {
    std::string path = Poco::trim(imagePath);
    if (!path.empty() && path[0] == '"') {
        const size_t close = path.find('"', 1);
        path = path.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else {
        // Unquoted, the executable ends at its extension; arguments follow.
        const std::string lower = Poco::toLower(path);
        size_t end = std::string::npos;
        for (const char* extension : {".exe", ".sys"}) {
            const size_t at = lower.find(extension);
            if (at != std::string::npos && (end == std::string::npos || at < end)) {
                end = at + 4;
            }
        }
        path = path.substr(0, end == std::string::npos ? path.find(' ') : end);
    }
    const std::string lower = Poco::toLower(path);
    for (const char* prefix : {"%systemroot%", "%windir%", "\\systemroot"}) {
        const std::string text(prefix);
        if (lower.compare(0, text.size(), text) == 0) {
            path = windowsDirectory + path.substr(text.size());
        }
    }
    if (path.compare(0, 4, "\\??\\") == 0) {
        path = path.substr(4);
    }
    if (!path.empty() && !IsSeparator(path[0]) && path.find(':') == std::string::npos) {
        // Drivers are named relative to the Windows directory.
        path = windowsDirectory + "\\" + path;
    }
    const size_t slash = path.find_last_of("\\/");
    if (!IsDrivePath(path) || slash == std::string::npos) {
        return std::string();
    }
    return path.substr(0, slash);
}

std::optional<std::string> GrantRefusalReason(const std::string& directory,
                                              const ProtectedLocations& locations,
                                              const PathProbe& probe) {
    Components path;
    if (std::optional<std::string> reason = FormRefusal(directory, path)) {
        return reason;
    }
    if (SameOrInside(path, locations.windowsDirectory)) {
        return std::string("the Windows directory or a folder inside it");
    }
    if (SameOrInside(path, locations.installDirectory) ||
        SameOrContains(path, locations.installDirectory)) {
        return std::string("the service's install directory, a folder inside it or one holding it");
    }
    for (const std::string& programFiles : locations.programFilesDirectories) {
        if (Same(path, programFiles)) {
            return std::string("a Program Files folder");
        }
    }
    if (Same(path, locations.commonAppDataDirectory)) {
        return std::string("the common application data folder");
    }
    const bool ownProfile =
        !locations.ownProfileDirectory.empty() && SameOrInside(path, locations.ownProfileDirectory);
    if (SameOrInside(path, locations.profilesDirectory) && !ownProfile) {
        return std::string("the profiles folder or the profile of another user");
    }
    for (const std::string& image : locations.serviceImageDirectories) {
        if (SameOrContains(path, image)) {
            return std::string("a folder that holds an installed service or driver");
        }
    }
    for (size_t count = 2; count <= path.size(); ++count) {
        const PathState state = probe(Joined(path, count));
        if (state == PathState::Missing) {
            break;
        }
        if (state == PathState::ReparsePoint) {
            return std::string("a folder on the path is a junction or symbolic link");
        }
        if (state == PathState::Unknown) {
            return std::string("a folder on the path cannot be examined");
        }
    }
    return std::nullopt;
}

PathState ProbePath(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathState::Missing
                                                                              : PathState::Unknown;
    }
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? PathState::ReparsePoint
                                                            : PathState::Present;
}

std::optional<ProtectedLocations> FindProtectedLocations(HANDLE userToken, std::string& failure) {
    ProtectedLocations locations;
    const std::optional<std::string> windows = FolderPath(CSIDL_WINDOWS, nullptr);
    const std::optional<std::string> install = ModuleDirectory();
    const std::optional<std::string> programFiles = FolderPath(CSIDL_PROGRAM_FILES, nullptr);
    const std::optional<std::string> programFilesX86 = FolderPath(CSIDL_PROGRAM_FILESX86, nullptr);
    const std::optional<std::string> appData = FolderPath(CSIDL_COMMON_APPDATA, nullptr);
    const std::optional<std::string> profiles = ProfilesDirectory();
    if (!windows || !install || !programFiles || !appData || !profiles) {
        failure = "the system's folders cannot be determined";
        return std::nullopt;
    }
    locations.windowsDirectory = *windows;
    locations.installDirectory = *install;
    locations.programFilesDirectories.push_back(*programFiles);
    // 32-bit Windows has no separate x86 folder; a 32-bit process on 64-bit Windows is told
    // Program Files (x86) for both, and finds the native one in ProgramW6432.
    if (programFilesX86) {
        locations.programFilesDirectories.push_back(*programFilesX86);
    }
    WCHAR native[MAX_PATH] = {};
    const DWORD length = ExpandEnvironmentStringsW(L"%ProgramW6432%", native, MAX_PATH);
    if (length > 0 && length <= MAX_PATH && native[0] != L'%') {
        locations.programFilesDirectories.push_back(WideToUtf8(native));
    }
    locations.commonAppDataDirectory = *appData;
    locations.profilesDirectory = *profiles;
    if (userToken != nullptr) {
        locations.ownProfileDirectory = FolderPath(CSIDL_PROFILE, userToken).value_or("");
    }
    if (!ServiceImageDirectories(locations.windowsDirectory, locations.serviceImageDirectories)) {
        failure = "the installed services cannot be read";
        return std::nullopt;
    }
    return locations;
}

}  // namespace OrvaneClient

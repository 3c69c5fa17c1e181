#include "service/grant/MachineLocations.h"

#include "core/util/WideString.h"
#include "core/windows/Locations.h"
#include "core/windows/ScopedRegistryKey.h"
#include "service/grant/PathForms.h"

#include <Poco/Exception.h>
#include <Poco/String.h>
#include <Poco/Util/WinRegistryKey.h>

#include <vector>

namespace OrvaneClient {
namespace {

const char ServicesKey[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";
// The service's own configuration: only administrators write there.
const WCHAR ParametersKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\Orvane Client Service\\Parameters";
// More than any list of libraries needs; a larger value is not read.
constexpr DWORD MaxLibraryRootsBytes = 64 * 1024;

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

// The running executable's folder, without the separator GetModuleDirectory ends it with
// (a drive root keeps its own).
std::optional<std::string> InstallDirectory() {
    try {
        std::string directory = GetModuleDirectory();
        if (!IsDrivePath(directory)) {
            return std::nullopt;
        }
        if (directory.size() > 3 && IsPathSeparator(directory.back())) {
            directory.pop_back();
        }
        return directory;
    } catch (const Poco::Exception&) {
        // Neither the module nor the current directory could be had.
        return std::nullopt;
    }
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

// The strings of the REG_MULTI_SZ LibraryRoots; none when the key or value is missing, of
// another type or too large, which leaves the user's profile alone to be granted.
std::vector<std::string> LibraryRoots() {
    std::vector<std::string> roots;
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(
            HKEY_LOCAL_MACHINE, ParametersKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &rawKey) !=
        ERROR_SUCCESS) {
        return roots;
    }
    ScopedRegistryKey key(rawKey);
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), L"LibraryRoots", nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ || size == 0 || size > MaxLibraryRootsBytes) {
        return roots;
    }
    // One zero more than asked for, so the last string ends even if the data does not.
    std::vector<WCHAR> data(size / sizeof(WCHAR) + 2, L'\0');
    if (RegQueryValueExW(key.get(),
                         L"LibraryRoots",
                         nullptr,
                         &type,
                         reinterpret_cast<LPBYTE>(data.data()),
                         &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return roots;
    }
    const WCHAR* text = data.data();
    const WCHAR* const end = data.data() + size / sizeof(WCHAR);
    while (text < end && *text != L'\0') {
        const std::wstring root(text);
        // Only a path on a drive names a root; anything else cannot widen a grant.
        const std::string utf8 = WideToUtf8(root);
        if (IsDrivePath(utf8)) {
            roots.push_back(utf8);
        }
        text += root.size() + 1;
    }
    return roots;
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
    if (!path.empty() && !IsPathSeparator(path[0]) && path.find(':') == std::string::npos) {
        // Drivers are named relative to the Windows directory.
        path = windowsDirectory + "\\" + path;
    }
    const size_t slash = path.find_last_of("\\/");
    if (!IsDrivePath(path) || slash == std::string::npos) {
        return std::string();
    }
    return path.substr(0, slash);
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
    const std::optional<std::string> install = InstallDirectory();
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
    locations.clientDataDirectory = GetAppDataDirectory();
    locations.libraryRoots = LibraryRoots();
    if (!ServiceImageDirectories(locations.windowsDirectory, locations.serviceImageDirectories)) {
        failure = "the installed services cannot be read";
        return std::nullopt;
    }
    return locations;
}

}  // namespace OrvaneClient

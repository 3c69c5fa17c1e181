#include "core/windows/Locations.h"

#include "core/util/WideString.h"
#include "core/windows/Win32Api.h"

#include <Poco/Environment.h>
#include <Poco/Exception.h>
#include <Poco/Path.h>

#include <cwchar>
#include <vector>

namespace OrvaneClient {
namespace {

const char ClientDataFolderName[] = "OrvaneClient";
// Where Windows keeps the common application data when nothing tells us otherwise.
const char DefaultCommonAppDataFolderName[] = "ProgramData";
constexpr size_t ModuleFileNameCapacity = 1024;

// With a trailing backslash.
std::string CurrentDirectoryAsDirectory() {
    const std::string current = GetCurrentDirectoryPath();
    if (current.empty()) {
        // The same failure Poco::Path::current() reports on Windows.
        throw Poco::SystemException("Cannot get current directory");
    }
    Poco::Path directory(current, Poco::Path::PATH_WINDOWS);
    directory.makeDirectory();
    return directory.toString(Poco::Path::PATH_WINDOWS);
}

}  // namespace

std::string GetCurrentDirectoryPath() {
    const DWORD required = GetCurrentDirectoryW(0, nullptr);
    if (required == 0) {
        return std::string();
    }
    std::vector<WCHAR> buffer(required, L'\0');
    const DWORD length = GetCurrentDirectoryW(required, buffer.data());
    if (length == 0 || length >= required) {
        return std::string();
    }
    return WideToUtf8(std::wstring(buffer.data(), length));
}

std::string GetAppDataDirectory() {
    std::string commonAppData;
    WCHAR folder[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder) ==
        S_OK) {
        commonAppData = WideToUtf8(folder);
    } else {
        commonAppData = Poco::Environment::get("ALLUSERSPROFILE", "");
    }
    // The process entry builds the log file path from here before anything can be logged: a
    // machine that tells us neither still gets its data where Windows would put it.
    if (commonAppData.empty()) {
        commonAppData = JoinPath(GetSystemDrive(), DefaultCommonAppDataFolderName);
    }
    return JoinPath(commonAppData, ClientDataFolderName);
}

std::string GetLogsDirectory() {
    return JoinPath(GetAppDataDirectory(), "logs");
}

std::string GetDownloadsDirectory() {
    return JoinPath(GetAppDataDirectory(), "downloads");
}

std::string GetIconsCacheDirectory() {
    return JoinPath(GetAppDataDirectory(), "iconscache");
}

std::string GetWebCacheDirectory() {
    return JoinPath(GetAppDataDirectory(), "webcache");
}

std::string GetExecutablePath(size_t capacity) {
    // Zero-filled so that a failed call yields an empty text rather than stale memory.
    std::vector<WCHAR> buffer(capacity, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    // A cut path comes back terminated within the buffer on current systems, unterminated on
    // older ones; either way the text ends at the first zero or the buffer's end.
    return WideToUtf8(std::wstring(buffer.data(), wcsnlen(buffer.data(), length)));
}

std::string GetModuleDirectory() {
    const std::string path = GetExecutablePath(ModuleFileNameCapacity);
    if (path.empty()) {
        return CurrentDirectoryAsDirectory();
    }
    const Poco::Path executable(path, Poco::Path::PATH_WINDOWS);
    return executable.parent().toString(Poco::Path::PATH_WINDOWS);
}

std::string GetSystemDrive() {
    // An unset variable is treated like an empty one rather than ending the caller.
    std::string drive = Poco::Environment::get("SystemDrive", "");
    if (drive.empty()) {
        drive = "C:\\";
    }
    if (drive.find('\\') == std::string::npos) {
        drive += '\\';
    }
    return drive;
}

}  // namespace OrvaneClient

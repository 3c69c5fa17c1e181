#pragma once

// Well-known places of the Orvane Client. Every path is a narrow UTF-8 string in Windows
// notation (C:\ProgramData\OrvaneClient\logs) on every platform. No getter creates a directory;
// every one may be called from any thread.

#include "core/util/JoinPath.h"

#include <cstddef>
#include <string>

namespace OrvaneClient {

// The common application data folder (SHGetFolderPathW, CSIDL_COMMON_APPDATA) joined with
// "OrvaneClient". When the folder query fails, %ALLUSERSPROFILE% stands in for the folder; when
// that is unset or empty too, "ProgramData" on the system drive (GetSystemDrive) does. Never
// throws for a missing folder; logs nothing (it runs before logging exists).
std::string GetAppDataDirectory();
// GetAppDataDirectory() joined with "logs", "downloads", "iconscache" or "webcache".
std::string GetLogsDirectory();
std::string GetDownloadsDirectory();
std::string GetIconsCacheDirectory();
std::string GetWebCacheDirectory();

// The full path of the running executable as GetModuleFileNameW (no module handle) delivers it
// into a zero-filled buffer of `capacity` wide characters (cut to fit), in UTF-8; empty when
// the call fails. `capacity` is at least 1.
std::string GetExecutablePath(size_t capacity);

// The directory of the running executable (GetModuleFileNameW), with a trailing backslash. When
// the module name cannot be had: the current directory (GetCurrentDirectoryW), with a trailing
// backslash; Poco::SystemException "Cannot get current directory" when that fails as well.
std::string GetModuleDirectory();

// The current directory (GetCurrentDirectoryW) as a Windows path, as the system reports it (no
// trailing backslash added); empty when it cannot be had.
std::string GetCurrentDirectoryPath();

// The root of the system drive from %SystemDrive%, with a trailing backslash ("C:" -> "C:\").
// "C:\" when the variable is unset or empty.
std::string GetSystemDrive();

}  // namespace OrvaneClient

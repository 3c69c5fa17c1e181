#pragma once

// The fixed strings of the Orvane Client: registry keys and value names, file names, host names.
// Every constant is a narrow string with static storage, initialised before the process entry
// runs. They are inline variables, so a translation unit that includes this header has them
// initialised before its own statics that come after the include.

#include <string>

#ifndef ORVANE_LOG_HOST
#error "ORVANE_LOG_HOST is defined by the build (CMake cache variable ORVANE_LOG_HOST)"
#endif

namespace OrvaneClient {

// Registry keys, with the root key's full name first (the form Poco::Util::WinRegistryKey parses).
inline const std::string ClientRegistryKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient";
inline const std::string GamesRegistryKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games";

// Registry value names.
inline const std::string RefreshTokenValueName = "refreshToken";
inline const std::string UpdateChannelValueName = "updateChannel";
inline const std::string ProblemReportTimestampValueName = "problemReportTimestamp";

// JSON documents; the ...Format names take a suffix for their %s.
inline const std::string ClientConfigFileName = "orvane-client-config.json";
inline const std::string ClientConfigFileNameFormat = "orvane-client-config%s.json";
inline const std::string ClientFilesFileName = "orvane-client-files-windows.json";
inline const std::string ClientFilesFileNameFormat = "orvane-client-files-windows%s.json";
inline const std::string CoreFilesFileName = "orvane-core-files-windows.json";

// Executables and the service's own name.
inline const std::string ClientExecutableName = "OrvaneClient.exe";
inline const std::string ServiceExecutableName = "OrvaneService.exe";
inline const std::string UpdaterExecutableName = "OrvaneUpdater.exe";
inline const std::string ServiceProgramName = "OrvaneService";

// Words shared by the client's sign-in exchange and its platform tags.
inline const std::string LoginWord = "login";
inline const std::string LoginSuccessWord = "login_success";
inline const std::string CodeWord = "code";
inline const std::string WindowsWord = "windows";
inline const std::string OrvaneClientWord = "orvaneclient";

inline const std::string UpdaterSingleInstanceMutexName =
    "CLIENT_UPDATER_SINGLE_INSTANCE_MUTEX_NAME";

// Host names are fixed at build time and lie under .invalid, so that a build that was not given
// real ones can never reach anybody's machine.
inline const std::string DefaultConfigurationHost = "config.orvane.invalid";
// Starts as a copy of the default, made during static initialisation.
inline const std::string ConfigurationHost = DefaultConfigurationHost;
inline const std::string ReportUploadUrl = "http://reports.orvane.invalid/report.php";
inline const std::string ProblemUploadUrl = "http://reports.orvane.invalid/problem.php";

// Remote syslog receiver of warnings and errors; port 514 unless the text carries ":port".
inline const std::string DefaultRemoteLogHost = ORVANE_LOG_HOST;
constexpr unsigned short DefaultRemoteLogPort = 514;

// Fixed at build time.
inline const std::string ClientIdentifier = "10000000000000001";
inline const std::string ClientKey =
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// Written into the first start line of the log; the project's version (CMakeLists.txt).
inline const std::string ApplicationVersion = ORVANE_APPLICATION_VERSION;
inline const std::string ApplicationBuildTime = "2014-08-12 16:20";

// File name of the service's log, in the logs directory.
inline const std::string ServiceLogFileName = "OrvaneService.log";

}  // namespace OrvaneClient

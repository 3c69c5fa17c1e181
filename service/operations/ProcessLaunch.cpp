#include "service/operations/ProcessLaunch.h"

#include "core/logfacade/LogFacade.h"
#include "core/util/WideString.h"
#include "core/windows/AccessToken.h"
#include "core/windows/FileProbe.h"
#include "core/windows/Locations.h"
#include "core/windows/ScopedHandle.h"
#include "core/windows/ScopedLocalMemory.h"
#include "service/grant/PathForms.h"
#include "service/operations/ElevatedProgramCheck.h"

#include <Poco/Exception.h>
#include <Poco/Path.h>

#include <optional>
#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

// The user environment block is UTF-16, hence the first flag.
constexpr DWORD LaunchCreationFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS;
constexpr const wchar_t* LaunchDesktop = L"WinSta0\\Default";

// `processPath` made absolute against the current directory, as the launch takes it. False, with
// the parser's reason, for a path Poco::Path cannot read.
bool AbsoluteProgramPath(const std::string& processPath, Poco::Path& path, std::string& reason) {
    try {
        path = Poco::Path(processPath, Poco::Path::PATH_WINDOWS);
        const std::string current = GetCurrentDirectoryPath();
        if (!current.empty()) {
            path.makeAbsolute(Poco::Path(current, Poco::Path::PATH_WINDOWS));
        }
        return true;
    } catch (const Poco::PathSyntaxException& error) {
        reason = error.displayText();
        return false;
    }
}

// The directory of `processPath` made absolute against the current directory, with its
// trailing backslash. False, with the parser's reason, for a path Poco::Path cannot read.
bool DefaultWorkingDirectory(const std::string& processPath,
                             std::string& directory,
                             std::string& reason) {
    Poco::Path path;
    if (!AbsoluteProgramPath(processPath, path, reason)) {
        return false;
    }
    directory = path.parent().toString(Poco::Path::PATH_WINDOWS);
    return true;
}

// The SID string of the token's user, or none.
std::optional<std::string> TokenUserSidString(HANDLE token) {
    std::optional<TokenUserSid> sid;
    AccessToken(token).user(sid);
    LPSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidA(sid->get(), &text)) {
        return std::nullopt;
    }
    const ScopedLocalMemory<char> owned(text);
    return std::string(owned.get());
}

// The failure of CreateProcessAsUserW, and whether anything else holds the executable open.
void LogCreationFailure(const char* processPath,
                        const char* commandLineArgs,
                        const std::string& directory,
                        DWORD error) {
    LogInfo(
        "Couldn't create process as user. Process path: %s, command line %s, working "
        "directory: %s, error code %d",
        processPath,
        commandLineArgs,
        directory.c_str(),
        static_cast<int>(error));
    if (CanOpenFileExclusively(processPath)) {
        LogInfo("OrvaneService could obtatin exclusive access on file: %s successfully.",
                processPath);
    } else {
        LogWarning("OrvaneService could not obtatin exclusive access on file: %s.", processPath);
    }
}

// The service forgets the process it started: neither handle is kept.
void ForgetProcess(const PROCESS_INFORMATION& processInformation) {
    ScopedHandle thread(processInformation.hThread);
    ScopedHandle process(processInformation.hProcess);
    if (!thread.close()) {
        const DWORD error = GetLastError();
        LogInfo("Couldn't close thread handle, error code %d", static_cast<int>(error));
    }
    if (!process.close()) {
        const DWORD error = GetLastError();
        LogInfo("Couldn't close process handle, error code %d", static_cast<int>(error));
    }
}

}  // namespace

std::optional<std::string> NonLocalLaunchReason(const char* processPath, const char* workingDir) {
    if (std::optional<std::string> form = LocalPathFormRefusal(processPath)) {
        return "the process path " + *form;
    }
    if (*workingDir != '\0') {
        if (std::optional<std::string> form = LocalPathFormRefusal(workingDir)) {
            return "the working directory " + *form;
        }
    }
    return std::nullopt;
}

bool ElevatedLaunchAllowed(HANDLE userToken,
                           const char* processPath,
                           ElevatedProgramCheck& program) {
    const std::optional<std::string> callerSid = TokenUserSidString(userToken);
    if (!callerSid) {
        LogWarning("Refusing to launch %s: %s", processPath, "the user's SID cannot be had");
        return false;
    }
    Poco::Path absolute;
    std::string unreadable;
    program = CheckElevatedProgram(AbsoluteProgramPath(processPath, absolute, unreadable)
                                       ? absolute.toString(Poco::Path::PATH_WINDOWS)
                                       : std::string(),
                                   *callerSid);
    if (program.failure) {
        LogWarning("Refusing to launch %s: %s", processPath, program.failure->c_str());
        return false;
    }
    if (!program.account.empty()) {
        LogWarning("Refusing to launch %s elevated: %s can change %s",
                   processPath,
                   program.account.c_str(),
                   program.object.c_str());
        return false;
    }
    return true;
}

bool StartProcess(HANDLE launchToken,
                  LPVOID environment,
                  const char* processPath,
                  const char* commandLineArgs,
                  const char* workingDir,
                  uint32_t* processId) {
    const std::string path(processPath);
    const std::wstring wideProcessPath = Utf8ToWide(path);
    std::vector<WCHAR> wideCommandLine = WritableWide(Utf8ToWide(commandLineArgs));

    std::string defaultDirectory;
    std::string reason;
    if (!DefaultWorkingDirectory(path, defaultDirectory, reason)) {
        LogWarning("Not launching process, its path cannot be parsed: %s (%s)",
                   processPath,
                   reason.c_str());
        return false;
    }
    const std::string directory = *workingDir != '\0' ? std::string(workingDir) : defaultDirectory;
    const std::wstring wideDirectory = Utf8ToWide(directory);
    LogInfo("Default working dir: %s", defaultDirectory.c_str());

    std::wstring desktop(LaunchDesktop);
    STARTUPINFOW startupInfo = {};
    startupInfo.cb = sizeof(startupInfo);
    startupInfo.lpDesktop = &desktop[0];
    PROCESS_INFORMATION processInformation = {};
    if (!CreateProcessAsUserW(launchToken,
                              wideProcessPath.c_str(),
                              wideCommandLine.data(),
                              nullptr,
                              nullptr,
                              FALSE,
                              LaunchCreationFlags,
                              environment,
                              wideDirectory.c_str(),
                              &startupInfo,
                              &processInformation)) {
        const DWORD error = GetLastError();
        LogCreationFailure(processPath, commandLineArgs, directory, error);
        return false;
    }
    ForgetProcess(processInformation);
    LogInfo("Created process as user. Process path: %s, command line %s, working directory: %s",
            processPath,
            commandLineArgs,
            directory.c_str());
    if (processId != nullptr) {
        *processId = processInformation.dwProcessId;
    }
    return true;
}

}  // namespace OrvaneClient

// Process creation: CreateProcessAsUserW starts a process of the emulated machine, records the
// launch and tells the watching SCM about it.

#include "Win32Emu/MachineEvent.h"
#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/Identity.h"
#include "machine/MachineModel.h"

#include <Poco/String.h>

#include <algorithm>

extern char** environ;

using namespace Win32Emu;

namespace {

class ThreadObject : public KernelObject {
public:
    explicit ThreadObject(DWORD threadId) : threadId(threadId) {}
    const char* typeName() const override { return "Thread"; }

    const DWORD threadId;
};

template <class Char>
std::vector<std::string> blockVariables(const Char* block) {
    std::vector<std::string> variables;
    while (*block != 0) {
        const std::basic_string<Char> text(block);
        if constexpr (sizeof(Char) == 1) {
            variables.push_back(text);
        } else {
            variables.push_back(ToUtf8(text));
        }
        block += text.size() + 1;
    }
    return variables;
}

std::vector<std::string> ownEnvironment() {
    std::vector<std::string> variables;
    for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
        variables.emplace_back(*variable);
    }
    return variables;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// What the machine models of a launch: a wide environment block, normal priority, no handles
// inherited, the interactive desktop, and a STARTUPINFOW that asks for nothing else. Anything
// more (a console, a suspended start, a job, window placement, standard handles) would be
// recorded without being done.
constexpr DWORD ModelledCreationFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS;

bool modelled(BOOL inheritHandles, DWORD creationFlags, const STARTUPINFOW& startup) {
    const bool plainStartup = startup.cb == sizeof(STARTUPINFOW) && startup.lpReserved == nullptr &&
                              startup.lpTitle == nullptr && startup.dwFlags == 0 &&
                              startup.cbReserved2 == 0 && startup.lpReserved2 == nullptr;
    return inheritHandles == FALSE && (creationFlags & ~ModelledCreationFlags) == 0 &&
           plainStartup && startup.lpDesktop != nullptr &&
           Poco::icompare(ToUtf8(startup.lpDesktop), "WinSta0\\Default") == 0;
}

// The next free id after the last one handed out; process and thread ids share one space.
DWORD newId(Configuration& configuration) {
    for (;;) {
        configuration.lastProcessId += 4;
        const DWORD id = configuration.lastProcessId;
        const bool used = std::any_of(configuration.processes.begin(),
                                      configuration.processes.end(),
                                      [id](const ProcessEntry& p) { return p.processId == id; });
        if (!used && id != 0) {
            return id;
        }
    }
}

void reportLaunch(const LaunchRecord& launch) {
    std::string user = launch.userSid;
    bool administrator = false;
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const auto found = model.configuration.accounts.find(Poco::toUpper(launch.userSid));
        if (found != model.configuration.accounts.end()) {
            user = found->second.domain + "\\" + found->second.name;
            administrator = found->second.administrator;
        }
    }
    // Without UAC an administrator's only token is a full one.
    const bool elevated = launch.elevation == TokenElevationTypeFull ||
                          (launch.elevation == TokenElevationTypeDefault && administrator);
    ReportMachineEvent("launch",
                       {{"user", user},
                        {"elevated", elevated ? "yes" : "no"},
                        {"session", std::to_string(launch.sessionId)},
                        {"application", launch.applicationName},
                        {"command", launch.commandLine},
                        {"directory", launch.currentDirectory},
                        {"pid", std::to_string(launch.processId)}});
}

}  // namespace

extern "C" {

BOOL WINAPI CreateProcessAsUserW(HANDLE hToken,
                                 LPCWSTR lpApplicationName,
                                 LPWSTR lpCommandLine,
                                 LPSECURITY_ATTRIBUTES lpProcessAttributes,
                                 LPSECURITY_ATTRIBUTES lpThreadAttributes,
                                 BOOL bInheritHandles,
                                 DWORD dwCreationFlags,
                                 LPVOID lpEnvironment,
                                 LPCWSTR lpCurrentDirectory,
                                 LPSTARTUPINFOW lpStartupInfo,
                                 LPPROCESS_INFORMATION lpProcessInformation) {
    const std::string application = ToUtf8(lpApplicationName);
    const std::optional<HandleEntry> tokenEntry = Model().handles.entry(hToken);
    if (InjectedFailure("CreateProcessAsUserW",
                        application,
                        tokenEntry ? tokenEntry->object->typeName() : "")) {
        return FALSE;
    }
    // Starting a process under another user's token takes SeAssignPrimaryTokenPrivilege.
    if (!CallerIsLocalSystem()) {
        return fail(ERROR_PRIVILEGE_NOT_HELD);
    }
    if (hToken == nullptr || lpApplicationName == nullptr) {
        // A process under the caller's own token, and searching the command line for the
        // program, are not emulated.
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    const auto token =
        tokenEntry ? std::dynamic_pointer_cast<TokenObject>(tokenEntry->object) : nullptr;
    if (!token) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (token->type != TokenPrimary) {
        return fail(ERROR_BAD_TOKEN_TYPE);
    }
    const ACCESS_MASK needed = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY;
    if ((tokenEntry->access & needed) != needed) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (lpStartupInfo == nullptr || lpProcessInformation == nullptr) {
        return fail(ERROR_NOACCESS);
    }
    if ((lpProcessAttributes != nullptr && lpProcessAttributes->lpSecurityDescriptor != nullptr) ||
        (lpThreadAttributes != nullptr && lpThreadAttributes->lpSecurityDescriptor != nullptr)) {
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    if (!modelled(bInheritHandles, dwCreationFlags, *lpStartupInfo)) {
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }

    // A block of CreateEnvironmentBlock is wide; read as ANSI it is rejected.
    const std::optional<EnvironmentOrigin> origin =
        lpEnvironment != nullptr ? Model().environmentBlockOrigin(lpEnvironment) : std::nullopt;
    const bool unicode = (dwCreationFlags & CREATE_UNICODE_ENVIRONMENT) != 0;
    if (origin && !unicode) {
        return fail(ERROR_INVALID_PARAMETER);
    }

    if (application.empty()) {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    const std::optional<std::string> fullApplication = FullWindowsPath(application);
    if (!fullApplication) {
        return fail(ERROR_CALL_NOT_IMPLEMENTED);
    }
    const PathLookup image = LookUpPath(*fullApplication);
    switch (image.kind) {
        case PathKind::Missing:
            return fail(ERROR_FILE_NOT_FOUND);
        case PathKind::MissingFolder:
            return fail(ERROR_PATH_NOT_FOUND);
        case PathKind::Directory:
            return fail(ERROR_ACCESS_DENIED);
        case PathKind::File:
            break;
    }
    // The image is opened in the caller's security context, without write sharing.
    if (image.marks.unreadable) {
        return fail(ERROR_ACCESS_DENIED);
    }
    if (image.marks.heldOpen) {
        return fail(ERROR_SHARING_VIOLATION);
    }

    std::string directory;
    if (lpCurrentDirectory != nullptr) {
        const std::optional<std::string> full = FullWindowsPath(ToUtf8(lpCurrentDirectory));
        if (!full || LookUpPath(*full).kind != PathKind::Directory) {
            return fail(ERROR_DIRECTORY);
        }
        directory = ToUtf8(lpCurrentDirectory);
    } else {
        std::lock_guard<std::mutex> guard(Model().lock);
        directory = ToUtf8(Model().configuration.currentDirectory);
    }

    LaunchRecord launch;
    launch.userSid = token->userSid;
    launch.sessionId = token->sessionId;
    launch.elevation = token->elevation;
    launch.tokenId = token->id;
    launch.applicationName = application;
    launch.commandLine = ToUtf8(lpCommandLine);
    launch.currentDirectory = directory;
    if (lpEnvironment == nullptr) {
        launch.environment = ownEnvironment();
    } else if (unicode) {
        launch.environment = blockVariables(static_cast<const WCHAR*>(lpEnvironment));
    } else {
        launch.environment = blockVariables(static_cast<const char*>(lpEnvironment));
    }
    if (origin) {
        launch.environmentUserSid = origin->userSid;
        launch.environmentTokenId = origin->tokenId;
    }
    launch.desktop = ToUtf8(lpStartupInfo->lpDesktop);
    launch.startupInfoSize = lpStartupInfo->cb;
    launch.creationFlags = dwCreationFlags;
    launch.inheritHandles = bInheritHandles != FALSE;

    ProcessEntry process;
    process.executableName = application.substr(application.find_last_of("\\/") + 1);
    process.sessionId = token->sessionId;
    process.userSid = token->userSid;
    process.elevated = token->elevation == TokenElevationTypeFull;
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        launch.processId = newId(model.configuration);
        launch.threadId = newId(model.configuration);
        process.processId = launch.processId;
        process.startTime = FileTimeNow();
        model.configuration.processes.push_back(process);
        model.configuration.launches.push_back(launch);
    }
    lpProcessInformation->hProcess = Model().handles.insert(
        ProcessObjectOf(launch.processId), "CreateProcessAsUserW", PROCESS_ALL_ACCESS);
    lpProcessInformation->hThread = Model().handles.insert(
        std::make_shared<ThreadObject>(launch.threadId), "CreateProcessAsUserW", THREAD_ALL_ACCESS);
    lpProcessInformation->dwProcessId = launch.processId;
    lpProcessInformation->dwThreadId = launch.threadId;
    reportLaunch(launch);
    return TRUE;
}

}  // extern "C"

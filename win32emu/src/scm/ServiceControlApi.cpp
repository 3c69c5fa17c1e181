// advapi32's calls for controlling a service: OpenSCManagerW, OpenServiceW, StartServiceW,
// QueryServiceStatusEx, CloseServiceHandle. The service database is `orvane-sc serve`'s, reached
// through its socket in the host root (Win32Emu/ScmRequest.h); the caller's identity is the
// emulated process's token, which orvane-sc checks against the service's security descriptor.
// Each can be made to fail by fault injection; OpenServiceW's argument is the service name.

#include "Win32Emu/Machine.h"
#include "Win32Emu/ScmRequest.h"
#include "machine/ApiSupport.h"
#include "machine/Identity.h"
#include "machine/MachineModel.h"
#include "scm/ServiceControlObjects.h"

#include <Poco/String.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>
#include <winsvc.h>

using namespace Win32Emu;

namespace {

// StartServiceW waits as long as Windows' SCM waits for a new process to connect, and then some.
constexpr std::chrono::seconds kStartAnswerTimeout(40);
constexpr std::chrono::seconds kAnswerTimeout(10);

// The user and groups of the emulated process's token, as a service's DACL is checked against.
std::vector<std::string> callerTokenSids() {
    const ProcessEntry self = CurrentProcessEntry();
    const std::string user = Poco::toUpper(self.userSid);
    std::vector<std::string> sids{user, "S-1-1-0", "S-1-5-11", "S-1-5-32-545"};
    bool administrator = user == LocalSystemSid;
    {
        std::lock_guard<std::mutex> guard(Model().lock);
        const auto found = Model().configuration.accounts.find(user);
        if (found != Model().configuration.accounts.end() && found->second.administrator &&
            (self.elevated || !found->second.linkedToken)) {
            administrator = true;
        }
    }
    if (administrator) {
        sids.emplace_back("S-1-5-32-544");
    }
    // A logon at a session's desktop makes the token INTERACTIVE; services in session 0 are not.
    if (user != LocalSystemSid && self.sessionId != 0) {
        sids.emplace_back("S-1-5-4");
    }
    return sids;
}

// The answer to `request`, or false with the last error set: RPC_S_SERVER_UNAVAILABLE when the
// SCM cannot be reached, the SCM's own error for a `done` answer with one.
bool askScm(const std::string& socketPath,
            const ScmMessage& request,
            std::chrono::milliseconds timeout,
            ScmMessage& answer) {
    const ScmReply reply = SendScmRequest(socketPath, request, timeout);
    if (reply.outcome != ScmReply::Outcome::Answered || !reply.answer) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return false;
    }
    if (reply.answer->kind == ScmMessage::Kind::Done && reply.answer->result != ERROR_SUCCESS) {
        SetLastError(reply.answer->result);
        return false;
    }
    answer = *reply.answer;
    return true;
}

std::shared_ptr<ServiceObject> findService(SC_HANDLE handle, ACCESS_MASK right) {
    const auto entry = Model().handles.entry(reinterpret_cast<HANDLE>(handle));
    const auto service = entry ? std::dynamic_pointer_cast<ServiceObject>(entry->object) : nullptr;
    if (!service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((entry->access & right) != right) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return service;
}

}  // namespace

extern "C" {

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName,
                                LPCWSTR lpDatabaseName,
                                DWORD dwDesiredAccess) {
    if (InjectedFailure("OpenSCManagerW")) {
        return nullptr;
    }
    if ((lpMachineName != nullptr && *lpMachineName != L'\0') ||
        (dwDesiredAccess & ~static_cast<DWORD>(SC_MANAGER_CONNECT)) != 0) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    if (lpDatabaseName != nullptr &&
        Poco::icompare(ToUtf8(lpDatabaseName), ToUtf8(SERVICES_ACTIVE_DATABASEW)) != 0) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    const std::string socketPath = ScmSocketPath(Machine::instance().hostRoot());
    // Connecting is all the SCM checks: every caller may connect.
    if (!ScmListening(socketPath)) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(Model().handles.insert(
        std::make_shared<ScManagerObject>(socketPath), "OpenSCManagerW", SC_MANAGER_CONNECT));
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    const std::string name = ToUtf8(lpServiceName);
    if (InjectedFailure("OpenServiceW", name)) {
        return nullptr;
    }
    const auto manager =
        Model().handles.findAs<ScManagerObject>(reinterpret_cast<HANDLE>(hSCManager));
    if (!manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (lpServiceName == nullptr) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    if (name.empty() || name.find_first_of("\\/") != std::string::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    if ((dwDesiredAccess & ~static_cast<DWORD>(SERVICE_ALL_ACCESS)) != 0) {
        // Generic rights and MAXIMUM_ALLOWED are not modelled.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    ScmMessage answer;
    if (!askScm(manager->socketPath,
                ScmMessage::open(dwDesiredAccess, callerTokenSids(), name),
                kAnswerTimeout,
                answer)) {
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE>(
        Model().handles.insert(std::make_shared<ServiceObject>(manager->socketPath, name),
                               "OpenServiceW",
                               dwDesiredAccess));
}

BOOL WINAPI StartServiceW(SC_HANDLE hService,
                          DWORD dwNumServiceArgs,
                          LPCWSTR* /*lpServiceArgVectors*/) {
    if (InjectedFailure("StartServiceW")) {
        return FALSE;
    }
    const auto service = findService(hService, SERVICE_START);
    if (!service) {
        return FALSE;
    }
    if (dwNumServiceArgs != 0) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    ScmMessage answer;
    return askScm(service->socketPath,
                  ScmMessage::start(service->serviceName),
                  kStartAnswerTimeout,
                  answer)
               ? TRUE
               : FALSE;
}

BOOL WINAPI QueryServiceStatusEx(SC_HANDLE hService,
                                 SC_STATUS_TYPE InfoLevel,
                                 LPBYTE lpBuffer,
                                 DWORD cbBufSize,
                                 LPDWORD pcbBytesNeeded) {
    if (InjectedFailure("QueryServiceStatusEx")) {
        return FALSE;
    }
    if (InfoLevel != SC_STATUS_PROCESS_INFO) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (pcbBytesNeeded == nullptr) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    const auto service = findService(hService, 0);
    if (!service) {
        return FALSE;
    }
    if (lpBuffer == nullptr || cbBufSize < sizeof(SERVICE_STATUS_PROCESS)) {
        *pcbBytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!findService(hService, SERVICE_QUERY_STATUS)) {
        return FALSE;
    }
    ScmMessage answer;
    if (!askScm(
            service->socketPath, ScmMessage::query(service->serviceName), kAnswerTimeout, answer)) {
        return FALSE;
    }
    if (answer.kind != ScmMessage::Kind::Process) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return FALSE;
    }
    SERVICE_STATUS_PROCESS status{};
    status.dwServiceType = answer.statusReport.dwServiceType;
    status.dwCurrentState = answer.statusReport.dwCurrentState;
    status.dwControlsAccepted = answer.statusReport.dwControlsAccepted;
    status.dwWin32ExitCode = answer.statusReport.dwWin32ExitCode;
    status.dwServiceSpecificExitCode = answer.statusReport.dwServiceSpecificExitCode;
    status.dwCheckPoint = answer.statusReport.dwCheckPoint;
    status.dwWaitHint = answer.statusReport.dwWaitHint;
    status.dwProcessId = answer.processId;
    std::memcpy(lpBuffer, &status, sizeof status);
    *pcbBytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    if (InjectedFailure("CloseServiceHandle")) {
        return FALSE;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(hSCObject);
    const auto object = Model().handles.find(handle);
    if (!std::dynamic_pointer_cast<ScManagerObject>(object) &&
        !std::dynamic_pointer_cast<ServiceObject>(object)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Model().handles.remove(handle);
    return TRUE;
}

}  // extern "C"

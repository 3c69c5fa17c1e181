// ServiceClient's dealings with the service control manager and the TCP table: starting the
// service, and who accepted the connection.

#include "core/messaging/ServiceClient.h"
#include "core/util/WideString.h"
#include "core/windows/ScopedServiceHandle.h"
#include "core/windows/TcpTable.h"

#include <Poco/Exception.h>
#include <Poco/Timestamp.h>

#include <algorithm>
#include <optional>

namespace OrvaneClient {
namespace {

std::string ErrorText(const char* call, DWORD error) {
    return std::string(call) + " failed with error " + std::to_string(error);
}

const char* StateName(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED:
            return "STOPPED";
        case SERVICE_START_PENDING:
            return "START_PENDING";
        case SERVICE_STOP_PENDING:
            return "STOP_PENDING";
        case SERVICE_RUNNING:
            return "RUNNING";
        default:
            return "another state";
    }
}

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status, std::string& problem) {
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service,
                              SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<LPBYTE>(&status),
                              sizeof status,
                              &needed)) {
        problem = ErrorText("QueryServiceStatusEx", GetLastError());
        return false;
    }
    return true;
}

// The service opened with `access`, or an empty handle with `problem` and `error` set.
ScopedServiceHandle OpenTheService(const std::string& name,
                                   DWORD access,
                                   ScopedServiceHandle& manager,
                                   std::string& problem,
                                   DWORD& error) {
    manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.isValid()) {
        error = GetLastError();
        problem = ErrorText("OpenSCManagerW", error);
        return ScopedServiceHandle();
    }
    ScopedServiceHandle service(OpenServiceW(manager.get(), Utf8ToWide(name).c_str(), access));
    if (!service.isValid()) {
        error = GetLastError();
        problem = error == ERROR_SERVICE_DOES_NOT_EXIST
                      ? "the service \"" + name + "\" is not installed"
                  : error == ERROR_ACCESS_DENIED
                      ? "this account may not start or query the service \"" + name + "\""
                      : ErrorText("OpenServiceW", error);
    }
    return service;
}

}  // namespace

bool ServiceClient::startTheService(ExchangeResult& result) const {
    ScopedServiceHandle manager;
    std::string problem;
    const ScopedServiceHandle service = OpenTheService(settings.serviceName,
                                                       SERVICE_START | SERVICE_QUERY_STATUS,
                                                       manager,
                                                       problem,
                                                       result.responder.scmError);
    result.status = ExchangeStatus::StartFailed;
    if (!service.isValid()) {
        result.detail = problem;
        return false;
    }
    const Poco::Timestamp began;
    bool startedByUs = false;
    bool wasNotRunning = false;
    for (;;) {
        SERVICE_STATUS_PROCESS status{};
        if (!QueryStatus(service.get(), status, result.detail)) {
            return false;
        }
        if (status.dwCurrentState == SERVICE_RUNNING) {
            // Found running at once: nobody's start this exchange waited for.
            result.responder.start = startedByUs     ? ServiceStart::ByThisRequest
                                     : wasNotRunning ? ServiceStart::ByAnotherRequest
                                                     : ServiceStart::None;
            return true;
        }
        wasNotRunning = true;
        if (status.dwCurrentState == SERVICE_STOPPED && startedByUs) {
            result.detail = "the service stopped while starting (exit code " +
                            std::to_string(status.dwWin32ExitCode) + ", service-specific " +
                            std::to_string(status.dwServiceSpecificExitCode) + ")";
            return false;
        }
        if (status.dwCurrentState == SERVICE_STOPPED) {
            if (StartServiceW(service.get(), 0, nullptr)) {
                startedByUs = true;
                continue;
            }
            // Another caller may have started it meanwhile, or its last process is ending.
            const DWORD error = GetLastError();
            if (error != ERROR_SERVICE_ALREADY_RUNNING) {
                result.responder.scmError = error;
                result.detail = error == ERROR_ACCESS_DENIED
                                    ? "this account may not start the service"
                                    : ErrorText("StartServiceW", error);
                return false;
            }
        }
        if (Poco::Timespan(began.elapsed()) >= settings.startTimeout) {
            result.detail = "the service did not reach RUNNING within " +
                            std::to_string(settings.startTimeout.totalSeconds()) +
                            " seconds (it is " + StateName(status.dwCurrentState) + ")";
            return false;
        }
        // As Windows' own samples do: a tenth of the hint, within bounds.
        Sleep(std::clamp<DWORD>(status.dwWaitHint / 10, 50, 1000));
    }
}

DWORD ServiceClient::queryServicePid(std::string& problem, DWORD& scmError) const {
    ScopedServiceHandle manager;
    const ScopedServiceHandle service =
        OpenTheService(settings.serviceName, SERVICE_QUERY_STATUS, manager, problem, scmError);
    SERVICE_STATUS_PROCESS status{};
    if (!service.isValid() || !QueryStatus(service.get(), status, problem)) {
        return 0;
    }
    if (status.dwProcessId == 0) {
        problem = "the service is not running";
    }
    return status.dwProcessId;
}

DWORD ServiceClient::AcceptingProcess(const Poco::Net::StreamSocket& socket, std::string& problem) {
    std::optional<TcpTable::Endpoint> service;
    std::optional<TcpTable::Endpoint> own;
    try {
        service = TcpTable::Ipv4Endpoint(socket.peerAddress());
        own = TcpTable::Ipv4Endpoint(socket.address());
    } catch (const Poco::Exception& exception) {
        problem = exception.displayText();
        return 0;
    }
    if (!service || !own) {
        problem = "not an IPv4 connection";
        return 0;
    }
    TcpTable table;
    if (const DWORD error = table.read(TCP_TABLE_OWNER_PID_CONNECTIONS); error != NO_ERROR) {
        problem = ErrorText("GetExtendedTcpTable", error);
        return 0;
    }
    // The service's end: its local endpoint is the one we connected to, its remote one ours.
    const std::optional<DWORD> owner = table.connectionOwner(*service, *own);
    if (!owner) {
        problem = "the TCP table has no row for the service's end of this connection";
        return 0;
    }
    if (*owner == 0) {
        problem = "the TCP table names no owner of the service's end of this connection";
    }
    return *owner;
}

}  // namespace OrvaneClient

#include "service/OrvaneService.h"

#include "core/logfacade/LogFacade.h"
#include "core/logging/LoggerSetup.h"
#include "core/util/Constants.h"
#include "core/windows/Locations.h"
#include "core/windows/ProcessMitigation.h"
#include "core/windows/ScopedHandle.h"

#include <algorithm>
#include <chrono>

namespace OrvaneClient {
namespace {

// The SCM's callbacks are plain functions; they reach the one service through this pointer.
OrvaneService* serviceInstance = nullptr;

// The name the service is registered under with the SCM.
constexpr const char* ScmServiceName = "Orvane Client Service";
constexpr const char* LoggerName = "orvane_service";
constexpr DWORD StopPollMilliseconds = 100;
// After the stop event is seen: how long requests still running are given, and how often the
// stop's progress is reported meanwhile. What is left of the wait hint covers the rest of the
// stop and the process's exit.
constexpr auto StopWorkGrace = std::chrono::milliseconds(1400);
constexpr auto StopReportInterval = std::chrono::milliseconds(400);

void SetUpServiceLogging() {
    SetupLogging(LoggerName, JoinPath(GetLogsDirectory(), ServiceLogFileName));
    LogRedirectionTrustMitigation();
}

// When the listening socket cannot be had there is no service object; these callbacks only
// tell the SCM that the service stopped, and why.
void WINAPI ListenerFailureControlHandler(DWORD /*control*/) {}

void WINAPI ListenerFailureServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
    SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerA(ScmServiceName, &ListenerFailureControlHandler);
    if (handle == nullptr) {
        const DWORD error = GetLastError();
        LogInfo("RegisterServiceCtrlHandler failed with error %d, exiting",
                static_cast<int>(error));
        return;
    }
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = ServiceErrorCannotListen;
    if (!SetServiceStatus(handle, &status)) {
        const DWORD error = GetLastError();
        LogInfo("SetServiceStatus failed setting status to %d with error code %d",
                static_cast<int>(SERVICE_STOPPED),
                static_cast<int>(error));
    }
}

}  // namespace

OrvaneService::OrvaneService() : serviceName(ScmServiceName), server(*this) {
    serviceInstance = this;
}

OrvaneService::OrvaneService(const Poco::Net::SocketAddress& endpoint,
                             const Poco::Timespan& reactorTimeout,
                             const Poco::Timespan& stallTimeout)
    : serviceName(ScmServiceName), server(*this, endpoint, reactorTimeout, stallTimeout) {
    serviceInstance = this;
}

OrvaneService::~OrvaneService() = default;

int OrvaneService::run() {
    SetUpServiceLogging();

    // The name is not modified by the dispatcher; the table type merely lacks the const.
    SERVICE_TABLE_ENTRYA dispatchTable[] = {
        {const_cast<LPSTR>(serviceName), &OrvaneService::ServiceMain},
        {nullptr, nullptr},
    };
    if (StartServiceCtrlDispatcherA(dispatchTable)) {
        return 0;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        LogInfo("OrvaneService should be started as a service");
        return ExitNotStartedAsService;
    }
    LogInfo("OrvaneService failed to start: %d", static_cast<int>(error));
    return static_cast<int>(error);
}

int OrvaneService::runWithoutListener(const std::string& reason) {
    SetUpServiceLogging();
    LogError("OrvaneService cannot listen for client connections, exiting: %s", reason.c_str());

    SERVICE_TABLE_ENTRYA dispatchTable[] = {
        {const_cast<LPSTR>(ScmServiceName), &ListenerFailureServiceMain},
        {nullptr, nullptr},
    };
    // Outside an SCM there is nobody to tell; the exit code says it all.
    StartServiceCtrlDispatcherA(dispatchTable);
    return ExitCannotListen;
}

void WINAPI OrvaneService::ServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
    serviceInstance->serviceMain();
}

void WINAPI OrvaneService::ServiceControlHandler(DWORD control) {
    OrvaneService* service = serviceInstance;
    if (control == SERVICE_CONTROL_STOP) {
        // Stop is accepted only while running; a stop that comes while starting or already
        // stopping gets no report.
        if (service->currentState == SERVICE_RUNNING) {
            static_cast<IOrvaneService*>(service)->stop();
        }
        return;
    }
    service->setStatus(service->currentState);
}

void OrvaneService::serviceMain() {
    LogInfo("OrvaneService starting");

    statusHandle = RegisterServiceCtrlHandlerA(serviceName, &OrvaneService::ServiceControlHandler);
    if (statusHandle == nullptr) {
        const DWORD error = GetLastError();
        LogInfo("RegisterServiceCtrlHandler failed with error %d, exiting",
                static_cast<int>(error));
        return;
    }

    setStatus(SERVICE_START_PENDING);

    stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent.isValid()) {
        stopWithError(ServiceErrorStopEvent);
        return;
    }

    setStatus(SERVICE_RUNNING);
    serve();
    setStatus(SERVICE_STOPPED);
    LogInfo("OrvaneService stopped");
}

void OrvaneService::serve() {
    server.start();
    while (WaitForSingleObject(stopEvent.get(), 0) != WAIT_OBJECT_0) {
        Sleep(StopPollMilliseconds);
    }
    const auto workDeadline = std::chrono::steady_clock::now() + StopWorkGrace;
    // Closes every connection and the listener: whatever clients do, the port is free now.
    server.stop(workDeadline);
    // stop() reported check point 1.
    DWORD checkPoint = 2;
    while (!server.waitForWork(
        std::min(workDeadline, std::chrono::steady_clock::now() + StopReportInterval))) {
        if (std::chrono::steady_clock::now() >= workDeadline) {
            // A grant is idempotent: the next fix-dir completes it.
            LogWarning("OrvaneService stopping with a request still running; it is abandoned");
            break;
        }
        reportStatus(SERVICE_STOP_PENDING, NO_ERROR, 0, checkPoint++, StopWaitHintMilliseconds);
    }
}

void OrvaneService::setStatus(DWORD state) {
    currentState = state;
    reportStatus(state, NO_ERROR, 0);
}

void OrvaneService::stopWithError(DWORD code) {
    const DWORD lastError = GetLastError();
    LogInfo("OrvaneService error %d occured, stopping service; last system error: %d",
            static_cast<int>(code),
            static_cast<int>(lastError));
    currentState = SERVICE_STOPPED;
    reportStatus(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR, code);
}

void OrvaneService::reportStatus(DWORD state,
                                 DWORD win32ExitCode,
                                 DWORD serviceSpecificExitCode,
                                 DWORD checkPoint,
                                 DWORD waitHint) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = win32ExitCode;
    status.dwServiceSpecificExitCode = serviceSpecificExitCode;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    if (!SetServiceStatus(statusHandle, &status)) {
        const DWORD error = GetLastError();
        LogInfo("SetServiceStatus failed setting status to %d with error code %d",
                static_cast<int>(currentState.load()),
                static_cast<int>(error));
    }
}

bool OrvaneService::launchProcess(const char* processPath,
                                  const char* commandLineArgs,
                                  const char* workingDir,
                                  bool elevated,
                                  uint32_t* processId) {
    return operations.launchProcess(processPath, commandLineArgs, workingDir, elevated, processId);
}

bool OrvaneService::fixDirectoryPrivileges(const char* directory, size_t length) {
    return operations.fixDirectoryPrivileges(directory, length);
}

bool OrvaneService::getRefreshToken(std::string& token) {
    return operations.getRefreshToken(token);
}

std::string OrvaneService::getLibraryLocation() {
    return operations.getLibraryLocation();
}

void OrvaneService::stop() {
    currentState = SERVICE_STOP_PENDING;
    reportStatus(SERVICE_STOP_PENDING, NO_ERROR, 0, 1, StopWaitHintMilliseconds);
    SetEvent(stopEvent.get());
}

}  // namespace OrvaneClient

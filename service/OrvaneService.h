#pragma once

#include "core/windows/ScopedHandle.h"
#include "core/windows/Win32Api.h"
#include "service/IOrvaneService.h"
#include "service/ServiceServer.h"
#include "service/operations/PrivilegedOperations.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace OrvaneClient {

// Process exit codes besides 0 and the Windows error of a failed dispatcher start.
constexpr int ExitNotStartedAsService = -12;
constexpr int ExitCannotListen = -13;

// The longest a stop takes, from the stop control to the process's exit, as reported to the SCM.
constexpr DWORD StopWaitHintMilliseconds = 2000;

// Service-specific exit codes reported with ERROR_SERVICE_SPECIFIC_ERROR.
constexpr DWORD ServiceErrorStopEvent = 2;
constexpr DWORD ServiceErrorCannotListen = 3;

// The Windows service: the SCM host and the server. Exactly one per process, on the entry
// point's stack: constructing it binds the listening socket (a Poco::Net::NetException escapes
// when that fails) and stores it in serviceInstance, through which the SCM's two callbacks reach
// it. The four operations it serves are PrivilegedOperations'; it hands each request there.
//
// Threads: run() and the control handler on the main thread; serviceMain() and serve() on the
// service thread the SCM starts; stop() on the main thread or the reactor thread.
class OrvaneService : public IOrvaneService {
public:
    OrvaneService();
    // Test seam: the server on another endpoint and with another inactivity timeout and stall
    // timeout.
    OrvaneService(const Poco::Net::SocketAddress& endpoint,
                  const Poco::Timespan& reactorTimeout,
                  const Poco::Timespan& stallTimeout = Poco::Timespan(ServiceStallTimeoutSeconds,
                                                                      0));
    ~OrvaneService() override;

    OrvaneService(const OrvaneService&) = delete;
    OrvaneService& operator=(const OrvaneService&) = delete;

    bool launchProcess(const char* processPath,
                       const char* commandLineArgs,
                       const char* workingDir,
                       bool elevated,
                       uint32_t* processId) override;
    bool fixDirectoryPrivileges(const char* directory, size_t length) override;
    bool getRefreshToken(std::string& token) override;
    std::string getLibraryLocation() override;
    // Reports SERVICE_STOP_PENDING (check point 1, wait hint StopWaitHintMilliseconds) and sets
    // the stop event; returns at once.
    void stop() override;

    // True when the service stopped while a request was still running on a worker: destroying
    // the service would wait for it, so the process must exit without destroying it.
    bool hasAbandonedWork() const { return server.hasAbandonedWork(); }

    // Sets up logging and hands the calling thread to the service control dispatcher until the
    // service has stopped. Returns 0 after a normal stop, ExitNotStartedAsService when no SCM
    // started the process, or the dispatcher's Windows error code.
    int run();

    // What the entry point does when constructing the service failed because the listening
    // socket could not be had: sets up logging, logs the reason and, under an SCM, reports
    // SERVICE_STOPPED with ERROR_SERVICE_SPECIFIC_ERROR / ServiceErrorCannotListen.
    // Returns ExitCannotListen.
    static int runWithoutListener(const std::string& reason);

    // The port the server listens on (the one the system chose when the endpoint asked for 0).
    Poco::UInt16 serverPort() const { return server.port(); }

private:
    static void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
    static void WINAPI ServiceControlHandler(DWORD control);

    void serviceMain();
    void serve();
    void setStatus(DWORD state);
    void stopWithError(DWORD code);
    void reportStatus(DWORD state,
                      DWORD win32ExitCode,
                      DWORD serviceSpecificExitCode,
                      DWORD checkPoint = 0,
                      DWORD waitHint = 0);

    // Written on the service, main and reactor threads, read by the control handler.
    std::atomic<DWORD> currentState{0};
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    // Created by serviceMain and kept until the service object goes, so that a late stop()
    // never signals a closed handle.
    ScopedHandle stopEvent;
    const char* serviceName;
    PrivilegedOperations operations;
    // Last: its connections call into `operations` until it is gone.
    ServiceServer server;
};

}  // namespace OrvaneClient

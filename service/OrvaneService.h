#pragma once

#include "core/windows/ScopedHandle.h"
#include "core/windows/Win32Api.h"
#include "service/GrantTargetPolicy.h"
#include "service/IOrvaneService.h"
#include "service/ServiceServer.h"

#include <atomic>
#include <cstdint>
#include <optional>
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

// The Windows service. Exactly one per process, on the entry point's stack: constructing it
// binds the listening socket (a Poco::Net::NetException escapes when that fails) and stores
// it in serviceInstance, through which the SCM's two callbacks reach it.
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
    friend class OrvaneServiceTestPeer;

    // The console user's identity (OrvaneServiceTokens.cpp). Each acquires its handles anew and
    // releases all but the one it hands over.
    //
    // The primary token of the user logged on to the active console session (for an
    // administrator under UAC, the filtered one). False after an error line.
    bool queryConsoleUserToken(HANDLE* userToken);
    // A new primary token for CreateProcessAsUserW: a duplicate of the linked full token when
    // `elevated` and the user has one, else of `userToken`. False after an error line.
    bool getLaunchToken(HANDLE userToken, bool elevated, HANDLE* launchToken);
    // The first `executableName` process of the active console session, its token opened with
    // TOKEN_DUPLICATE access; INVALID_HANDLE_VALUE when there is none. Logs only that there is
    // no console session.
    HANDLE findConsoleProcessToken(const std::string& executableName);
    // A primary token duplicated from the token of explorer.exe in the active console session,
    // or null. Logs nothing of its own.
    HANDLE getShellUserToken();

    // Granting the console user full control (OrvaneServicePermissions.cpp). Each true only when
    // the user's SID now holds the inheritable full-control entry on the object; the shell token
    // and SID are had anew and released on every path.
    // The folder is the one `directory` names, held open since it was checked.
    bool setDirectoryPermissions(HANDLE folder, const std::wstring& directory);
    // `key`: the "HKEY_LOCAL_MACHINE\..." constant the object name was made from.
    bool setRegistryPermissions(const std::wstring& objectName, const std::string& key);
    // What both grants do: the shell user's account and SID, then an inheritable full-control
    // entry for that SID on a folder (through `object`, its handle), or on a key in the
    // process's registry view (`object` null: opened here). `grantName` names it in refusals.
    bool grantConsoleUserFullControl(const std::wstring& objectName,
                                     const std::string& grantName,
                                     bool registryKey,
                                     HANDLE object);
    // Adds the entry to the object's access list (its DACL alone) and writes what every object
    // below inherits from it, each on its own handle (GrantWalk.h), the object's own list last.
    // A Win32 error code, 0 for success; ERROR_BAD_INHERITANCE_ACL from the write counts as
    // success (already in place). Logs each failure at error level, a refusal at warning level.
    DWORD setObjectPermissions(const std::wstring& objectName,
                               const std::string& grantName,
                               HANDLE object,
                               SE_OBJECT_TYPE objectType,
                               PSID sid,
                               TRUSTEE_FORM trusteeForm,
                               DWORD accessPermissions,
                               ACCESS_MODE accessMode,
                               DWORD inheritance);
    // "DOMAIN/name" of the SID, or "?" after an error line.
    std::string getSidAccountName(PSID sid);
    // The rules of GrantTargetPolicy.h applied to the directory on this machine.
    GrantVerdict judgeDirectory(const std::string& directory);
    // The checks before a directory grant (OrvaneServiceGrantTarget.cpp): the rules on the path
    // as sent, then the folder opened once into `folder` and the rules again on its final path
    // (`grantPath`). A refusal reason, or none; none with `folder` empty when the folder could
    // not be opened (logged as the read of its access list failing). What it holds is judged
    // by the grant's walk, entry by entry.
    std::optional<std::string> prepareDirectoryGrant(const std::string& directory,
                                                     ScopedHandle& folder,
                                                     std::string& grantPath);
    // The grant of one of the two keys, and its refusal line for a key not of the machine's.
    bool grantRegistryKey(const std::string& key);

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
    ServiceServer server;
};

}  // namespace OrvaneClient

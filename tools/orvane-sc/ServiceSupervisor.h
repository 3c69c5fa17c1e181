#pragma once

// The emulated service control manager. `orvane-sc run`: for one service process; it starts the
// process with an SCM channel, prints every status report, delivers controls (from a signal or
// from `orvane-sc stop`/`interrogate`) one at a time, as Windows' SCM does, and ends once the
// process has ended. `orvane-sc serve`: services.exe for the machine; the service stays
// installed, is started on request (`orvane-sc start`, a program's StartServiceW) as often as
// it is asked, answers the controlling calls, and the SCM ends on a signal. Single-threaded: one
// poll loop over the signals, the channel and the control socket, with deadlines, not sleeps.

#include "ControlEndpoint.h"
#include "ServiceProcess.h"
#include "ServiceSecurity.h"
#include "UniqueFd.h"
#include "Win32Emu/ScmLineBuffer.h"
#include "Win32Emu/ScmMessage.h"

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>
#include <winsvc.h>

namespace OrvaneSc {

struct RunOptions {
    std::string executable;  // absolute
    std::string root;        // absolute, existing
    std::string profile;     // absolute, or empty for the emulator's own choice
};

class ServiceSupervisor {
public:
    explicit ServiceSupervisor(RunOptions options);

    // Runs the service until its process has ended. orvane-sc's exit code: the service
    // process's exit code after it reported SERVICE_STOPPED; otherwise that code when it is not
    // 0, else 1 (a signal that ended it counts as 128 + its number).
    int run();
    // Serves the installed service until a signal ends orvane-sc (and a running service with
    // it). 0, or 1 when the control socket cannot be opened.
    int serve();

private:
    using Clock = std::chrono::steady_clock;

    struct Request {
        DWORD control = 0;
        UniqueFd client;     // the `orvane-sc stop` waiting for the answer, if any
        std::string source;  // who asked, for the printed line
        bool fromSignal = false;
        Clock::time_point deadline;
        bool sent = false;
    };
    struct PendingClient {
        UniqueFd socket;
        Win32Emu::ScmLineBuffer buffer;
        Clock::time_point deadline;
    };

    bool setupSignals(std::string& error);
    bool startService(std::string& error);
    bool keepRunning() const;
    int reportEnd();

    // serve: the requests of programs, and one run of the service after another.
    void onStartRequest(UniqueFd client);
    void onOpenRequest(UniqueFd& client, const Win32Emu::ScmMessage& request);
    void onQueryRequest(UniqueFd& client);
    bool isTheService(const std::string& name) const;
    SERVICE_STATUS currentStatus() const;
    void answerStarters(DWORD error);
    void endRun();
    std::vector<std::string> serviceEnvironment() const;
    void loop();
    std::optional<Clock::time_point> nextDeadline() const;

    void readChannel();
    void closeChannel();
    void onMessage(const Win32Emu::ScmMessage& message);
    void onStatus(const SERVICE_STATUS& status);
    void onDone(DWORD control, DWORD result);

    void readSignals();
    void onStopSignal(const std::string& name);
    void queueStopIfAccepted(bool explain);
    void onProcessEnded();

    void acceptClients();
    // True when the client is done with (answered or gone) and may be dropped.
    bool readClient(PendingClient& client);

    DWORD checkControl(DWORD control) const;
    void queueControl(DWORD control,
                      UniqueFd client,
                      const std::string& source,
                      bool fromSignal = false);
    void sendNextControl();
    void answerRequests(DWORD error);
    void checkDeadlines();
    int finish();

    RunOptions options;
    bool serving = false;
    bool quitting = false;
    ServiceSecurity security;
    std::vector<UniqueFd> starters;  // StartServiceW calls waiting for the process to connect
    bool everStarted = false;
    ControlEndpoint endpoint;
    ServiceProcess process;
    UniqueFd signals;
    UniqueFd channel;
    Win32Emu::ScmLineBuffer channelBuffer;

    bool connected = false;
    std::optional<SERVICE_STATUS> lastStatus;
    bool stopReported = false;
    int stopSignals = 0;
    bool stopWanted = false;
    bool stopQueued = false;
    std::string stopSource;

    std::deque<Request> requests;
    std::vector<PendingClient> clients;
    Clock::time_point connectDeadline;
    std::optional<Clock::time_point> exitDeadline;
};

}  // namespace OrvaneSc

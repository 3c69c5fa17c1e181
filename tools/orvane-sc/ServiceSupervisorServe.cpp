// `orvane-sc serve`: the service stays installed and is started on request, one run after
// another; programs open, start and query it through the emulated StartServiceW and its kin.

#include "Output.h"
#include "ServiceSupervisor.h"

#include <Poco/String.h>

namespace OrvaneSc {

using Win32Emu::ScmMessage;

namespace {

constexpr const char* kServiceName = "Orvane Client Service";

}  // namespace

int ServiceSupervisor::serve() {
    serving = true;
    std::string error;
    if (!endpoint.open(options.root, error) || !setupSignals(error)) {
        Note(error);
        return 1;
    }
    PrintLine("drive C: path=" + options.root + "/C");
    PrintLine(std::string("install service=\"") + kServiceName +
              "\" start=DEMAND exe=" + options.executable);
    Note(
        "`orvane-sc start` or a program's StartServiceW starts the service; Ctrl-C ends "
        "orvane-sc and a running service");
    loop();
    return 0;
}

bool ServiceSupervisor::isTheService(const std::string& name) const {
    return Poco::icompare(name, std::string(kServiceName)) == 0;
}

void ServiceSupervisor::onStartRequest(UniqueFd client) {
    if (quitting) {
        Answer(client, ScmMessage::done(0, ERROR_SHUTDOWN_IN_PROGRESS));
        return;
    }
    // A process still running, even one that has reported SERVICE_STOPPED, is the service's.
    if (process.running()) {
        Answer(client, ScmMessage::done(0, ERROR_SERVICE_ALREADY_RUNNING));
        return;
    }
    connected = false;
    lastStatus.reset();
    stopReported = false;
    stopSignals = 0;
    stopWanted = false;
    stopQueued = false;
    exitDeadline.reset();
    channelBuffer = Win32Emu::ScmLineBuffer();
    std::string error;
    if (!startService(error)) {
        Note(error);
        Answer(client, ScmMessage::done(0, ERROR_FILE_NOT_FOUND));
        return;
    }
    everStarted = true;
    PrintLine("start exe=" + options.executable + " pid=" + std::to_string(process.pid()));
    starters.push_back(std::move(client));
}

void ServiceSupervisor::onOpenRequest(UniqueFd& client, const ScmMessage& request) {
    const bool granted = security.grants(request.sids, request.code);
    Answer(client, ScmMessage::done(0, granted ? ERROR_SUCCESS : ERROR_ACCESS_DENIED));
}

void ServiceSupervisor::onQueryRequest(UniqueFd& client) {
    const bool live = process.running() && !stopReported;
    Answer(client,
           ScmMessage::process(live ? static_cast<DWORD>(process.pid()) : 0, currentStatus()));
}

SERVICE_STATUS ServiceSupervisor::currentStatus() const {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    if (process.running() && !stopReported) {
        if (lastStatus) {
            return *lastStatus;
        }
        // Until its first report the SCM holds a new service as starting.
        status.dwCurrentState = SERVICE_START_PENDING;
        return status;
    }
    if (lastStatus && lastStatus->dwCurrentState == SERVICE_STOPPED) {
        return *lastStatus;
    }
    status.dwCurrentState = SERVICE_STOPPED;
    // A process that ended without reporting SERVICE_STOPPED was aborted.
    status.dwWin32ExitCode = everStarted ? ERROR_PROCESS_ABORTED : ERROR_SERVICE_NEVER_STARTED;
    return status;
}

void ServiceSupervisor::answerStarters(DWORD error) {
    for (UniqueFd& starter : starters) {
        Answer(starter, ScmMessage::done(0, error));
    }
    starters.clear();
}

void ServiceSupervisor::endRun() {
    answerStarters(ERROR_PROCESS_ABORTED);
    reportEnd();
}

}  // namespace OrvaneSc

#pragma once

// The service process that orvane-sc starts, as services.exe starts a service's image: its own
// process group (a terminal's Ctrl-C reaches the SCM, not the service), stdin from /dev/null,
// stdout and stderr onto orvane-sc's stderr (orvane-sc's stdout carries only its own lines),
// and the SCM channel inherited on a fixed descriptor. Destroying a ServiceProcess that still
// runs kills and reaps it: nothing is left behind.

#include <string>
#include <sys/types.h>
#include <vector>

namespace OrvaneSc {

class ServiceProcess {
public:
    // The descriptor number at which the service finds its SCM channel.
    static constexpr int kChannelDescriptor = 3;

    ServiceProcess() = default;
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;
    ~ServiceProcess();

    // Starts `executable` with `environment` ("NAME=value" entries) and `channel` as
    // kChannelDescriptor. False with `error` set when it cannot be started.
    bool start(const std::string& executable,
               const std::vector<std::string>& environment,
               int channel,
               std::string& error);

    pid_t pid() const { return processId; }
    bool running() const { return processId > 0 && !exited; }
    // Reaps the process if it has ended; true once it has.
    bool reap();
    // SIGKILL, for a service that must not outlive its SCM.
    void kill();

    // After reap(): the exit code, or 128 + the signal that ended it (as a shell reports it).
    int exitCode() const;
    // After reap(): "exited with code 3" or "was killed by signal 9".
    std::string howItEnded() const;
    bool endedBySignal() const;

private:
    pid_t processId = -1;
    bool exited = false;
    int waitStatus = 0;
};

}  // namespace OrvaneSc

#include "ServiceProcess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace OrvaneSc {

namespace {

// Owns the spawn attributes and file actions for the length of one posix_spawn.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;

    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
};

}  // namespace

ServiceProcess::~ServiceProcess() {
    if (running()) {
        kill();
        int status = 0;
        while (waitpid(processId, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool ServiceProcess::start(const std::string& executable,
                           const std::vector<std::string>& environment,
                           int channel,
                           std::string& error) {
    SpawnSetup setup;
    // dup2 onto a different number clears close-on-exec on the copy; a channel that already
    // sits at the target number would keep it, so the caller's descriptor must lie elsewhere.
    if (channel == kChannelDescriptor) {
        error = "the SCM channel is on the descriptor reserved for the service's copy";
        return false;
    }
    posix_spawn_file_actions_adddup2(&setup.actions, channel, kChannelDescriptor);
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, STDERR_FILENO, STDOUT_FILENO);

    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGPIPE}) {
        sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setflags(
        &setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<char*> envp;
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};

    pid_t pid = -1;
    const int result =
        posix_spawn(&pid, executable.c_str(), &setup.actions, &setup.attributes, argv, envp.data());
    if (result != 0) {
        error = "cannot start " + executable + ": " + std::strerror(result);
        return false;
    }
    processId = pid;
    exited = false;
    return true;
}

bool ServiceProcess::reap() {
    if (processId <= 0 || exited) {
        return exited;
    }
    int status = 0;
    pid_t result = 0;
    do {
        result = waitpid(processId, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == processId) {
        exited = true;
        waitStatus = status;
    }
    return exited;
}

void ServiceProcess::kill() {
    if (running()) {
        ::kill(processId, SIGKILL);
    }
}

int ServiceProcess::exitCode() const {
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return WEXITSTATUS(waitStatus);
}

bool ServiceProcess::endedBySignal() const {
    return WIFSIGNALED(waitStatus);
}

std::string ServiceProcess::howItEnded() const {
    if (WIFSIGNALED(waitStatus)) {
        return "was killed by signal " + std::to_string(WTERMSIG(waitStatus));
    }
    return "exited with code " + std::to_string(WEXITSTATUS(waitStatus));
}

}  // namespace OrvaneSc

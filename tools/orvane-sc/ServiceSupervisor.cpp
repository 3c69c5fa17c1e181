#include "ServiceSupervisor.h"

#include "Output.h"
#include "StatusText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

extern char** environ;

namespace OrvaneSc {

using Win32Emu::ScmMessage;

namespace {

// Windows' SCM waits this long for a new service process to connect; a service process
// whose dispatcher has ended gets as long to end.
constexpr std::chrono::seconds kConnectTimeout(30);
constexpr std::chrono::seconds kExitTimeout(30);

}  // namespace

ServiceSupervisor::ServiceSupervisor(RunOptions runOptions)
    : options(std::move(runOptions)),
      security(*ServiceSecurity::fromSddl(ServiceSecurity::kInstalledSddl)) {}

int ServiceSupervisor::run() {
    std::string error;
    if (!endpoint.open(options.root, error)) {
        Note(error);
        return 1;
    }
    if (!setupSignals(error) || !startService(error)) {
        Note(error);
        return 1;
    }
    PrintLine("drive C: path=" + options.root + "/C");
    PrintLine("start exe=" + options.executable + " pid=" + std::to_string(process.pid()));
    Note("Ctrl-C, or `orvane-sc stop` in another terminal, stops the service");
    loop();
    return finish();
}

bool ServiceSupervisor::setupSignals(std::string& error) {
    // Signals become readable events of the loop; the service gets them back at their defaults.
    sigset_t handled;
    sigemptyset(&handled);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
        sigaddset(&handled, signal);
    }
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    signals.reset(signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!signals.isValid()) {
        error = std::string("cannot receive signals: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool ServiceSupervisor::startService(std::string& error) {
    int pair[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = std::string("cannot create the SCM channel: ") + std::strerror(errno);
        return false;
    }
    channel.reset(pair[0]);
    UniqueFd serviceEnd(pair[1]);
    // Well away from the number the service gets it at (see ServiceProcess::start).
    UniqueFd movedEnd(fcntl(serviceEnd.get(), F_DUPFD_CLOEXEC, 10));
    if (!movedEnd.isValid()) {
        error = std::string("cannot create the SCM channel: ") + std::strerror(errno);
        return false;
    }
    serviceEnd.reset();
    if (!process.start(options.executable, serviceEnvironment(), movedEnd.get(), error)) {
        return false;
    }
    // Only the service holds its end now, so its end of life is the channel's end of file.
    movedEnd.reset();
    connectDeadline = Clock::now() + kConnectTimeout;
    return true;
}

std::vector<std::string> ServiceSupervisor::serviceEnvironment() const {
    const auto named = [](const std::string& entry, const char* name) {
        const size_t length = std::strlen(name);
        return entry.compare(0, length, name) == 0 && entry.size() > length && entry[length] == '=';
    };
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (named(text, ScmMessage::kChannelVariable) || named(text, "WIN32EMU_ROOT") ||
            (!options.profile.empty() && named(text, "WIN32EMU_PROFILE"))) {
            continue;
        }
        environment.push_back(text);
    }
    environment.push_back(std::string(ScmMessage::kChannelVariable) + "=" +
                          std::to_string(ServiceProcess::kChannelDescriptor));
    environment.push_back("WIN32EMU_ROOT=" + options.root);
    if (!options.profile.empty()) {
        environment.push_back("WIN32EMU_PROFILE=" + options.profile);
    }
    return environment;
}

void ServiceSupervisor::loop() {
    while (keepRunning()) {
        std::vector<pollfd> fds;
        fds.push_back({signals.get(), POLLIN, 0});
        fds.push_back({endpoint.listener(), POLLIN, 0});
        fds.push_back({channel.isValid() ? channel.get() : -1, POLLIN, 0});
        for (const PendingClient& client : clients) {
            fds.push_back({client.socket.get(), POLLIN, 0});
        }
        int timeout = -1;
        if (const std::optional<Clock::time_point> deadline = nextDeadline()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
            // Rounded up, so the loop does not wake just before the deadline; and capped, as
            // a disarmed deadline lies at the end of time.
            timeout = static_cast<int>(std::clamp<long long>(left.count() + 1, 0, 60000));
        }
        const int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno != EINTR) {
            Note(std::string("poll failed: ") + std::strerror(errno));
            process.kill();
        }
        if (ready > 0) {
            // The channel first: a report written just before a process ends is shown before
            // its end.
            if (fds[2].revents != 0) {
                readChannel();
            }
            if (fds[0].revents != 0) {
                readSignals();
            }
            if (fds[1].revents != 0) {
                acceptClients();
            }
            for (size_t i = 3; i < fds.size(); ++i) {
                if (fds[i].revents != 0) {
                    PendingClient& client = clients[i - 3];
                    if (readClient(client)) {
                        client.socket.reset();
                    }
                }
            }
            clients.erase(std::remove_if(
                              clients.begin(),
                              clients.end(),
                              [](const PendingClient& client) { return !client.socket.isValid(); }),
                          clients.end());
        }
        checkDeadlines();
    }
}

std::optional<ServiceSupervisor::Clock::time_point> ServiceSupervisor::nextDeadline() const {
    std::optional<Clock::time_point> next;
    const auto consider = [&next](Clock::time_point deadline) {
        if (!next || deadline < *next) {
            next = deadline;
        }
    };
    if (!connected && process.running()) {
        consider(connectDeadline);
    }
    if (exitDeadline && process.running()) {
        consider(*exitDeadline);
    }
    for (const Request& request : requests) {
        if (request.client.isValid()) {
            consider(request.deadline);
        }
    }
    for (const PendingClient& client : clients) {
        consider(client.deadline);
    }
    return next;
}

void ServiceSupervisor::readChannel() {
    char bytes[4096];
    for (;;) {
        const ssize_t received = recv(channel.get(), bytes, sizeof bytes, MSG_DONTWAIT);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        if (received <= 0) {
            closeChannel();
            return;
        }
        channelBuffer.append(bytes, static_cast<size_t>(received));
        while (const std::optional<std::string> line = channelBuffer.nextLine()) {
            if (const std::optional<ScmMessage> message = ScmMessage::parse(*line)) {
                onMessage(*message);
            } else {
                Note("ignored from the service: " + *line);
            }
        }
        if (channelBuffer.overflowed()) {
            Note("the service process does not speak the SCM protocol; closing its channel");
            closeChannel();
            return;
        }
    }
}

void ServiceSupervisor::closeChannel() {
    channel.reset();
    answerRequests(ERROR_SERVICE_NOT_ACTIVE);
    // A service process without its dispatcher is not a service any more: it gets the same
    // time to end as a stopped one.
    if (process.running() && !exitDeadline) {
        exitDeadline = Clock::now() + kExitTimeout;
    }
}

void ServiceSupervisor::onMessage(const ScmMessage& message) {
    switch (message.kind) {
        case ScmMessage::Kind::Connect:
            if (!connected) {
                connected = true;
                PrintLine("connect service=\"" + message.serviceName + "\"");
                answerStarters(ERROR_SUCCESS);
            }
            break;
        case ScmMessage::Kind::Status:
            onStatus(message.statusReport);
            break;
        case ScmMessage::Kind::Done:
            onDone(message.code, message.result);
            break;
        case ScmMessage::Kind::Control:
        case ScmMessage::Kind::Open:
        case ScmMessage::Kind::Start:
        case ScmMessage::Kind::Query:
        case ScmMessage::Kind::Process:
            Note("ignored a request from the service process");
            break;
        case ScmMessage::Kind::Event: {
            // Rendered again from what was parsed: the line on stdout is always well formed.
            const std::string line = message.toLine();
            PrintLine(line.substr(0, line.size() - 1));
            break;
        }
    }
}

void ServiceSupervisor::onStatus(const SERVICE_STATUS& status) {
    lastStatus = status;
    PrintLine("status " + StatusText(status));
    if (status.dwCurrentState == SERVICE_STOPPED && !stopReported) {
        stopReported = true;
        exitDeadline = Clock::now() + kExitTimeout;
        // A control already with the service was delivered: its asker gets the final status.
        for (Request& request : requests) {
            if (request.sent) {
                Answer(request.client, ScmMessage::status(status));
            }
        }
        answerRequests(ERROR_SERVICE_NOT_ACTIVE);
        return;
    }
    queueStopIfAccepted(false);
}

void ServiceSupervisor::readSignals() {
    signalfd_siginfo info{};
    while (read(signals.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        switch (info.ssi_signo) {
            case SIGCHLD:
                if (process.reap()) {
                    onProcessEnded();
                }
                break;
            case SIGINT:
                onStopSignal("SIGINT");
                break;
            case SIGTERM:
                onStopSignal("SIGTERM");
                break;
            case SIGHUP:
                onStopSignal("SIGHUP");
                break;
            default:
                break;
        }
    }
}

void ServiceSupervisor::onProcessEnded() {
    // Whatever it wrote before it ended is still in the channel.
    if (channel.isValid()) {
        readChannel();
    }
    if (channel.isValid()) {
        closeChannel();
    }
    answerRequests(ERROR_SERVICE_NOT_ACTIVE);
    if (serving) {
        endRun();
    }
}

void ServiceSupervisor::checkDeadlines() {
    const Clock::time_point now = Clock::now();
    if (process.running() && !connected && now >= connectDeadline) {
        Note("the service process did not connect to the service control manager within " +
             std::to_string(kConnectTimeout.count()) + " s (error 1053); terminating it");
        process.kill();
        connectDeadline = Clock::time_point::max();
        answerStarters(ERROR_SERVICE_REQUEST_TIMEOUT);
    }
    if (process.running() && exitDeadline && now >= *exitDeadline) {
        Note("the service process has not ended " + std::to_string(kExitTimeout.count()) +
             " s after its dispatcher ended; terminating it");
        process.kill();
        exitDeadline = Clock::time_point::max();
    }
    for (Request& request : requests) {
        if (request.client.isValid() && now >= request.deadline) {
            Answer(request.client,
                   ScmMessage::done(request.control, ERROR_SERVICE_REQUEST_TIMEOUT));
        }
    }
    for (PendingClient& client : clients) {
        if (now >= client.deadline) {
            client.socket.reset();
        }
    }
    clients.erase(
        std::remove_if(clients.begin(),
                       clients.end(),
                       [](const PendingClient& client) { return !client.socket.isValid(); }),
        clients.end());
}

bool ServiceSupervisor::keepRunning() const {
    if (process.running() || channel.isValid()) {
        return true;
    }
    return serving && !quitting;
}

int ServiceSupervisor::finish() {
    return reportEnd();
}

int ServiceSupervisor::reportEnd() {
    const int code = process.exitCode();
    const std::string exitLine = process.endedBySignal()
                                     ? "exit signal=" + std::to_string(code - 128)
                                     : "exit code=" + std::to_string(code);
    if (stopReported) {
        PrintLine(exitLine);
        return code;
    }
    Note("the service process " + process.howItEnded() +
         (connected ? " without reporting SERVICE_STOPPED"
                    : " before it connected to the service control manager"));
    PrintLine(exitLine);
    return code != 0 ? code : 1;
}

}  // namespace OrvaneSc

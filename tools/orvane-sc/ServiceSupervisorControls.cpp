// The controls orvane-sc hands to its service: from a stop signal, or from a client on the
// control socket; checked as Windows' SCM checks them and delivered one at a time.

#include "Output.h"
#include "ServiceSupervisor.h"
#include "StatusText.h"
#include "Win32Emu/ScmLineWriter.h"

#include <cerrno>
#include <sys/socket.h>

namespace OrvaneSc {

using Win32Emu::ScmMessage;

namespace {

// Windows' SCM waits this long for a service's handler to return.
constexpr std::chrono::seconds kControlTimeout(30);
// A client that connects must send its request promptly.
constexpr std::chrono::seconds kClientRequestTimeout(5);

bool isPending(DWORD state) {
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
           state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING;
}

}  // namespace

void ServiceSupervisor::onDone(DWORD control, DWORD result) {
    if (requests.empty() || !requests.front().sent || requests.front().control != control) {
        // Controls still with the service when it stopped were answered then.
        if (!stopReported) {
            Note("ignored an answer to a control that was not sent");
        }
        return;
    }
    Request& request = requests.front();
    if (result != ERROR_SUCCESS) {
        if (request.fromSignal) {
            Note(ControlText(control) + " was not delivered: " + ControlErrorText(result));
            // A stop asked for by a signal is tried again once the service accepts it.
            stopQueued = false;
        }
        Answer(request.client, ScmMessage::done(control, result));
    } else if (lastStatus) {
        Answer(request.client, ScmMessage::status(*lastStatus));
    } else {
        Answer(request.client, ScmMessage::done(control, ERROR_SUCCESS));
    }
    requests.pop_front();
    sendNextControl();
}

void ServiceSupervisor::onStopSignal(const std::string& name) {
    ++stopSignals;
    // Serving, a signal ends the SCM: at once with no service running, else once it has stopped.
    quitting = serving;
    if (!process.running()) {
        return;
    }
    if (stopSignals > 1) {
        Note(name + " again: terminating the service process (pid " +
             std::to_string(process.pid()) + ")");
        process.kill();
        return;
    }
    if (stopReported) {
        Note(name + ": the service has stopped; waiting for its process to end");
        return;
    }
    stopWanted = true;
    stopSource = name;
    queueStopIfAccepted(true);
}

// A stop asked for by a signal waits until the service accepts it (a service still starting
// does not), then goes out once.
void ServiceSupervisor::queueStopIfAccepted(bool explain) {
    if (!stopWanted || stopQueued) {
        return;
    }
    const DWORD error = checkControl(SERVICE_CONTROL_STOP);
    if (error == ERROR_SUCCESS) {
        stopQueued = true;
        queueControl(SERVICE_CONTROL_STOP, UniqueFd(), stopSource, true);
    } else if (explain) {
        const std::string state =
            lastStatus ? StateText(lastStatus->dwCurrentState) : std::string("not yet reported");
        Note(stopSource + ": the service does not accept STOP now (state " + state +
             "); it is sent once it does. " + stopSource + " again terminates the service process");
    }
}

void ServiceSupervisor::acceptClients() {
    for (;;) {
        const int socket =
            accept4(endpoint.listener(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (socket < 0) {
            return;
        }
        PendingClient client;
        client.socket.reset(socket);
        client.deadline = Clock::now() + kClientRequestTimeout;
        clients.push_back(std::move(client));
    }
}

bool ServiceSupervisor::readClient(PendingClient& client) {
    char bytes[256];
    const ssize_t received = recv(client.socket.get(), bytes, sizeof bytes, 0);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return false;
    }
    if (received <= 0) {
        return true;
    }
    client.buffer.append(bytes, static_cast<size_t>(received));
    const std::optional<std::string> line = client.buffer.nextLine();
    if (!line) {
        return client.buffer.overflowed();
    }
    const std::optional<ScmMessage> request = ScmMessage::parse(*line);
    const bool programRequest = request && (request->kind == ScmMessage::Kind::Open ||
                                            request->kind == ScmMessage::Kind::Start ||
                                            request->kind == ScmMessage::Kind::Query);
    if (programRequest && !isTheService(request->serviceName)) {
        Answer(client.socket, ScmMessage::done(0, ERROR_SERVICE_DOES_NOT_EXIST));
        return true;
    }
    if (programRequest && request->kind == ScmMessage::Kind::Open) {
        onOpenRequest(client.socket, *request);
        return true;
    }
    if (programRequest && request->kind == ScmMessage::Kind::Query) {
        onQueryRequest(client.socket);
        return true;
    }
    if (programRequest && !serving) {
        // `run` is the SCM of one run: the service is running, or on its way out.
        Answer(client.socket, ScmMessage::done(0, ERROR_SERVICE_ALREADY_RUNNING));
        return true;
    }
    if (programRequest) {
        onStartRequest(std::move(client.socket));
        return true;
    }
    if (!request || request->kind != ScmMessage::Kind::Control) {
        Answer(client.socket, ScmMessage::done(0, ERROR_INVALID_PARAMETER));
        return true;
    }
    const DWORD error = checkControl(request->code);
    if (error != ERROR_SUCCESS) {
        Answer(client.socket, ScmMessage::done(request->code, error));
        return true;
    }
    queueControl(request->code, std::move(client.socket), "client");
    return true;
}

// What Windows' SCM checks before it hands a control to a service.
DWORD ServiceSupervisor::checkControl(DWORD control) const {
    if (!process.running() || stopReported || !channel.isValid()) {
        return ERROR_SERVICE_NOT_ACTIVE;
    }
    if (!connected) {
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    }
    // Until its first report the SCM holds a new service as starting, accepting nothing.
    const DWORD state = lastStatus ? lastStatus->dwCurrentState : SERVICE_START_PENDING;
    const DWORD accepted = lastStatus ? lastStatus->dwControlsAccepted : 0;
    if (control == SERVICE_CONTROL_INTERROGATE) {
        return ERROR_SUCCESS;
    }
    if (control == SERVICE_CONTROL_STOP) {
        if (isPending(state)) {
            return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        }
        if ((accepted & SERVICE_ACCEPT_STOP) == 0) {
            return ERROR_INVALID_SERVICE_CONTROL;
        }
        return ERROR_SUCCESS;
    }
    return ERROR_INVALID_SERVICE_CONTROL;
}

void ServiceSupervisor::queueControl(DWORD control,
                                     UniqueFd client,
                                     const std::string& source,
                                     bool fromSignal) {
    Request request;
    request.control = control;
    request.client = std::move(client);
    request.source = source;
    request.fromSignal = fromSignal;
    request.deadline = Clock::now() + kControlTimeout;
    requests.push_back(std::move(request));
    sendNextControl();
}

// One control at a time, as Windows' SCM delivers them: the next goes once the last is done.
void ServiceSupervisor::sendNextControl() {
    // A control that waited behind another is checked again against what the service reported
    // meanwhile: a second stop finds the service stopping.
    while (!requests.empty() && !requests.front().sent) {
        const DWORD error = checkControl(requests.front().control);
        if (error == ERROR_SUCCESS) {
            break;
        }
        Request& refused = requests.front();
        if (refused.fromSignal) {
            stopQueued = false;
        }
        Answer(refused.client, ScmMessage::done(refused.control, error));
        requests.pop_front();
    }
    if (requests.empty() || requests.front().sent || !channel.isValid()) {
        return;
    }
    Request& request = requests.front();
    if (!Win32Emu::WriteScmLine(channel.get(), ScmMessage::control(request.control).toLine())) {
        closeChannel();
        return;
    }
    request.sent = true;
    PrintLine("control code=" + ControlText(request.control) + " from=" + request.source);
}

void ServiceSupervisor::answerRequests(DWORD error) {
    for (Request& request : requests) {
        Answer(request.client, ScmMessage::done(request.control, error));
    }
    requests.clear();
    stopQueued = false;
}

}  // namespace OrvaneSc

// The dispatcher's side of the in-process SCM: every call acts on the SCM's shared state, and
// only while this connection is the one the SCM knows (detach() forgets it).

#include "scm/InProcessScmConnection.h"

#include "scm/ServiceControlManagerState.h"

namespace Win32Emu {

namespace {

// Longest that a held report blocks its caller: a test that forgets to release it fails
// instead of hanging.
constexpr std::chrono::seconds kHoldLimit(30);

}  // namespace

ServiceControlManager::State& InProcessScmConnection::scm() {
    return *ServiceControlManager::instance().state;
}

std::unique_ptr<ScmConnection> InProcessScmConnection::connect() {
    ServiceControlManager::State& state = scm();
    const std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.attached || state.connection != nullptr) {
        return nullptr;
    }
    std::unique_ptr<InProcessScmConnection> connection(new InProcessScmConnection());
    state.connection = connection.get();
    return connection;
}

void InProcessScmConnection::open(const std::string& serviceName, ScmControlSink& sink) {
    ServiceControlManager::State& state = scm();
    const std::lock_guard<std::mutex> lock(state.mutex);
    if (state.connection != this) {
        sink.postScmLost();
        return;
    }
    state.sink = &sink;
    state.serviceName = serviceName;
    state.changed.notify_all();
}

bool InProcessScmConnection::reportStatus(const SERVICE_STATUS& status, DWORD& error) {
    ServiceControlManager::State& state = scm();
    std::unique_lock<std::mutex> lock(state.mutex);
    if (state.connection != this) {
        error = ERROR_BROKEN_PIPE;
        return false;
    }
    state.reports.push_back(status);
    state.changed.notify_all();
    if (state.holdState && *state.holdState == status.dwCurrentState) {
        state.holdState.reset();
        state.holding = true;
        state.changed.wait_for(
            lock, kHoldLimit, [&] { return !state.holding || state.connection != this; });
        state.holding = false;
    }
    return true;
}

void InProcessScmConnection::controlDone(DWORD /*control*/, DWORD result) {
    ServiceControlManager::State& state = scm();
    const std::lock_guard<std::mutex> lock(state.mutex);
    if (state.connection != this) {
        return;
    }
    state.controlResults.push_back(result);
    state.changed.notify_all();
}

void InProcessScmConnection::serviceMainReturned() {
    ServiceControlManager::State& state = scm();
    const std::lock_guard<std::mutex> lock(state.mutex);
    if (state.connection != this) {
        return;
    }
    state.serviceMainReturned = true;
    state.changed.notify_all();
}

std::chrono::milliseconds InProcessScmConnection::serviceMainReturnTimeout() const {
    ServiceControlManager::State& state = scm();
    const std::lock_guard<std::mutex> lock(state.mutex);
    return state.serviceMainReturnTimeout;
}

void InProcessScmConnection::close() {
    ServiceControlManager::State& state = scm();
    const std::lock_guard<std::mutex> lock(state.mutex);
    if (state.connection != this) {
        return;
    }
    state.connection = nullptr;
    state.sink = nullptr;
    state.changed.notify_all();
}

}  // namespace Win32Emu

// The in-process SCM's test-facing side (Win32Emu/ServiceControlManager.h).

#include "Win32Emu/ServiceControlManager.h"

#include "scm/ServiceControlManagerState.h"

#include <algorithm>

namespace Win32Emu {

void ServiceControlManager::State::disconnectLocked() {
    if (sink != nullptr) {
        sink->postScmLost();
    }
    connection = nullptr;
    sink = nullptr;
    holding = false;
    changed.notify_all();
}

ServiceControlManager& ServiceControlManager::instance() {
    static ServiceControlManager manager;
    return manager;
}

ServiceControlManager::ServiceControlManager() : state(new State) {}

ServiceControlManager::~ServiceControlManager() {
    delete state;
}

void ServiceControlManager::attach() {
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->disconnectLocked();
    state->attached = true;
    state->serviceName.reset();
    state->serviceMainReturned = false;
    state->reports.clear();
    state->controlsPosted = 0;
    state->controlResults.clear();
    state->holdState.reset();
    state->serviceMainReturnTimeout = std::chrono::seconds(10);
}

void ServiceControlManager::detach() {
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->attached = false;
    state->holdState.reset();
    state->disconnectLocked();
}

bool ServiceControlManager::attached() const {
    const std::lock_guard<std::mutex> lock(state->mutex);
    return state->attached;
}

std::optional<std::string> ServiceControlManager::waitForDispatcher(
    std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state->mutex);
    state->changed.wait_for(lock, timeout, [this] { return state->serviceName.has_value(); });
    return state->serviceName;
}

bool ServiceControlManager::waitForServiceMainReturn(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state->mutex);
    return state->changed.wait_for(lock, timeout, [this] { return state->serviceMainReturned; });
}

DWORD ServiceControlManager::sendControl(DWORD control, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->sink == nullptr) {
        return ERROR_SERVICE_NOT_ACTIVE;
    }
    const size_t index = state->controlsPosted++;
    const InProcessScmConnection* connection = state->connection;
    state->sink->postControl(control);
    state->changed.wait_for(lock, timeout, [&] {
        return state->controlResults.size() > index || state->connection != connection;
    });
    if (state->controlResults.size() > index) {
        return state->controlResults[index];
    }
    return state->connection != connection ? ERROR_SERVICE_NOT_ACTIVE
                                           : ERROR_SERVICE_REQUEST_TIMEOUT;
}

bool ServiceControlManager::postControl(DWORD control) {
    const std::lock_guard<std::mutex> lock(state->mutex);
    if (state->sink == nullptr) {
        return false;
    }
    ++state->controlsPosted;
    state->sink->postControl(control);
    return true;
}

std::vector<SERVICE_STATUS> ServiceControlManager::statusReports() const {
    const std::lock_guard<std::mutex> lock(state->mutex);
    return state->reports;
}

std::optional<SERVICE_STATUS> ServiceControlManager::waitForStatus(
    DWORD serviceState, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(state->mutex);
    std::optional<SERVICE_STATUS> found;
    state->changed.wait_for(lock, timeout, [&] {
        const auto it = std::find_if(
            state->reports.begin(), state->reports.end(), [&](const SERVICE_STATUS& report) {
                return report.dwCurrentState == serviceState;
            });
        if (it != state->reports.end()) {
            found = *it;
        }
        return found.has_value();
    });
    return found;
}

void ServiceControlManager::holdReport(DWORD serviceState) {
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->holdState = serviceState;
}

void ServiceControlManager::releaseHeldReport() {
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->holdState.reset();
    state->holding = false;
    state->changed.notify_all();
}

void ServiceControlManager::setServiceMainReturnTimeout(std::chrono::milliseconds timeout) {
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->serviceMainReturnTimeout = timeout;
}

}  // namespace Win32Emu

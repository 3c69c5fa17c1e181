// Who is on the machine and what runs there: sessions, accounts, processes, the programs they
// launched and the owners of loopback connections.

#include "Win32Emu/Machine.h"
#include "machine/Identity.h"
#include "machine/MachineModel.h"
#include "machine/MachineState.h"
#include "machine/SidText.h"

#include <Poco/Exception.h>
#include <Poco/String.h>

#include <algorithm>

namespace Win32Emu {

namespace {

// The machine builds SIDs from these strings; a malformed one is a mistake in the test or profile.
void requireSid(const std::string& sid, bool emptyAllowed) {
    if ((sid.empty() && !emptyAllowed) || (!sid.empty() && SidFromText(sid).empty())) {
        throw Poco::InvalidArgumentException("Not a SID", sid);
    }
}

}  // namespace

std::vector<LaunchRecord> Machine::launches() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.launches;
}

void Machine::setConsoleSession(DWORD sessionId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.consoleSession = sessionId;
}

DWORD Machine::consoleSession() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.consoleSession;
}

void Machine::setSessionUser(DWORD sessionId, const std::string& sid) {
    requireSid(sid, true);
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.sessionUsers[sessionId] = sid;
}

void Machine::removeSession(DWORD sessionId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.sessionUsers.erase(sessionId);
}

std::string Machine::sessionUser(DWORD sessionId) const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    const auto& users = state->model.configuration.sessionUsers;
    const auto found = users.find(sessionId);
    return found == users.end() ? std::string() : found->second;
}

void Machine::setAccount(const Account& account) {
    requireSid(account.sid, false);
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.accounts[Poco::toUpper(account.sid)] = account;
}

std::optional<Account> Machine::account(const std::string& sid) const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    const auto& accounts = state->model.configuration.accounts;
    const auto found = accounts.find(Poco::toUpper(sid));
    if (found == accounts.end()) {
        return std::nullopt;
    }
    return found->second;
}

void Machine::setProcess(const ProcessEntry& process) {
    requireSid(process.userSid, false);
    std::lock_guard<std::mutex> guard(state->model.lock);
    Configuration& configuration = state->model.configuration;
    for (ProcessEntry& existing : configuration.processes) {
        if (existing.processId == process.processId) {
            // Changed in place, it is the process that started then.
            const std::uint64_t startTime = existing.startTime;
            existing = process;
            if (existing.startTime == 0) {
                existing.startTime = startTime;
            }
            return;
        }
    }
    const auto exited = configuration.exitedProcesses.find(process.processId);
    if (exited != configuration.exitedProcesses.end()) {
        if (!exited->second.expired()) {
            throw Poco::InvalidArgumentException("A handle still holds process",
                                                 std::to_string(process.processId));
        }
        configuration.exitedProcesses.erase(exited);
    }
    configuration.processes.push_back(process);
    if (process.startTime == 0) {
        configuration.processes.back().startTime = FileTimeNow();
    }
}

void Machine::removeProcess(DWORD processId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    Configuration& configuration = state->model.configuration;
    const auto object = configuration.processObjects.find(processId);
    if (object != configuration.processObjects.end()) {
        object->second->exit(FileTimeNow());
        configuration.exitedProcesses[processId] = object->second;
        configuration.processObjects.erase(object);
    }
    std::vector<ProcessEntry>& processes = configuration.processes;
    processes.erase(
        std::remove_if(processes.begin(),
                       processes.end(),
                       [&](const ProcessEntry& process) { return process.processId == processId; }),
        processes.end());
}

std::vector<ProcessEntry> Machine::processes() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.processes;
}

void Machine::setCurrentProcess(DWORD processId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.currentProcessId = processId;
}

DWORD Machine::currentProcessId() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.currentProcessId;
}

void Machine::setConnectionOwner(WORD localPort, DWORD processId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.connectionOwners[localPort] = processId;
}

void Machine::setConnectionOwner(WORD localPort, WORD remotePort, DWORD processId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.endpointOwners[{localPort, remotePort}] = processId;
}

void Machine::setDefaultConnectionOwner(DWORD processId) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.defaultConnectionOwner = processId;
}

DWORD Machine::defaultConnectionOwner() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.defaultConnectionOwner;
}

}  // namespace Win32Emu

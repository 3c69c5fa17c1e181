#include "machine/Identity.h"

#include "machine/MachineModel.h"

#include <Poco/String.h>

#include <algorithm>
#include <atomic>
#include <chrono>

namespace Win32Emu {

const char* const LocalSystemSid = "S-1-5-18";

namespace {

std::atomic<std::uint64_t> nextTokenId{0x10000};

}  // namespace

ProcessEntry CurrentProcessEntry() {
    MachineModel& model = Model();
    std::lock_guard<std::mutex> guard(model.lock);
    const Configuration& configuration = model.configuration;
    for (const ProcessEntry& process : configuration.processes) {
        if (process.processId == configuration.currentProcessId) {
            return process;
        }
    }
    ProcessEntry self;
    self.processId = configuration.currentProcessId;
    self.sessionId = 0;
    self.userSid = LocalSystemSid;
    return self;
}

std::optional<ProcessEntry> FindProcess(DWORD processId) {
    MachineModel& model = Model();
    std::lock_guard<std::mutex> guard(model.lock);
    for (const ProcessEntry& process : model.configuration.processes) {
        if (process.processId == processId) {
            return process;
        }
    }
    return std::nullopt;
}

std::shared_ptr<ProcessObject> ProcessObjectOf(DWORD processId) {
    MachineModel& model = Model();
    std::lock_guard<std::mutex> guard(model.lock);
    Configuration& configuration = model.configuration;
    const auto listed =
        std::find_if(configuration.processes.begin(),
                     configuration.processes.end(),
                     [&](const ProcessEntry& process) { return process.processId == processId; });
    if (listed != configuration.processes.end()) {
        std::shared_ptr<ProcessObject>& object = configuration.processObjects[processId];
        if (!object) {
            object = std::make_shared<ProcessObject>(processId, listed->startTime);
        }
        return object;
    }
    const auto exited = configuration.exitedProcesses.find(processId);
    return exited == configuration.exitedProcesses.end() ? nullptr : exited->second.lock();
}

std::uint64_t FileTimeNow() {
    // 1601-01-01 to 1970-01-01 in 100 ns units.
    constexpr std::uint64_t UnixEpoch = 116444736000000000ULL;
    const auto sinceUnixEpoch = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return UnixEpoch + static_cast<std::uint64_t>(sinceUnixEpoch.count()) / 100;
}

bool CallerIsLocalSystem() {
    return CurrentProcessEntry().userSid == LocalSystemSid;
}

DWORD DefaultIntegrityLevel(const std::string& userSid, TOKEN_ELEVATION_TYPE elevation) {
    if (userSid == LocalSystemSid) {
        return SECURITY_MANDATORY_SYSTEM_RID;
    }
    if (elevation == TokenElevationTypeFull) {
        return SECURITY_MANDATORY_HIGH_RID;
    }
    if (elevation == TokenElevationTypeDefault) {
        // Without a split token (UAC off) an administrator's only token is the full one.
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const auto found = model.configuration.accounts.find(Poco::toUpper(userSid));
        if (found != model.configuration.accounts.end() && found->second.administrator) {
            return SECURITY_MANDATORY_HIGH_RID;
        }
    }
    return SECURITY_MANDATORY_MEDIUM_RID;
}

std::shared_ptr<TokenObject> NewToken(const std::string& userSid,
                                      DWORD sessionId,
                                      bool elevated,
                                      DWORD integrityLevel,
                                      bool appContainer,
                                      bool restricted) {
    bool split = false;
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const auto found = model.configuration.accounts.find(Poco::toUpper(userSid));
        split = found != model.configuration.accounts.end() && found->second.linkedToken;
    }
    auto token = std::make_shared<TokenObject>();
    token->id = nextTokenId++;
    token->userSid = userSid;
    token->sessionId = sessionId;
    token->type = TokenPrimary;
    token->impersonationLevel = SecurityAnonymous;
    token->elevation = !split ? TokenElevationTypeDefault
                              : (elevated ? TokenElevationTypeFull : TokenElevationTypeLimited);
    token->integrityLevel =
        integrityLevel != 0 ? integrityLevel : DefaultIntegrityLevel(userSid, token->elevation);
    token->appContainer = appContainer;
    token->restricted = restricted;
    return token;
}

std::shared_ptr<TokenObject> CopyToken(const TokenObject& source) {
    auto token = std::make_shared<TokenObject>();
    token->id = nextTokenId++;
    token->userSid = source.userSid;
    token->sessionId = source.sessionId;
    token->type = source.type;
    token->impersonationLevel = source.impersonationLevel;
    token->elevation = source.elevation;
    token->integrityLevel = source.integrityLevel;
    token->appContainer = source.appContainer;
    token->restricted = source.restricted;
    return token;
}

bool GrantedTokenAccess(ACCESS_MASK desired, ACCESS_MASK& granted) {
    if ((desired & MAXIMUM_ALLOWED) != 0) {
        granted = TOKEN_ALL_ACCESS;
        return true;
    }
    granted = desired & ~static_cast<ACCESS_MASK>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE |
                                                  GENERIC_ALL);
    if ((desired & GENERIC_READ) != 0) {
        granted |= TOKEN_READ;
    }
    if ((desired & GENERIC_WRITE) != 0) {
        granted |= TOKEN_WRITE;
    }
    if ((desired & GENERIC_EXECUTE) != 0) {
        granted |= TOKEN_EXECUTE;
    }
    if ((desired & GENERIC_ALL) != 0) {
        granted |= TOKEN_ALL_ACCESS;
    }
    return (granted & ~static_cast<ACCESS_MASK>(TOKEN_ALL_ACCESS)) == 0;
}

bool GrantedProcessAccess(ACCESS_MASK desired, ACCESS_MASK& granted) {
    if ((desired & MAXIMUM_ALLOWED) != 0) {
        granted = PROCESS_ALL_ACCESS;
        return true;
    }
    granted = desired;
    // Since Vista the full query right brings the limited one with it.
    if ((granted & PROCESS_QUERY_INFORMATION) != 0) {
        granted |= PROCESS_QUERY_LIMITED_INFORMATION;
    }
    return (granted & ~static_cast<ACCESS_MASK>(PROCESS_ALL_ACCESS)) == 0;
}

}  // namespace Win32Emu

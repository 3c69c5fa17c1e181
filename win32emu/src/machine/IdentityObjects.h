#pragma once

// The objects behind token, process and snapshot handles.

#include "Win32Emu/MachineTypes.h"
#include "machine/EventObject.h"
#include "machine/KernelObject.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace Win32Emu {

// An access token. Immutable once made: DuplicateTokenEx makes a new one.
class TokenObject : public KernelObject {
public:
    const char* typeName() const override { return "Token"; }

    std::uint64_t id = 0;
    std::string userSid;
    DWORD sessionId = 0;
    TOKEN_TYPE type = TokenPrimary;
    SECURITY_IMPERSONATION_LEVEL impersonationLevel = SecurityAnonymous;
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    DWORD integrityLevel = SECURITY_MANDATORY_MEDIUM_RID;
    bool appContainer = false;
    bool restricted = false;  // holds restricting SIDs
};

// A process of the machine. Every handle to one process refers to one object, which outlives the
// process's exit while a handle is open: it is signalled then, and it keeps the process's id from
// being given to another process.
class ProcessObject : public WaitableObject {
public:
    ProcessObject(DWORD processId, std::uint64_t startTime)
        : processId(processId), startTime(startTime) {}
    const char* typeName() const override { return "Process"; }
    DWORD wait(DWORD milliseconds) override { return ended.wait(milliseconds); }
    void exit(std::uint64_t time) {
        exitTime = time;
        ended.set();
    }
    bool exited() { return ended.wait(0) == WAIT_OBJECT_0; }

    const DWORD processId;
    const std::uint64_t startTime;
    std::atomic<std::uint64_t> exitTime{0};  // set before the object is signalled

private:
    EventObject ended{true, false};
};

// A process snapshot: a copy of the process list taken when it was made.
class SnapshotObject : public KernelObject {
public:
    explicit SnapshotObject(std::vector<ProcessEntry> processes)
        : processes(std::move(processes)) {}
    const char* typeName() const override { return "Snapshot"; }

    const std::vector<ProcessEntry> processes;
    std::mutex lock;
    size_t next = 0;  // guarded by lock
};

}  // namespace Win32Emu

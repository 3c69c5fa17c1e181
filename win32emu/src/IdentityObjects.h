#pragma once

// The objects behind token, process and snapshot handles.

#include "KernelObject.h"
#include "Win32Emu/Machine.h"

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
};

// A process of the machine, by id: the process may leave the machine while a handle stays open.
class ProcessObject : public KernelObject {
public:
    explicit ProcessObject(DWORD processId) : processId(processId) {}
    const char* typeName() const override { return "Process"; }

    const DWORD processId;
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

#pragma once

// The state behind Win32Emu::Machine and the emulated calls. Each part guards itself: the
// configuration with `lock`, the registry, handle table, faults and drive map with their own
// locks. No lock is held while a call blocks.

#include "Win32Emu/MachineTypes.h"
#include "machine/DriveMap.h"
#include "machine/FaultInjector.h"
#include "machine/HandleTable.h"
#include "machine/IdentityObjects.h"
#include "machine/RegistryModel.h"
#include "machine/SecurityModel.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace Win32Emu {

// Who an environment block was made for: the token CreateEnvironmentBlock was given.
struct EnvironmentOrigin {
    std::string userSid;
    std::uint64_t tokenId = 0;
};

// A file listed by the machine (Machine::setFile), under its full path as given.
struct ListedFile {
    std::string path;
    FileEntry entry;
};

struct Configuration {
    VersionInfo version;
    WORD processorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    bool wow64 = false;
    DWORD productInfo = PRODUCT_UNDEFINED;
    std::map<int, int> systemMetrics;
    // "module!function", module in lower case, of the emulated exports GetProcAddress hides.
    std::set<std::string> hiddenExports;
    std::map<int, std::wstring> folders;
    std::wstring moduleFileName;
    std::wstring currentDirectory = L"C:\\Windows\\system32";
    DWORD consoleSession = 0xFFFFFFFF;
    // Every session that exists, with the SID of the user logged on in it ("" for nobody).
    std::map<DWORD, std::string> sessionUsers{{0, std::string()}};
    std::map<std::string, Account> accounts;  // by SID string in upper case
    std::vector<ProcessEntry> processes;      // in snapshot order
    DWORD currentProcessId = 0;
    // By full path in lower case (Windows compares paths without regard to case).
    std::map<std::string, ListedFile> files;
    std::vector<LaunchRecord> launches;
    DWORD lastProcessId = 4096;              // new process ids follow it, multiples of 4
    std::map<WORD, DWORD> connectionOwners;  // by local port
    // By local and remote port: one connection, before connectionOwners.
    std::map<std::pair<WORD, WORD>, DWORD> endpointOwners;
    // The object behind the handles to each listed process, made when it is first opened; and,
    // by id, those of exited processes, which live on while a handle holds them.
    std::map<DWORD, std::shared_ptr<ProcessObject>> processObjects;
    std::map<DWORD, std::weak_ptr<ProcessObject>> exitedProcesses;
    DWORD defaultConnectionOwner = 0;
};

class MachineModel {
public:
    mutable std::mutex lock;
    Configuration configuration;  // guarded by lock

    RegistryModel registry;
    HandleTable handles;
    FaultInjector faults;
    DriveMap drives;
    SecurityModel security;

    DWORD majorVersion() const;

    // Blocks handed out by LocalAlloc (with the call that did) and environment blocks, not yet
    // given back.
    bool addLocalAllocation(void* block, const char* call);
    bool removeLocalAllocation(void* block);
    size_t localAllocationCount() const;
    std::vector<std::pair<void*, std::string>> localAllocations() const;
    void addEnvironmentBlock(void* block, const EnvironmentOrigin& origin = EnvironmentOrigin());
    bool removeEnvironmentBlock(void* block);
    // The origin of a block still counted, or empty.
    std::optional<EnvironmentOrigin> environmentBlockOrigin(void* block) const;
    size_t environmentBlockCount() const;

    // Whether registry calls with this access mask see the 32-bit view of HKLM\SOFTWARE: a WOW64
    // process unless it asks for KEY_WOW64_64KEY, a 64-bit process that asks for KEY_WOW64_32KEY;
    // never on 32-bit Windows.
    bool uses32BitRegistryView(REGSAM access) const;

private:
    mutable std::mutex accountingLock;
    std::map<void*, std::string> localBlocks;
    std::map<void*, EnvironmentOrigin> environmentBlocks;
};

// The model of the process-wide machine, which is created (and its profile loaded) on first use.
MachineModel& Model();

}  // namespace Win32Emu

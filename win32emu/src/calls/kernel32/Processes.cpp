// Sessions and processes: WTSGetActiveConsoleSessionId, OpenProcess, GetProcessTimes,
// ProcessIdToSessionId and the process snapshot. A process that exits leaves the list; a handle
// to it stays valid, opens no token and reports the exit to WaitForSingleObject.

#include "machine/ApiSupport.h"
#include "machine/Identity.h"
#include "machine/MachineModel.h"

#include <algorithm>
#include <cstring>
#include <tlhelp32.h>

using namespace Win32Emu;

namespace {

std::string objectTypeAt(HANDLE handle) {
    const std::optional<HandleEntry> entry = Model().handles.entry(handle);
    return entry ? entry->object->typeName() : std::string();
}

// The next entry of a snapshot into `entry`, from the first when `first`.
BOOL walkSnapshot(const char* call, HANDLE snapshot, LPPROCESSENTRY32 entry, bool first) {
    if (InjectedFailure(call, std::string(), objectTypeAt(snapshot))) {
        return FALSE;
    }
    const std::shared_ptr<SnapshotObject> object = Model().handles.findAs<SnapshotObject>(snapshot);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (entry == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    // A larger record (a newer caller's) is accepted and filled up to the size known here.
    if (entry->dwSize < sizeof(PROCESSENTRY32)) {
        SetLastError(ERROR_BAD_LENGTH);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(object->lock);
    if (first) {
        object->next = 0;
    }
    if (object->next >= object->processes.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    const ProcessEntry& process = object->processes[object->next++];
    const DWORD size = entry->dwSize;
    std::memset(entry, 0, sizeof(PROCESSENTRY32));
    entry->dwSize = size;
    entry->th32ProcessID = process.processId;
    entry->cntThreads = 1;
    entry->pcPriClassBase = 8;  // normal priority
    const std::string::size_type length =
        std::min<std::string::size_type>(process.executableName.size(), MAX_PATH - 1);
    std::memcpy(entry->szExeFile, process.executableName.data(), length);
    return TRUE;
}

}  // namespace

extern "C" {

DWORD WINAPI WTSGetActiveConsoleSessionId(void) {
    std::lock_guard<std::mutex> guard(Model().lock);
    return Model().configuration.consoleSession;
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL, DWORD dwProcessId) {
    if (InjectedFailure("OpenProcess", std::to_string(dwProcessId))) {
        return nullptr;
    }
    const std::optional<ProcessEntry> process = FindProcess(dwProcessId);
    const std::shared_ptr<ProcessObject> object = ProcessObjectOf(dwProcessId);
    if (dwProcessId == 0 || !object) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if ((dwDesiredAccess & (GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL)) != 0) {
        // The generic mapping of processes is not emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    ACCESS_MASK granted = 0;
    if (!GrantedProcessAccess(dwDesiredAccess, granted)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (process && process->openProcessError != 0) {
        SetLastError(process->openProcessError);
        return nullptr;
    }
    return Model().handles.insert(object, "OpenProcess", granted);
}

BOOL WINAPI GetProcessTimes(HANDLE hProcess,
                            LPFILETIME lpCreationTime,
                            LPFILETIME lpExitTime,
                            LPFILETIME lpKernelTime,
                            LPFILETIME lpUserTime) {
    const std::optional<HandleEntry> entry = Model().handles.entry(hProcess);
    const auto object = entry ? std::dynamic_pointer_cast<ProcessObject>(entry->object) : nullptr;
    if (InjectedFailure("GetProcessTimes",
                        object ? std::to_string(object->processId) : std::string(),
                        objectTypeAt(hProcess))) {
        return FALSE;
    }
    if (hProcess == GetCurrentProcess()) {
        // The emulated process's own times are not modelled.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((entry->access & PROCESS_QUERY_LIMITED_INFORMATION) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (lpCreationTime == nullptr || lpExitTime == nullptr || lpKernelTime == nullptr ||
        lpUserTime == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    const auto fill = [](LPFILETIME time, std::uint64_t value) {
        time->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
        time->dwHighDateTime = static_cast<DWORD>(value >> 32);
    };
    fill(lpCreationTime, object->startTime);
    fill(lpExitTime, object->exited() ? object->exitTime.load() : 0);
    // No time is spent running on the emulated machine.
    fill(lpKernelTime, 0);
    fill(lpUserTime, 0);
    return TRUE;
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    // The machine, and the processes its profile starts, come first: a caller comparing this
    // time with a process's start sees the profile's processes as older.
    Model();
    const std::uint64_t now = FileTimeNow();
    lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(now & 0xFFFFFFFFu);
    lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(now >> 32);
}

BOOL WINAPI ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) {
    if (InjectedFailure("ProcessIdToSessionId", std::to_string(dwProcessId))) {
        return FALSE;
    }
    const std::optional<ProcessEntry> process = FindProcess(dwProcessId);
    if (!process) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (process->sessionIdError != 0) {
        SetLastError(process->sessionIdError);
        return FALSE;
    }
    if (pSessionId == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *pSessionId = process->sessionId;
    return TRUE;
}

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD dwFlags, DWORD) {
    if (InjectedFailure("CreateToolhelp32Snapshot")) {
        return INVALID_HANDLE_VALUE;
    }
    if ((dwFlags & (TH32CS_SNAPHEAPLIST | TH32CS_SNAPTHREAD | TH32CS_SNAPMODULE |
                    TH32CS_SNAPMODULE32)) != 0) {
        // Only the process list is emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<ProcessEntry> processes;
    if ((dwFlags & TH32CS_SNAPPROCESS) != 0) {
        std::lock_guard<std::mutex> guard(Model().lock);
        processes = Model().configuration.processes;
    }
    return Model().handles.insert(std::make_shared<SnapshotObject>(std::move(processes)),
                                  "CreateToolhelp32Snapshot",
                                  STANDARD_RIGHTS_REQUIRED);
}

BOOL WINAPI Process32First(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) {
    return walkSnapshot("Process32First", hSnapshot, lppe, true);
}

BOOL WINAPI Process32Next(HANDLE hSnapshot, LPPROCESSENTRY32 lppe) {
    return walkSnapshot("Process32Next", hSnapshot, lppe, false);
}

}  // extern "C"

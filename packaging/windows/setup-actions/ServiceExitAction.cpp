// After StopServices: waits, bounded, until the service's process has ended, not only until it
// reported SERVICE_STOPPED. A process that is still ending holds OrvaneService.exe, and the file
// would be replaced only at the next reboot (3010); Wine's msiexec does not even wait for the
// stopped state. Deferred, as LocalSystem; it never fails the install: at worst the file is
// replaced at reboot, as Windows Installer would do anyway.
// clang-format off
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>
// clang-format on

#include <string>
#include <vector>

namespace {

const wchar_t ServiceName[] = L"Orvane Client Service";
const wchar_t ServiceImage[] = L"OrvaneService.exe";
constexpr DWORD WaitMilliseconds = 30000;

void Log(MSIHANDLE install, const std::wstring& text) {
    const MSIHANDLE record = MsiCreateRecord(1);
    if (record == 0) {
        return;
    }
    MsiRecordSetStringW(record, 0, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

// Until the service reports SERVICE_STOPPED or the time is up; false when it is not installed.
bool WaitForStoppedState(DWORD start) {
    const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) {
        return false;
    }
    const SC_HANDLE service = OpenServiceW(manager, ServiceName, SERVICE_QUERY_STATUS);
    if (service == nullptr) {
        CloseServiceHandle(manager);
        return false;
    }
    for (;;) {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service,
                                  SC_STATUS_PROCESS_INFO,
                                  reinterpret_cast<BYTE*>(&status),
                                  sizeof(status),
                                  &needed) ||
            status.dwCurrentState == SERVICE_STOPPED || GetTickCount() - start > WaitMilliseconds) {
            break;
        }
        Sleep(100);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return true;
}

// The processes running the service's program, held so that their ids cannot be reused.
std::vector<HANDLE> ServiceProcesses() {
    std::vector<HANDLE> processes;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return processes;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, ServiceImage) == 0) {
            const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
            if (process != nullptr) {
                processes.push_back(process);
            }
        }
    }
    CloseHandle(snapshot);
    return processes;
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall WaitForServiceExit(MSIHANDLE install) {
    const DWORD start = GetTickCount();
    if (!WaitForStoppedState(start)) {
        return ERROR_SUCCESS;
    }
    const std::vector<HANDLE> processes = ServiceProcesses();
    for (const HANDLE process : processes) {
        const DWORD spent = GetTickCount() - start;
        const DWORD left = spent < WaitMilliseconds ? WaitMilliseconds - spent : 0;
        if (WaitForSingleObject(process, left) != WAIT_OBJECT_0) {
            Log(install, L"OrvaneService.exe: a process of it is still running");
        }
        CloseHandle(process);
    }
    Log(install,
        L"OrvaneService.exe: " + std::to_wstring(processes.size()) + L" process(es) waited for");
    return ERROR_SUCCESS;
}

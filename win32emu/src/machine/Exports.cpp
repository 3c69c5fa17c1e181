// The modules the emulated process has loaded and their exports: every emulated call, by the
// module Windows exports it from.

#include "machine/Exports.h"

#include "machine/MachineModel.h"

#include <Poco/String.h>

#include <aclapi.h>
#include <iphlpapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <userenv.h>
#include <winternl.h>
#include <wtsapi32.h>

namespace Win32Emu {

namespace {

// clang-format off
const LoadedModule loadedModules[] = {
    {"ntdll.dll",    0x77C40000},
    {"kernel32.dll", 0x76F30000},
    {"advapi32.dll", 0x76DB0000},
    {"user32.dll",   0x76B50000},
    {"shell32.dll",  0x75E60000},
    {"wtsapi32.dll", 0x74A50000},
    {"iphlpapi.dll", 0x74C10000},
};
// clang-format on

struct Export {
    const char* module;
    const char* function;
    FARPROC address;
};

template <class Function>
FARPROC procedure(Function* function) {
    return reinterpret_cast<FARPROC>(function);
}

// clang-format off
const Export exportTable[] = {
    {"ntdll.dll", "NtCreateFile", procedure(&NtCreateFile)},
    {"ntdll.dll", "NtQueryInformationFile", procedure(&NtQueryInformationFile)},
    {"ntdll.dll", "RtlNtStatusToDosError", procedure(&RtlNtStatusToDosError)},
    {"kernel32.dll", "OpenFileById", procedure(&OpenFileById)},
    {"kernel32.dll", "CloseHandle", procedure(&CloseHandle)},
    {"kernel32.dll", "CreateEventW", procedure(&CreateEventW)},
    {"kernel32.dll", "CreateFileW", procedure(&CreateFileW)},
    {"kernel32.dll", "CreateDirectoryW", procedure(&CreateDirectoryW)},
    {"kernel32.dll", "FindClose", procedure(&FindClose)},
    {"kernel32.dll", "FindFirstFileExW", procedure(&FindFirstFileExW)},
    {"kernel32.dll", "FindNextFileW", procedure(&FindNextFileW)},
    {"kernel32.dll", "GetFileInformationByHandleEx", procedure(&GetFileInformationByHandleEx)},
    {"kernel32.dll", "GetFinalPathNameByHandleW", procedure(&GetFinalPathNameByHandleW)},
    {"kernel32.dll", "CreateMutexA", procedure(&CreateMutexA)},
    {"kernel32.dll", "CreateToolhelp32Snapshot", procedure(&CreateToolhelp32Snapshot)},
    {"kernel32.dll", "ExpandEnvironmentStringsW", procedure(&ExpandEnvironmentStringsW)},
    {"kernel32.dll", "GetCurrentDirectoryW", procedure(&GetCurrentDirectoryW)},
    {"kernel32.dll", "GetCurrentProcess", procedure(&GetCurrentProcess)},
    {"kernel32.dll", "GetFileAttributesW", procedure(&GetFileAttributesW)},
    {"kernel32.dll", "GetLastError", procedure(&GetLastError)},
    {"kernel32.dll", "GetModuleFileNameW", procedure(&GetModuleFileNameW)},
    {"kernel32.dll", "GetModuleHandleA", procedure(&GetModuleHandleA)},
    {"kernel32.dll", "GetNativeSystemInfo", procedure(&GetNativeSystemInfo)},
    {"kernel32.dll", "GetProcAddress", procedure(&GetProcAddress)},
    {"kernel32.dll", "GetProcessTimes", procedure(&GetProcessTimes)},
    {"kernel32.dll", "GetProductInfo", procedure(&GetProductInfo)},
    {"kernel32.dll", "GetSystemInfo", procedure(&GetSystemInfo)},
    {"kernel32.dll", "GetSystemTimeAsFileTime", procedure(&GetSystemTimeAsFileTime)},
    {"kernel32.dll", "GetVersionExA", procedure(&GetVersionExA)},
    {"kernel32.dll", "IsWow64Process", procedure(&IsWow64Process)},
    {"kernel32.dll", "LocalAlloc", procedure(&LocalAlloc)},
    {"kernel32.dll", "LocalFree", procedure(&LocalFree)},
    {"kernel32.dll", "OpenProcess", procedure(&OpenProcess)},
    {"kernel32.dll", "Process32First", procedure(&Process32First)},
    {"kernel32.dll", "Process32Next", procedure(&Process32Next)},
    {"kernel32.dll", "ProcessIdToSessionId", procedure(&ProcessIdToSessionId)},
    {"kernel32.dll", "ReleaseMutex", procedure(&ReleaseMutex)},
    {"kernel32.dll", "SetEvent", procedure(&SetEvent)},
    {"kernel32.dll", "SetLastError", procedure(&SetLastError)},
    {"kernel32.dll", "SetProcessMitigationPolicy", procedure(&SetProcessMitigationPolicy)},
    {"kernel32.dll", "Sleep", procedure(&Sleep)},
    {"kernel32.dll", "VerSetConditionMask", procedure(&VerSetConditionMask)},
    {"kernel32.dll", "VerifyVersionInfoA", procedure(&VerifyVersionInfoA)},
    {"kernel32.dll", "WaitForSingleObject", procedure(&WaitForSingleObject)},
    {"kernel32.dll", "WTSGetActiveConsoleSessionId", procedure(&WTSGetActiveConsoleSessionId)},
    {"advapi32.dll", "ConvertSidToStringSidA", procedure(&ConvertSidToStringSidA)},
    {"advapi32.dll",
     "ConvertStringSecurityDescriptorToSecurityDescriptorW",
     procedure(&ConvertStringSecurityDescriptorToSecurityDescriptorW)},
    {"advapi32.dll", "CreateProcessAsUserW", procedure(&CreateProcessAsUserW)},
    {"advapi32.dll", "DuplicateTokenEx", procedure(&DuplicateTokenEx)},
    {"advapi32.dll", "EqualSid", procedure(&EqualSid)},
    {"advapi32.dll", "GetNamedSecurityInfoW", procedure(&GetNamedSecurityInfoW)},
    {"advapi32.dll", "GetSecurityDescriptorControl", procedure(&GetSecurityDescriptorControl)},
    {"advapi32.dll", "GetSecurityInfo", procedure(&GetSecurityInfo)},
    {"advapi32.dll", "GetSidSubAuthority", procedure(&GetSidSubAuthority)},
    {"advapi32.dll", "GetSidSubAuthorityCount", procedure(&GetSidSubAuthorityCount)},
    {"advapi32.dll", "GetTokenInformation", procedure(&GetTokenInformation)},
    {"advapi32.dll", "IsTokenRestricted", procedure(&IsTokenRestricted)},
    {"advapi32.dll", "LookupAccountSidA", procedure(&LookupAccountSidA)},
    {"advapi32.dll", "LookupAccountSidW", procedure(&LookupAccountSidW)},
    {"advapi32.dll", "OpenProcessToken", procedure(&OpenProcessToken)},
    {"advapi32.dll", "RegCloseKey", procedure(&RegCloseKey)},
    {"advapi32.dll", "RegEnumKeyExW", procedure(&RegEnumKeyExW)},
    {"advapi32.dll", "RegEnumValueW", procedure(&RegEnumValueW)},
    {"advapi32.dll", "RegOpenKeyExW", procedure(&RegOpenKeyExW)},
    {"advapi32.dll", "RegQueryInfoKeyW", procedure(&RegQueryInfoKeyW)},
    {"advapi32.dll", "RegQueryValueExW", procedure(&RegQueryValueExW)},
    {"advapi32.dll", "RegisterServiceCtrlHandlerA", procedure(&RegisterServiceCtrlHandlerA)},
    {"advapi32.dll", "SetEntriesInAclA", procedure(&SetEntriesInAclA)},
    {"advapi32.dll", "SetNamedSecurityInfoW", procedure(&SetNamedSecurityInfoW)},
    {"advapi32.dll", "SetKernelObjectSecurity", procedure(&SetKernelObjectSecurity)},
    {"advapi32.dll", "SetSecurityInfo", procedure(&SetSecurityInfo)},
    {"advapi32.dll", "RegSetKeySecurity", procedure(&RegSetKeySecurity)},
    {"advapi32.dll", "SetServiceStatus", procedure(&SetServiceStatus)},
    {"advapi32.dll", "CloseServiceHandle", procedure(&CloseServiceHandle)},
    {"advapi32.dll", "OpenSCManagerW", procedure(&OpenSCManagerW)},
    {"advapi32.dll", "OpenServiceW", procedure(&OpenServiceW)},
    {"advapi32.dll", "QueryServiceStatusEx", procedure(&QueryServiceStatusEx)},
    {"advapi32.dll", "StartServiceW", procedure(&StartServiceW)},
    {"advapi32.dll", "StartServiceCtrlDispatcherA", procedure(&StartServiceCtrlDispatcherA)},
    {"userenv.dll", "CreateEnvironmentBlock", procedure(&CreateEnvironmentBlock)},
    {"userenv.dll", "DestroyEnvironmentBlock", procedure(&DestroyEnvironmentBlock)},
    {"userenv.dll", "GetProfilesDirectoryW", procedure(&GetProfilesDirectoryW)},
    {"user32.dll", "GetSystemMetrics", procedure(&GetSystemMetrics)},
    {"shell32.dll", "SHGetFolderPathW", procedure(&SHGetFolderPathW)},
    {"wtsapi32.dll", "WTSQueryUserToken", procedure(&WTSQueryUserToken)},
    {"iphlpapi.dll", "GetExtendedTcpTable", procedure(&GetExtendedTcpTable)},
};
// clang-format on

struct VersionedExport {
    const char* function;
    DWORD major;
    DWORD minor;
};

// Exports that appeared after Windows XP: GetProcAddress finds them only from that version on.
const VersionedExport versionedExports[] = {
    {"SetProcessMitigationPolicy", 6, 2},
};

}  // namespace

bool ExportedOnThisVersion(const std::string& function) {
    for (const VersionedExport& entry : versionedExports) {
        if (function == entry.function) {
            std::lock_guard<std::mutex> guard(Model().lock);
            const VersionInfo& version = Model().configuration.version;
            return version.majorVersion > entry.major ||
                   (version.majorVersion == entry.major && version.minorVersion >= entry.minor);
        }
    }
    return true;
}

namespace {

// As the loader matches names: the file name only, without regard to case, ".dll" when no
// extension is given (a trailing dot means none).
std::string moduleFileName(const std::string& name) {
    std::string base = name.substr(name.find_last_of("\\/") + 1);
    base = Poco::toLower(base);
    if (!base.empty() && base.back() == '.') {
        base.pop_back();
    } else if (base.find('.') == std::string::npos) {
        base += ".dll";
    }
    return base;
}

}  // namespace

const LoadedModule* LoadedModuleNamed(const std::string& name) {
    const std::string fileName = moduleFileName(name);
    for (const LoadedModule& module : loadedModules) {
        if (fileName == module.name) {
            return &module;
        }
    }
    return nullptr;
}

const LoadedModule* LoadedModuleAt(HMODULE handle) {
    for (const LoadedModule& module : loadedModules) {
        if (reinterpret_cast<std::uintptr_t>(handle) == module.base) {
            return &module;
        }
    }
    return nullptr;
}

bool IsExecutableModule(HMODULE handle) {
    return handle == nullptr || reinterpret_cast<std::uintptr_t>(handle) == ExecutableBase;
}

bool IsFaultableCall(const std::string& function) {
    static const char* const cannotFail[] = {"GetLastError",
                                             "SetLastError",
                                             "GetCurrentProcess",
                                             "GetSystemInfo",
                                             "GetNativeSystemInfo",
                                             "GetSystemTimeAsFileTime",
                                             "VerSetConditionMask",
                                             "Sleep",
                                             "WTSGetActiveConsoleSessionId",
                                             "EqualSid",
                                             "GetSidSubAuthority",
                                             "GetSidSubAuthorityCount"};
    for (const char* name : cannotFail) {
        if (function == name) {
            return false;
        }
    }
    for (const Export& entry : exportTable) {
        if (function == entry.function) {
            return true;
        }
    }
    return false;
}

bool IsObjectTypeName(const std::string& type) {
    for (const char* name :
         {"Event", "Mutex", "Key", "Token", "Process", "Thread", "File", "Find", "Snapshot"}) {
        if (type == name) {
            return true;
        }
    }
    return false;
}

FARPROC ExportAddress(const std::string& module, const std::string& function) {
    for (const Export& entry : exportTable) {
        if (module == entry.module && function == entry.function) {
            return entry.address;
        }
    }
    return nullptr;
}

std::string ExportEntryName(const std::string& module, const std::string& function) {
    const std::string fileName = moduleFileName(module);
    for (const Export& entry : exportTable) {
        if (fileName == entry.module && function == entry.function) {
            return fileName + "!" + function;
        }
    }
    return std::string();
}

}  // namespace Win32Emu

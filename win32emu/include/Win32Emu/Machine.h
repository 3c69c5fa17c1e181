#pragma once

// The emulated Windows machine behind the emulated Win32 calls: one per process, as Windows is.
// Tests build it up per case and reset it; executables get it from a machine profile.
// Every member is thread-safe. Not part of the Win32 surface: system code never includes this.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace Win32Emu {

struct VersionInfo {
    DWORD majorVersion = 6;
    DWORD minorVersion = 1;
    DWORD buildNumber = 7601;
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    std::string servicePack = "Service Pack 1";  // szCSDVersion
    WORD servicePackMajor = 1;
    WORD servicePackMinor = 0;
    WORD suiteMask = 0;
    BYTE productType = VER_NT_WORKSTATION;
};

// An account the machine knows (for SID lookups and the users logged on in sessions).
struct Account {
    std::string sid;  // "S-1-5-21-...-1001"
    std::string name;
    std::string domain;
    bool administrator = false;
    bool linkedToken = false;  // UAC: a filtered token with a linked full (elevated) token
};

// A process running on the machine (other than the emulated process itself).
struct ProcessEntry {
    DWORD processId = 0;
    std::string executableName;  // "explorer.exe"
    DWORD sessionId = 0;
    std::string userSid;
};

class Machine {
public:
    // On first use the machine loads the profile file named by the environment variable
    // WIN32EMU_PROFILE, or else the built-in profile. Its host root is WIN32EMU_ROOT, or else
    // $HOME/.orvane-win32emu.
    static Machine& instance();

    // An empty machine: no registry keys, no folders, no module name, no faults, the default
    // VersionInfo, x64, WOW64 off. Open handles stay valid (a process's handles outlive any
    // one test), so accounting is compared before and after an operation. Keeps the host root.
    void reset();
    // reset(), then the built-in profile: a Windows 7 SP1 x64 Professional machine with a
    // console user, the client's registry keys and a refresh token, C:\ProgramData.
    void loadDefaultProfile();
    // reset(), the built-in profile, then the JSON profile on top of it. Throws a
    // Poco::Exception for a file that cannot be read or parsed.
    void loadProfileFile(const std::string& hostPath);
    void loadProfileJson(const std::string& json);

    // Fault injection: the next call of the named function (e.g. "SHGetFolderPathW") fails with
    // `error` as its last error; failWhen only for calls whose principal string argument (a
    // path, key or value name, function name) equals `argument`.
    void failNext(const std::string& call, DWORD error);
    void failWhen(const std::string& call, const std::string& argument, DWORD error);
    void clearFaults();

    // Accounting of what the emulated calls hand out and have not had back.
    size_t openHandleCount() const;
    size_t localAllocCount() const;
    size_t environmentBlockCount() const;

    // Version and system description.
    void setVersion(const VersionInfo& version);
    VersionInfo version() const;
    void setProcessorArchitecture(WORD architecture);
    // Whether GetProcAddress finds `function` in `module` (case-insensitive module name).
    // By default kernel32.dll exports GetNativeSystemInfo and GetProductInfo.
    void setExported(const std::string& module, const std::string& function, bool exported);
    void setProductInfo(DWORD productType);
    void setSystemMetric(int index, int value);
    void setWow64(bool wow64);

    // Folders and files. An empty folder path makes SHGetFolderPathW fail for that CSIDL.
    void setFolderPath(int csidl, const std::wstring& path);
    void setModuleFileName(const std::wstring& path);
    // Drive C: lies at <hostRoot>/C on the host, drive D: at <hostRoot>/D, and so on.
    void setHostRoot(const std::string& hostDirectory);
    std::string hostRoot() const;
    // The host path of a Windows path (C:\a\b -> <hostRoot>/C/a/b); other paths unchanged.
    std::string hostPath(const std::string& windowsPath) const;

    // Registry. Keys are full paths with the root key's name: "HKEY_LOCAL_MACHINE\SOFTWARE\..."
    // or "HKEY_USERS\S-1-5-21-...\SOFTWARE\...", as the (32-bit) service process sees them.
    void createRegistryKey(const std::string& key);
    void deleteRegistryKey(const std::string& key);  // with its subkeys
    bool registryKeyExists(const std::string& key) const;
    void setRegistryString(const std::string& key,
                           const std::string& name,
                           const std::string& value,
                           DWORD type = REG_SZ);
    void setRegistryDword(const std::string& key, const std::string& name, DWORD value);

    // Reading back what the emulated calls wrote (key addressed as above). Empty when the key or
    // value is missing or of another type; strings end at their first zero character.
    std::optional<std::string> registryString(const std::string& key,
                                              const std::string& name) const;
    std::optional<DWORD> registryDword(const std::string& key, const std::string& name) const;

    // The process's current directory (GetCurrentDirectoryW); C:\Windows\system32 after reset.
    void setCurrentDirectory(const std::wstring& path);

    // Sessions and users, recorded for the session and token calls. 0xFFFFFFFF: no console
    // session. An empty SID: nobody logged on in that session.
    void setConsoleSession(DWORD sessionId);
    DWORD consoleSession() const;
    void setSessionUser(DWORD sessionId, const std::string& sid);
    std::string sessionUser(DWORD sessionId) const;
    void setAccount(const Account& account);
    std::optional<Account> account(const std::string& sid) const;
    void setProcess(const ProcessEntry& process);
    void removeProcess(DWORD processId);
    std::vector<ProcessEntry> processes() const;

    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

private:
    Machine();
    ~Machine();
    struct State;
    State* state;
};

}  // namespace Win32Emu

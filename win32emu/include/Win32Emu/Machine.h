#pragma once

// The emulated Windows machine behind the emulated Win32 calls: one per process, as Windows is.
// Tests build it up per case and reset it; executables get it from a machine profile.
// Every member is thread-safe. Not part of the Win32 surface: system code never includes this.

#include <cstddef>
#include <cstdint>
#include <functional>
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

// A process running on the machine; the emulated process itself is one of them
// (Machine::setCurrentProcess). A non-zero error makes that call fail for this process with it.
struct ProcessEntry {
    DWORD processId = 0;
    std::string executableName;  // "explorer.exe"
    DWORD sessionId = 0;
    std::string userSid;
    // Runs with the user's full token where the account has a linked (UAC) one.
    bool elevated = false;
    // The integrity level's RID (SECURITY_MANDATORY_LOW_RID...); 0: as Windows gives it, system
    // for LocalSystem, high for an elevated token, else medium.
    DWORD integrityLevel = 0;
    bool appContainer = false;  // a sandboxed (AppContainer) process, Windows 8 and later
    bool restricted = false;    // its token holds restricting SIDs (IsTokenRestricted)
    // When it started, as GetSystemTimeAsFileTime counts; 0: when setProcess first lists it.
    std::uint64_t startTime = 0;
    DWORD openProcessError = 0;
    DWORD openProcessTokenError = 0;
    DWORD sessionIdError = 0;  // ProcessIdToSessionId
};

// What a token handle stands for (Machine::tokenInfo).
struct TokenInfo {
    std::uint64_t tokenId = 0;  // each token object its own; a duplicate is a new token
    std::string userSid;
    DWORD sessionId = 0;
    TOKEN_TYPE type = TokenPrimary;
    // As DuplicateTokenEx was asked; SecurityAnonymous for a token that was never duplicated.
    SECURITY_IMPERSONATION_LEVEL impersonationLevel = SecurityAnonymous;
    // Default: no linked token; Limited: the filtered token of a UAC administrator; Full: the
    // administrator's elevated token.
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    ACCESS_MASK access = 0;  // the handle's
    std::string createdBy;   // the call that handed the handle out
};

// A file the machine lists beside those on the host under the drive map (Machine::setFile), and
// marks that make opening it fail as Windows would. Marks apply to a host file of the same path
// too.
struct FileEntry {
    // Another process holds it open without sharing: ERROR_SHARING_VIOLATION.
    bool heldOpen = false;
    // Its access list denies the emulated process reading it: ERROR_ACCESS_DENIED.
    bool unreadable = false;
    // Its hard links (FILE_STANDARD_INFO.NumberOfLinks): more than one, and another folder
    // names the same file.
    DWORD links = 1;
};

// A process that CreateProcessAsUserW started (Machine::launches). Text in UTF-8.
struct LaunchRecord {
    DWORD processId = 0;
    DWORD threadId = 0;
    std::string userSid;  // the token's
    DWORD sessionId = 0;  // the token's, and the new process's
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    std::uint64_t tokenId = 0;  // TokenInfo::tokenId of the token it was given
    std::string applicationName;
    std::string commandLine;  // as given, empty for none
    // The directory it starts in as given, else the emulated process's current directory.
    std::string currentDirectory;
    // "NAME=value" in block order; the emulated process's own environment when none was given.
    std::vector<std::string> environment;
    // The token CreateEnvironmentBlock made the block from (its user and TokenInfo::tokenId);
    // empty and 0 for a block of another origin or none.
    std::string environmentUserSid;
    std::uint64_t environmentTokenId = 0;
    std::string desktop;  // STARTUPINFOW.lpDesktop, empty for none
    DWORD startupInfoSize = 0;
    DWORD creationFlags = 0;
    bool inheritHandles = false;
};

// A handle or LocalAlloc block not yet given back.
struct OpenObject {
    std::uintptr_t value = 0;  // the handle value or block address
    std::string type;       // "Token", "Process", "Snapshot", "Event", "Mutex", "Key", "LocalAlloc"
    std::string createdBy;  // the call that handed it out
};

// One entry of an access list, as its ACE holds it (Machine::accessList, setAccessList).
struct AccessEntry {
    bool allowed = true;  // ACCESS_ALLOWED_ACE_TYPE, else ACCESS_DENIED_ACE_TYPE
    std::string sid;
    ACCESS_MASK mask = 0;
    BYTE flags = 0;  // OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE, ..., INHERITED_ACE
};

// The access one SID is given on an object by the entries naming it (Machine::accessOf).
struct SidAccess {
    ACCESS_MASK allowed = 0;  // allow entries that apply to the object itself
    ACCESS_MASK denied = 0;
    bool inherited = false;    // some entry naming the SID came from a parent
    bool inheritable = false;  // some entry naming it reaches both subfolders (keys) and files
};

// A change that SetNamedSecurityInfoW made to an explicit entry of an access list.
struct AccessChange {
    std::string object;    // as the caller named it: "C:\Games", "MACHINE\SOFTWARE\..."
    std::string trustee;   // SID string
    ACCESS_MASK mask = 0;  // the entry's mask after the change
    BYTE flags = 0;
    bool allowed = true;
};

// Which registry view a Machine query of a key uses: the emulated process's, or one named.
enum class RegistryView { Process, Bits32, Bits64 };

// A fault to inject into one emulated call (Machine::injectFault): the call fails the way it
// fails on Windows, with `error` as its last error (or as its result, for the registry calls).
// By default it hits the next call of that name.
class Fault {
public:
    Fault(std::string call, DWORD error) : callName(std::move(call)), errorCode(error) {}
    // The nth matching call from now fails (1: the next one); 0: every matching call.
    Fault& onOccurrence(unsigned n) {
        nth = n;
        return *this;
    }
    Fault& always() { return onOccurrence(0); }
    // Only calls whose principal argument equals `text`, without regard to case: a path, key,
    // value or function name, a process or session id or token information class in decimal,
    // a SID string (win32emu/SUPPORTED.md names each call's).
    Fault& withArgument(std::string text) {
        principal = std::move(text);
        return *this;
    }
    // Only calls given a handle to this kind of object ("Token", "Process", "Thread", "File",
    // "Snapshot", "Event", "Mutex", "Key").
    Fault& onObject(std::string type) {
        object = std::move(type);
        return *this;
    }

    const std::string& call() const { return callName; }
    DWORD error() const { return errorCode; }
    unsigned occurrence() const { return nth; }
    const std::optional<std::string>& argument() const { return principal; }
    const std::optional<std::string>& objectType() const { return object; }
    std::string describe() const;

private:
    std::string callName;
    DWORD errorCode;
    unsigned nth = 1;
    std::optional<std::string> principal;
    std::optional<std::string> object;
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

    // Fault injection. injectFault throws Poco::InvalidArgumentException at once for a call the
    // emulation does not export, one that cannot fail on Windows, or an unknown object type.
    // failNext(call, error) is injectFault(Fault(call, error)); failWhen fails every call whose
    // principal argument equals `argument` until the faults are cleared.
    void injectFault(const Fault& fault);
    void failNext(const std::string& call, DWORD error);
    void failWhen(const std::string& call, const std::string& argument, DWORD error);
    // `action` runs once, when the next call of that name (an emulated export) starts: what
    // another process does between two calls. One that never ran is listed as unfired.
    void beforeCall(const std::string& call, std::function<void()> action);
    // The faults injected since the last clearFaults() (or reset) that never fired, described.
    std::vector<std::string> unfiredFaults() const;
    void clearFaults();

    // Accounting of what the emulated calls hand out and have not had back.
    size_t openHandleCount() const;
    size_t localAllocCount() const;
    size_t environmentBlockCount() const;
    std::vector<OpenObject> openHandles() const;
    std::vector<OpenObject> openLocalAllocs() const;
    // What an open token handle stands for; empty for any other handle.
    std::optional<TokenInfo> tokenInfo(HANDLE handle) const;

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
    // Makes `key` a registry link to `target` (both named as above, in the same view), as
    // REG_OPTION_CREATE_LINK and its REG_LINK value SymbolicLinkValue make one.
    void setRegistryLink(const std::string& key, const std::string& target);
    // REG_MULTI_SZ: each string zero-terminated, then one more zero.
    void setRegistryMultiString(const std::string& key,
                                const std::string& name,
                                const std::vector<std::string>& strings);

    // Reading back what the emulated calls wrote (key addressed as above). Empty when the key or
    // value is missing or of another type; strings end at their first zero character.
    std::optional<std::string> registryString(const std::string& key,
                                              const std::string& name) const;
    std::optional<DWORD> registryDword(const std::string& key, const std::string& name) const;

    // Security of files and keys. An object is a Windows path on a drive ("C:\\Games") or a key
    // named as for the registry setters. Every object has an owner, a group and an access list:
    // its explicit entries, then (unless protected) what it inherits from its parent; drive
    // roots and hive roots without entries of their own give Administrators and SYSTEM full
    // control and Users read, inherited by everything below. Entries with generic rights are
    // stored mapped onto the object's rights.
    void setAccessList(const std::string& object,
                       const std::vector<AccessEntry>& explicitEntries,
                       bool isProtected = false,
                       RegistryView view = RegistryView::Process);
    void setOwner(const std::string& object,
                  const std::string& ownerSid,
                  RegistryView view = RegistryView::Process);
    // The object's whole list, explicit entries first; none when the object does not exist.
    std::optional<std::vector<AccessEntry>> accessList(
        const std::string& object, RegistryView view = RegistryView::Process) const;
    SidAccess accessOf(const std::string& object,
                       const std::string& sid,
                       RegistryView view = RegistryView::Process) const;
    // Marks a directory as a junction (or a directory symbolic link) to `target`: paths through
    // it reach the target, and GetFileAttributesW reports FILE_ATTRIBUTE_REPARSE_POINT for it.
    void setReparsePoint(const std::string& path, const std::string& target, bool junction = true);
    // Every change of an explicit entry that SetNamedSecurityInfoW made since the last reset.
    std::vector<AccessChange> accessChanges() const;
    // Files beside the host's (a path in Windows notation, absolute), for CreateFileW and
    // CreateProcessAsUserW: a listed file exists, with its folders, whether or not the host has
    // it; its marks apply to the host's file too. Nothing is written to the host.
    void setFile(const std::string& windowsPath, const FileEntry& entry = FileEntry());
    // Every process CreateProcessAsUserW started since the last reset, in order.
    std::vector<LaunchRecord> launches() const;

    // The process's current directory (GetCurrentDirectoryW); C:\Windows\system32 after reset.
    void setCurrentDirectory(const std::wstring& path);

    // Sessions and users, for the session and token calls. 0xFFFFFFFF: no console session.
    // setSessionUser creates the session; an empty SID: nobody logged on in it. After reset()
    // only session 0 exists, with nobody in it.
    void setConsoleSession(DWORD sessionId);
    DWORD consoleSession() const;
    void setSessionUser(DWORD sessionId, const std::string& sid);
    std::string sessionUser(DWORD sessionId) const;
    void removeSession(DWORD sessionId);
    // Accounts, by SID (compared without regard to case). SIDs must be valid SID strings
    // (Poco::InvalidArgumentException otherwise), as must the users of sessions and processes.
    void setAccount(const Account& account);
    std::optional<Account> account(const std::string& sid) const;
    // Processes in snapshot order: the order they were first set in; setting an existing
    // process id replaces that entry in place. An id is not reused while a handle to the exited
    // process that had it is open: setProcess throws Poco::InvalidArgumentException then.
    void setProcess(const ProcessEntry& process);
    // The process exits: it leaves the list; handles to it stay valid and signalled.
    void removeProcess(DWORD processId);
    std::vector<ProcessEntry> processes() const;
    // The emulated process is the listed process of this id (the built-in profile's
    // OrvaneService.exe, LocalSystem in session 0). Unlisted (as after reset()), it runs as
    // LocalSystem in session 0 but appears in no snapshot.
    void setCurrentProcess(DWORD processId);
    DWORD currentProcessId() const;

    // Who owns the host's loopback TCP connections, as GetExtendedTcpTable reports them: the
    // connection whose local port is `localPort` belongs to `processId`. A connection to a port
    // the host process listens on is the emulated process's own; any other belongs to the
    // default connection owner (the profile's "defaultCaller"; 0 after reset()).
    void setConnectionOwner(WORD localPort, DWORD processId);
    void setDefaultConnectionOwner(DWORD processId);
    DWORD defaultConnectionOwner() const;

    // The flags the emulated process last set with SetProcessMitigationPolicy for
    // ProcessRedirectionTrustPolicy (0 after reset()).
    DWORD redirectionTrustPolicy() const;

    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

private:
    Machine();
    ~Machine();
    struct State;
    State* state;
};

}  // namespace Win32Emu

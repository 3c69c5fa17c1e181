#pragma once

// The emulated Windows machine behind the emulated Win32 calls: one per process, as Windows is.
// Tests build it up per case and reset it; executables get it from a machine profile.
// Every member is thread-safe. Not part of the Win32 surface: system code never includes this.

#include "Win32Emu/Fault.h"
#include "Win32Emu/MachineTypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace Win32Emu {

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
    // reset(), then the built-in profile: a Windows 11 x64 Professional machine with a
    // console user, the client's registry keys and a refresh token, C:\ProgramData.
    void loadDefaultProfile();
    // reset(), the built-in profile, then the JSON profile on top of it. Throws a
    // Poco::Exception for a file that cannot be read or parsed.
    void loadProfileFile(const std::string& hostPath);
    void loadProfileJson(const std::string& json);
    // Reads and checks a profile file as loadProfileFile does, and throws as it does, without
    // touching any machine: for a tool that starts programs on it to refuse a bad one first.
    static void checkProfileFile(const std::string& hostPath);

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
    // its explicit entries, then (unless protected) the entries it inherited, as Windows stores
    // them: written into it when it was made (or first seen by the machine) and whenever a list
    // above it is set through a propagating call (SetNamedSecurityInfoW, SetSecurityInfo, and
    // setAccessList here); a list set with SetKernelObjectSecurity or RegSetKeySecurity reaches
    // nothing below. Drive roots and hive roots without entries of their own give Administrators
    // and SYSTEM full control and Users read. Entries with generic rights are stored mapped onto
    // the object's rights.
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
    // A process of `userSid` that is not elevated creates a folder (or an empty file) at `path`,
    // as CreateDirectoryW (CreateFileW with CREATE_NEW) would for it: ERROR_PATH_NOT_FOUND
    // without the parent folder, ERROR_ALREADY_EXISTS (ERROR_FILE_EXISTS) when something is
    // there, ERROR_ACCESS_DENIED unless the parent's list lets the user, Everyone, Authenticated
    // Users, Users or INTERACTIVE add a subfolder (a file). The new object is made on the host,
    // owned by the user, and inherits from its parent (CREATOR OWNER entries naming the user).
    DWORD createAs(const std::string& userSid, const std::string& path, bool folder = true);
    // Marks a directory as a junction (or a directory symbolic link) to `target`: paths through
    // it reach the target, and GetFileAttributesW reports FILE_ATTRIBUTE_REPARSE_POINT for it.
    // `byAdministrator` false: a standard user made the junction, so a process that enforces
    // redirection trust does not cross it (ERROR_UNTRUSTED_MOUNT_POINT).
    void setReparsePoint(const std::string& path,
                         const std::string& target,
                         bool junction = true,
                         bool byAdministrator = true);
    // Gives an existing file or folder a reparse tag that is not a link (IO_REPARSE_TAG_WOF,
    // _DEDUP, _CLOUD, _APPEXECLINK...): it stays the same object, listed and opened (with
    // FILE_FLAG_OPEN_REPARSE_POINT) with FILE_ATTRIBUTE_REPARSE_POINT and the tag.
    // Poco::InvalidArgumentException for a name-surrogate tag (use setReparsePoint).
    void setReparseTag(const std::string& path, DWORD tag);
    // `name` becomes another name of the existing file `existing`, in another folder or the
    // same, as CreateHardLinkW makes one: one file, one access list, every name listed.
    void setHardLink(const std::string& name, const std::string& existing);
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
    // The one connection from `localPort` to `remotePort` belongs to `processId`, whatever the
    // local port's owner: a server's end, whose local port its listener shares.
    void setConnectionOwner(WORD localPort, WORD remotePort, DWORD processId);
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

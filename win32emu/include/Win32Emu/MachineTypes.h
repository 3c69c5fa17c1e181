#pragma once

// The value types the emulated machine is described and queried with, shared by the emulation's
// own code and by the Machine interface that tests use.

#include <cstdint>
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

}  // namespace Win32Emu

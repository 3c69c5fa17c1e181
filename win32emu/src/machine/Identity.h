#pragma once

// The security identity of the machine's processes and sessions, shared by the token, process
// and SID calls.

#include "Win32Emu/MachineTypes.h"
#include "machine/IdentityObjects.h"

#include <memory>
#include <optional>
#include <string>

namespace Win32Emu {

extern const char* const LocalSystemSid;

// The emulated process itself: its entry in the process list, or else LocalSystem in session 0.
ProcessEntry CurrentProcessEntry();
std::optional<ProcessEntry> FindProcess(DWORD processId);
// The object behind handles to process `processId`: the listed process's (made on first use), else
// that of an exited process a handle still holds; null when there is neither.
std::shared_ptr<ProcessObject> ProcessObjectOf(DWORD processId);
// The host's clock in FILETIME units (100 ns since 1601).
std::uint64_t FileTimeNow();
// Whether the emulated process holds the privileges of LocalSystem (SeTcbPrivilege).
bool CallerIsLocalSystem();

// A new token of `userSid` in `sessionId`: the account's filtered token under UAC (its full one
// when `elevated`), else its only token. Its integrity level is `integrityLevel`, or for 0 the
// one Windows gives such a token (DefaultIntegrityLevel).
std::shared_ptr<TokenObject> NewToken(const std::string& userSid,
                                      DWORD sessionId,
                                      bool elevated,
                                      DWORD integrityLevel = 0,
                                      bool appContainer = false,
                                      bool restricted = false);
// System for LocalSystem, high for a full administrator token, else medium.
DWORD DefaultIntegrityLevel(const std::string& userSid, TOKEN_ELEVATION_TYPE elevation);
// A new token object with the identity of `source` (a new token id).
std::shared_ptr<TokenObject> CopyToken(const TokenObject& source);

// The access a handle to a token or a process is granted for `desired`: generic rights mapped,
// MAXIMUM_ALLOWED as all rights. False when `desired` asks for a right the object lacks.
bool GrantedTokenAccess(ACCESS_MASK desired, ACCESS_MASK& granted);
bool GrantedProcessAccess(ACCESS_MASK desired, ACCESS_MASK& granted);

}  // namespace Win32Emu

#pragma once

// Whether a program may be started with a user's full token: only when nobody but that user,
// SYSTEM, Administrators or TrustedInstaller can change it or a folder above it. An elevated
// launch of a program that another user can rewrite would run that user's code with the
// caller's full token.

#include "core/windows/ScopedHandle.h"

#include <optional>
#include <string>
#include <vector>

namespace OrvaneClient {

struct ElevatedProgramCheck {
    // The folders from the drive's root down and the program, each opened as itself (links not
    // followed), root first, for the caller to hold until the launch is done. Nobody else may
    // remove or rename them once the check has passed.
    std::vector<ScopedHandle> held;
    // Why one of them could not be examined (not on a drive, missing, a link, another final
    // path, its security unreadable); the launch must be refused then too.
    std::optional<std::string> failure;
    // Someone else who can change one of them, as "DOMAIN\name" (the SID string when the account
    // has no name), and that object's path; both empty when nobody can.
    std::string account;
    std::string object;
};

// Examines `program`, a drive-absolute path (UTF-8), for an elevated launch by the user whose
// SID string is `callerSid`: owner and access list of every object, read on its handle. A right
// to write, append, delete, change the list or take ownership (for folders also to add or delete
// children) held by anyone else counts, as does an owner who is someone else; inherit-only
// entries and CREATOR OWNER entries do not. Logs nothing; releases every buffer, and every
// handle it does not hand back in `held`.
ElevatedProgramCheck CheckElevatedProgram(const std::string& program, const std::string& callerSid);

}  // namespace OrvaneClient

#pragma once

// The steps of a launch in the console user's session, around the tokens the operation holds.

#include "core/windows/Win32Api.h"
#include "service/operations/ElevatedProgramCheck.h"

#include <cstdint>
#include <optional>
#include <string>

namespace OrvaneClient {

// Why the launch must not touch its paths at all, or none: a process path or (non-empty) working
// directory that is not a local file named by its drive (PathForms.h).
std::optional<std::string> NonLocalLaunchReason(const char* processPath, const char* workingDir);

// Whether `processPath` may run with the full token of the user `userToken` names: nobody else
// can change it or a folder above it. `program` then holds them until the launch is done. False
// after a refusal line at warning level.
bool ElevatedLaunchAllowed(HANDLE userToken,
                           const char* processPath,
                           ElevatedProgramCheck& program);

// Steps after the tokens and the environment block are had: the working directory (`workingDir`,
// or when empty the program's folder), the process on "WinSta0\Default", and on failure the
// probe of the executable. True with the id written through `processId` (when not null).
// Releases nothing it was given, and keeps no handle of the new process.
bool StartProcess(HANDLE launchToken,
                  LPVOID environment,
                  const char* processPath,
                  const char* commandLineArgs,
                  const char* workingDir,
                  uint32_t* processId);

}  // namespace OrvaneClient

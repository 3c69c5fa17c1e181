#pragma once

// Emulated Windows SDK: userenv.h, the user environment blocks.

#include <windows.h>

extern "C" {

// The environment of hToken's user, as wide "NAME=value" strings ending in an empty one; with
// bInherit the calling process's variables first, the user's over them.
BOOL WINAPI CreateEnvironmentBlock(LPVOID* lpEnvironment, HANDLE hToken, BOOL bInherit);
BOOL WINAPI DestroyEnvironmentBlock(LPVOID lpEnvironment);
// The folder that holds the users' profiles. *lpcchSize is set to the size it needs, the
// terminating zero included; a null or short buffer fails with ERROR_INSUFFICIENT_BUFFER.
BOOL WINAPI GetProfilesDirectoryW(LPWSTR lpProfileDir, LPDWORD lpcchSize);

}  // extern "C"

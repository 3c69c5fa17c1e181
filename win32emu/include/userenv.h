#pragma once

// Emulated Windows SDK: userenv.h, the user environment blocks.

#include <windows.h>

extern "C" {

// The environment of hToken's user, as wide "NAME=value" strings ending in an empty one; with
// bInherit the calling process's variables first, the user's over them.
BOOL WINAPI CreateEnvironmentBlock(LPVOID* lpEnvironment, HANDLE hToken, BOOL bInherit);
BOOL WINAPI DestroyEnvironmentBlock(LPVOID lpEnvironment);

}  // extern "C"

#pragma once

// Emulated Windows SDK: userenv.h, the user environment blocks.

#include <windows.h>

extern "C" {

BOOL WINAPI DestroyEnvironmentBlock(LPVOID lpEnvironment);

}  // extern "C"

#pragma once

// Emulated Windows SDK: wtsapi32.h. Sessions are those of the emulated machine.

#include <windows.h>

// clang-format off
// clang-format on

extern "C" {

// The primary token of the user logged on in SessionId. Only for a caller running as
// LocalSystem; the handle is the caller's to close.
BOOL WINAPI WTSQueryUserToken(ULONG SessionId, PHANDLE phToken);

}  // extern "C"

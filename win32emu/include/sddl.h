#pragma once

// Emulated Windows SDK: sddl.h, the text form of SIDs.

#include <windows.h>

extern "C" {

// "S-1-5-21-..." in a LocalAlloc block that the caller frees with LocalFree.
BOOL WINAPI ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid);

}  // extern "C"

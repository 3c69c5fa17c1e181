#pragma once

// Emulated Windows SDK: sddl.h, the text form of SIDs.

#include <windows.h>

extern "C" {

// "S-1-5-21-..." in a LocalAlloc block that the caller frees with LocalFree.
BOOL WINAPI ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid);

#define SDDL_REVISION_1 1

// A self-relative security descriptor from its text form, in a LocalAlloc block.
BOOL WINAPI
ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor,
                                                     DWORD StringSDRevision,
                                                     PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                     PULONG SecurityDescriptorSize);

}  // extern "C"

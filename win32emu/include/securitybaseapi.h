#pragma once

// Emulated Windows SDK: securitybaseapi.h, the token and SID calls of advapi32 that the system
// makes. Tokens are handles of the emulated machine; SIDs are in Windows' binary layout.

#include <winbase.h>

extern "C" {

BOOL WINAPI GetTokenInformation(HANDLE TokenHandle,
                                TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation,
                                DWORD TokenInformationLength,
                                PDWORD ReturnLength);
BOOL WINAPI DuplicateTokenEx(HANDLE hExistingToken,
                             DWORD dwDesiredAccess,
                             LPSECURITY_ATTRIBUTES lpTokenAttributes,
                             SECURITY_IMPERSONATION_LEVEL ImpersonationLevel,
                             TOKEN_TYPE TokenType,
                             PHANDLE phNewToken);
BOOL WINAPI IsTokenRestricted(HANDLE TokenHandle);

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2);
// Each generic right in the mask replaced by the rights the mapping gives it.
VOID WINAPI MapGenericMask(PDWORD AccessMask, PGENERIC_MAPPING GenericMapping);

// Writes the parts of the descriptor named on the object the handle holds (a file, folder or
// key), that object's alone: nothing is propagated to what lies below it.
BOOL WINAPI SetKernelObjectSecurity(HANDLE Handle,
                                    SECURITY_INFORMATION SecurityInformation,
                                    PSECURITY_DESCRIPTOR SecurityDescriptor);
BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         PSECURITY_DESCRIPTOR_CONTROL pControl,
                                         LPDWORD lpdwRevision);
// Like Windows, neither checks the SID: the caller passes a valid one and an index below its count.
PUCHAR WINAPI GetSidSubAuthorityCount(PSID pSid);
PDWORD WINAPI GetSidSubAuthority(PSID pSid, DWORD nSubAuthority);

}  // extern "C"

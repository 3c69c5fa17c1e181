#pragma once

// Emulated Windows SDK: aclapi.h, the access lists of files and registry keys. Descriptors and
// lists come back in LocalAlloc blocks that the caller frees with LocalFree.

#include <accctrl.h>
#include <windows.h>

extern "C" {

DWORD WINAPI GetNamedSecurityInfoW(LPCWSTR pObjectName,
                                   SE_OBJECT_TYPE ObjectType,
                                   SECURITY_INFORMATION SecurityInfo,
                                   PSID* ppsidOwner,
                                   PSID* ppsidGroup,
                                   PACL* ppDacl,
                                   PACL* ppSacl,
                                   PSECURITY_DESCRIPTOR* ppSecurityDescriptor);
DWORD WINAPI SetNamedSecurityInfoW(LPWSTR pObjectName,
                                   SE_OBJECT_TYPE ObjectType,
                                   SECURITY_INFORMATION SecurityInfo,
                                   PSID psidOwner,
                                   PSID psidGroup,
                                   PACL pDacl,
                                   PACL pSacl);
DWORD WINAPI GetSecurityInfo(HANDLE handle,
                             SE_OBJECT_TYPE ObjectType,
                             SECURITY_INFORMATION SecurityInfo,
                             PSID* ppsidOwner,
                             PSID* ppsidGroup,
                             PACL* ppDacl,
                             PACL* ppSacl,
                             PSECURITY_DESCRIPTOR* ppSecurityDescriptor);
DWORD WINAPI SetSecurityInfo(HANDLE handle,
                             SE_OBJECT_TYPE ObjectType,
                             SECURITY_INFORMATION SecurityInfo,
                             PSID psidOwner,
                             PSID psidGroup,
                             PACL pDacl,
                             PACL pSacl);
DWORD WINAPI SetEntriesInAclA(ULONG cCountOfExplicitEntries,
                              PEXPLICIT_ACCESS_A pListOfExplicitEntries,
                              PACL OldAcl,
                              PACL* NewAcl);

}  // extern "C"

#pragma once

// Emulated Windows SDK: the basic types, handles, access rights and version constants, with the
// SDK's names and values. DWORD and LONG are 32 bits (unsigned int / int: long is 64 bits on
// Linux) and WCHAR is wchar_t, so L"..." and %ls work; it is UTF-32 here, never assume 2 bytes.

#include <cstddef>
#include <cstdint>

// clang-format off

// Calling conventions and annotations of the SDK: nothing to say on this platform.
#define WINAPI
#define NTAPI
#define CONST const
#define VOID void

typedef int                 BOOL;
typedef unsigned char       BYTE;
typedef BYTE                BOOLEAN;
typedef unsigned short      WORD;
typedef unsigned int        DWORD;
typedef int                 INT;
typedef unsigned int        UINT;
typedef int                 LONG;
typedef unsigned int        ULONG;
typedef short               SHORT;
typedef unsigned short      USHORT;
typedef char                CHAR;
typedef unsigned char       UCHAR;
typedef UCHAR*              PUCHAR;
typedef wchar_t             WCHAR;
typedef long long           LONGLONG;
typedef unsigned long long  ULONGLONG;
typedef ULONGLONG           DWORDLONG;
typedef std::intptr_t       INT_PTR;
typedef std::uintptr_t      UINT_PTR;
typedef std::intptr_t       LONG_PTR;
typedef std::uintptr_t      ULONG_PTR;
typedef ULONG_PTR           DWORD_PTR;
typedef ULONG_PTR           SIZE_T;
typedef LONG                HRESULT;

typedef void*               PVOID;
typedef void*               LPVOID;
typedef const void*         LPCVOID;
typedef BOOL*               PBOOL;
typedef BOOL*               LPBOOL;
typedef BYTE*               PBYTE;
typedef BYTE*               LPBYTE;
typedef WORD*               PWORD;
typedef WORD*               LPWORD;
typedef DWORD*              PDWORD;
typedef DWORD*              LPDWORD;
typedef LONG*               PLONG;
typedef ULONG*              PULONG;
typedef CHAR*               PCHAR;
typedef CHAR*               LPSTR;
typedef CHAR*               PSTR;
typedef const CHAR*         LPCSTR;
typedef const CHAR*         PCSTR;
typedef WCHAR*              PWCHAR;
typedef WCHAR*              LPWSTR;
typedef WCHAR*              PWSTR;
typedef const WCHAR*        LPCWSTR;
typedef const WCHAR*        PCWSTR;

#define TRUE  1
#define FALSE 0

// Handles. Typed handles are distinct pointer types, as with STRICT.
typedef void*               HANDLE;
typedef HANDLE*             PHANDLE;
typedef HANDLE*             LPHANDLE;
#define DECLARE_HANDLE(name) struct name##__ { int unused; }; typedef struct name##__* name
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HDESK);
DECLARE_HANDLE(HWINSTA);
typedef HINSTANCE           HMODULE;
typedef HKEY*               PHKEY;
typedef HANDLE              HLOCAL;
typedef HANDLE              HGLOBAL;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

// Access rights.
typedef DWORD               ACCESS_MASK;
typedef ACCESS_MASK*        PACCESS_MASK;
typedef ACCESS_MASK         REGSAM;

typedef struct _GENERIC_MAPPING {
    ACCESS_MASK GenericRead;
    ACCESS_MASK GenericWrite;
    ACCESS_MASK GenericExecute;
    ACCESS_MASK GenericAll;
} GENERIC_MAPPING, *PGENERIC_MAPPING;

#define DELETE                      (0x00010000)
#define READ_CONTROL                (0x00020000)
#define WRITE_DAC                   (0x00040000)
#define WRITE_OWNER                 (0x00080000)
#define SYNCHRONIZE                 (0x00100000)
#define STANDARD_RIGHTS_REQUIRED    (0x000F0000)
#define STANDARD_RIGHTS_READ        (READ_CONTROL)
#define STANDARD_RIGHTS_WRITE       (READ_CONTROL)
#define STANDARD_RIGHTS_EXECUTE     (READ_CONTROL)
#define STANDARD_RIGHTS_ALL         (0x001F0000)
#define MAXIMUM_ALLOWED             (0x02000000)
#define GENERIC_READ                (0x80000000)
#define GENERIC_WRITE               (0x40000000)
#define GENERIC_EXECUTE             (0x20000000)
#define GENERIC_ALL                 (0x10000000)

#define ANYSIZE_ARRAY 1

// Security identifiers, in Windows' binary layout: callers do pointer arithmetic on them.
typedef PVOID               PSID;

typedef struct _SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

typedef struct _SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[ANYSIZE_ARRAY];
} SID, *PISID;

#define SID_REVISION                    (1)
#define SID_MAX_SUB_AUTHORITIES         (15)

typedef enum _SID_NAME_USE {
    SidTypeUser = 1,
    SidTypeGroup,
    SidTypeDomain,
    SidTypeAlias,
    SidTypeWellKnownGroup,
    SidTypeDeletedAccount,
    SidTypeInvalid,
    SidTypeUnknown,
    SidTypeComputer,
    SidTypeLabel,
    SidTypeLogonSession
} SID_NAME_USE, *PSID_NAME_USE;

typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES, *PSID_AND_ATTRIBUTES;

#define SE_GROUP_INTEGRITY              (0x00000020)
#define SE_GROUP_INTEGRITY_ENABLED      (0x00000040)

// Access tokens.
#define TOKEN_ASSIGN_PRIMARY        (0x0001)
#define TOKEN_DUPLICATE             (0x0002)
#define TOKEN_IMPERSONATE           (0x0004)
#define TOKEN_QUERY                 (0x0008)
#define TOKEN_QUERY_SOURCE          (0x0010)
#define TOKEN_ADJUST_PRIVILEGES     (0x0020)
#define TOKEN_ADJUST_GROUPS         (0x0040)
#define TOKEN_ADJUST_DEFAULT        (0x0080)
#define TOKEN_ADJUST_SESSIONID      (0x0100)
#define TOKEN_ALL_ACCESS_P          (STANDARD_RIGHTS_REQUIRED | TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | \
                                     TOKEN_IMPERSONATE | TOKEN_QUERY | TOKEN_QUERY_SOURCE | \
                                     TOKEN_ADJUST_PRIVILEGES | TOKEN_ADJUST_GROUPS | TOKEN_ADJUST_DEFAULT)
#define TOKEN_ALL_ACCESS            (TOKEN_ALL_ACCESS_P | TOKEN_ADJUST_SESSIONID)
#define TOKEN_READ                  (STANDARD_RIGHTS_READ | TOKEN_QUERY)
#define TOKEN_WRITE                 (STANDARD_RIGHTS_WRITE | TOKEN_ADJUST_PRIVILEGES | \
                                     TOKEN_ADJUST_GROUPS | TOKEN_ADJUST_DEFAULT)
#define TOKEN_EXECUTE               (STANDARD_RIGHTS_EXECUTE)

typedef enum _TOKEN_TYPE {
    TokenPrimary = 1,
    TokenImpersonation
} TOKEN_TYPE, *PTOKEN_TYPE;

typedef enum _SECURITY_IMPERSONATION_LEVEL {
    SecurityAnonymous,
    SecurityIdentification,
    SecurityImpersonation,
    SecurityDelegation
} SECURITY_IMPERSONATION_LEVEL, *PSECURITY_IMPERSONATION_LEVEL;

typedef enum _TOKEN_ELEVATION_TYPE {
    TokenElevationTypeDefault = 1,
    TokenElevationTypeFull,
    TokenElevationTypeLimited
} TOKEN_ELEVATION_TYPE, *PTOKEN_ELEVATION_TYPE;

typedef enum _TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenGroups,
    TokenPrivileges,
    TokenOwner,
    TokenPrimaryGroup,
    TokenDefaultDacl,
    TokenSource,
    TokenType,
    TokenImpersonationLevel,
    TokenStatistics,
    TokenRestrictedSids,
    TokenSessionId,
    TokenGroupsAndPrivileges,
    TokenSessionReference,
    TokenSandBoxInert,
    TokenAuditPolicy,
    TokenOrigin,
    TokenElevationType,
    TokenLinkedToken,
    TokenElevation,
    TokenHasRestrictions,
    TokenAccessInformation,
    TokenVirtualizationAllowed,
    TokenVirtualizationEnabled,
    TokenIntegrityLevel,
    TokenUIAccess,
    TokenMandatoryPolicy,
    TokenLogonSid,
    TokenIsAppContainer,
    TokenCapabilities,
    TokenAppContainerSid,
    TokenAppContainerNumber,
    TokenUserClaimAttributes,
    TokenDeviceClaimAttributes,
    TokenRestrictedUserClaimAttributes,
    TokenRestrictedDeviceClaimAttributes,
    TokenDeviceGroups,
    TokenRestrictedDeviceGroups,
    TokenSecurityAttributes,
    TokenIsRestricted,
    TokenProcessTrustLevel,
    TokenPrivateNameSpace,
    TokenSingletonAttributes,
    TokenBnoIsolation,
    TokenChildProcessFlags,
    TokenIsLessPrivilegedAppContainer,
    TokenIsSandboxed,
    TokenIsAppSilo,
    MaxTokenInfoClass
} TOKEN_INFORMATION_CLASS, *PTOKEN_INFORMATION_CLASS;

typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER, *PTOKEN_USER;

typedef struct _TOKEN_LINKED_TOKEN {
    HANDLE LinkedToken;
} TOKEN_LINKED_TOKEN, *PTOKEN_LINKED_TOKEN;

typedef struct _TOKEN_ELEVATION {
    DWORD TokenIsElevated;
} TOKEN_ELEVATION, *PTOKEN_ELEVATION;

typedef struct _TOKEN_MANDATORY_LABEL {
    SID_AND_ATTRIBUTES Label;
} TOKEN_MANDATORY_LABEL, *PTOKEN_MANDATORY_LABEL;

// Integrity levels: the last sub-authority of the S-1-16-... label SID.
#define SECURITY_MANDATORY_UNTRUSTED_RID        (0x00000000)
#define SECURITY_MANDATORY_LOW_RID              (0x00001000)
#define SECURITY_MANDATORY_MEDIUM_RID           (0x00002000)
#define SECURITY_MANDATORY_HIGH_RID             (0x00003000)
#define SECURITY_MANDATORY_SYSTEM_RID           (0x00004000)

// Process mitigation policies (SetProcessMitigationPolicy); only the ones the system sets.
typedef enum _PROCESS_MITIGATION_POLICY {
    ProcessDEPPolicy,
    ProcessASLRPolicy,
    ProcessDynamicCodePolicy,
    ProcessStrictHandleCheckPolicy,
    ProcessSystemCallDisablePolicy,
    ProcessMitigationOptionsMask,
    ProcessExtensionPointDisablePolicy,
    ProcessControlFlowGuardPolicy,
    ProcessSignaturePolicy,
    ProcessFontDisablePolicy,
    ProcessImageLoadPolicy,
    ProcessSystemCallFilterPolicy,
    ProcessPayloadRestrictionPolicy,
    ProcessChildProcessPolicy,
    ProcessSideChannelIsolationPolicy,
    ProcessUserShadowStackPolicy,
    ProcessRedirectionTrustPolicy,
    ProcessUserPointerAuthPolicy,
    ProcessSEHOPPolicy,
    MaxProcessMitigationPolicy
} PROCESS_MITIGATION_POLICY, *PPROCESS_MITIGATION_POLICY;

typedef struct _PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY {
    union {
        DWORD Flags;
        struct {
            DWORD EnforceRedirectionTrust : 1;
            DWORD AuditRedirectionTrust : 1;
            DWORD ReservedFlags : 30;
        };
    };
} PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY, *PPROCESS_MITIGATION_REDIRECTION_TRUST_POLICY;

// Processes.
#define PROCESS_VM_READ                     (0x0010)
#define PROCESS_QUERY_INFORMATION           (0x0400)
#define PROCESS_QUERY_LIMITED_INFORMATION   (0x1000)
#define PROCESS_ALL_ACCESS                  (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFFF)

// Version information.
#define VER_PLATFORM_WIN32_WINDOWS      1
#define VER_PLATFORM_WIN32_NT           2

#define VER_NT_WORKSTATION              0x0000001
#define VER_NT_SERVER                   0x0000003

#define VER_SUITE_ENTERPRISE                0x00000002
#define VER_SUITE_DATACENTER                0x00000080
#define VER_SUITE_SINGLEUSERTS              0x00000100
#define VER_SUITE_PERSONAL                  0x00000200
#define VER_SUITE_BLADE                     0x00000400
#define VER_SUITE_STORAGE_SERVER            0x00002000
#define VER_SUITE_COMPUTE_SERVER            0x00004000
#define VER_SUITE_WH_SERVER                 0x00008000

// VerifyVersionInfoA type bits and VerSetConditionMask conditions.
#define VER_MINORVERSION                0x0000001
#define VER_MAJORVERSION                0x0000002
#define VER_BUILDNUMBER                 0x0000004
#define VER_PLATFORMID                  0x0000008
#define VER_SERVICEPACKMINOR            0x0000010
#define VER_SERVICEPACKMAJOR            0x0000020
#define VER_SUITENAME                   0x0000040
#define VER_PRODUCT_TYPE                0x0000080

#define VER_EQUAL                       1
#define VER_GREATER                     2
#define VER_GREATER_EQUAL               3
#define VER_LESS                        4
#define VER_LESS_EQUAL                  5
#define VER_AND                         6
#define VER_OR                          7
#define VER_CONDITION_MASK              7
#define VER_NUM_BITS_PER_CONDITION_MASK 3

// GetProductInfo editions.
#define PRODUCT_UNDEFINED                       0x00000000
#define PRODUCT_ULTIMATE                        0x00000001
#define PRODUCT_HOME_BASIC                      0x00000002
#define PRODUCT_HOME_PREMIUM                    0x00000003
#define PRODUCT_ENTERPRISE                      0x00000004
#define PRODUCT_BUSINESS                        0x00000006
#define PRODUCT_STANDARD_SERVER                 0x00000007
#define PRODUCT_DATACENTER_SERVER               0x00000008
#define PRODUCT_SMALLBUSINESS_SERVER            0x00000009
#define PRODUCT_ENTERPRISE_SERVER               0x0000000A
#define PRODUCT_STARTER                         0x0000000B
#define PRODUCT_DATACENTER_SERVER_CORE          0x0000000C
#define PRODUCT_STANDARD_SERVER_CORE            0x0000000D
#define PRODUCT_ENTERPRISE_SERVER_CORE          0x0000000E
#define PRODUCT_ENTERPRISE_SERVER_IA64          0x0000000F
#define PRODUCT_WEB_SERVER                      0x00000011
#define PRODUCT_CLUSTER_SERVER                  0x00000012
#define PRODUCT_SMALLBUSINESS_SERVER_PREMIUM    0x00000019
#define PRODUCT_PROFESSIONAL                    0x00000030

// Processor architectures of SYSTEM_INFO.
#define PROCESSOR_ARCHITECTURE_INTEL            0
#define PROCESSOR_ARCHITECTURE_IA64             6
#define PROCESSOR_ARCHITECTURE_AMD64            9
#define PROCESSOR_ARCHITECTURE_ARM64            12

#define PROCESSOR_INTEL_PENTIUM 586
#define PROCESSOR_INTEL_IA64    2200
#define PROCESSOR_AMD_X8664     8664

// Security descriptors and access lists, in Windows' binary layout.
typedef PVOID               PSECURITY_DESCRIPTOR;
typedef DWORD               SECURITY_INFORMATION, *PSECURITY_INFORMATION;
typedef WORD                SECURITY_DESCRIPTOR_CONTROL, *PSECURITY_DESCRIPTOR_CONTROL;
#define OWNER_SECURITY_INFORMATION              (0x00000001)
#define GROUP_SECURITY_INFORMATION              (0x00000002)
#define DACL_SECURITY_INFORMATION               (0x00000004)
#define SACL_SECURITY_INFORMATION               (0x00000008)
#define PROTECTED_DACL_SECURITY_INFORMATION     (0x80000000)
#define UNPROTECTED_DACL_SECURITY_INFORMATION   (0x20000000)
#define SECURITY_DESCRIPTOR_REVISION    (1)
#define SE_DACL_PRESENT                 (0x0004)
#define SE_DACL_AUTO_INHERITED          (0x0400)
#define SE_DACL_PROTECTED               (0x1000)
#define SE_SELF_RELATIVE                (0x8000)
typedef struct _SECURITY_DESCRIPTOR_RELATIVE {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    DWORD Owner;
    DWORD Group;
    DWORD Sacl;
    DWORD Dacl;
} SECURITY_DESCRIPTOR_RELATIVE, *PISECURITY_DESCRIPTOR_RELATIVE;
#define ACL_REVISION                    (2)
#define ACL_REVISION_DS                 (4)
typedef struct _ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
} ACL, *PACL;
typedef struct _ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
} ACE_HEADER, *PACE_HEADER;
#define ACCESS_ALLOWED_ACE_TYPE         (0x0)
#define ACCESS_DENIED_ACE_TYPE          (0x1)
#define OBJECT_INHERIT_ACE              (0x1)
#define CONTAINER_INHERIT_ACE           (0x2)
#define NO_PROPAGATE_INHERIT_ACE        (0x4)
#define INHERIT_ONLY_ACE                (0x8)
#define INHERITED_ACE                   (0x10)
typedef struct _ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    DWORD SidStart;
} ACCESS_ALLOWED_ACE, *PACCESS_ALLOWED_ACE;
typedef struct _ACCESS_DENIED_ACE {
    ACE_HEADER Header;
    ACCESS_MASK Mask;
    DWORD SidStart;
} ACCESS_DENIED_ACE, *PACCESS_DENIED_ACE;
// File and registry key rights, as the access lists of those objects hold them.
#define FILE_READ_DATA                  (0x0001)
#define FILE_LIST_DIRECTORY             (0x0001)
#define FILE_WRITE_DATA                 (0x0002)
#define FILE_ADD_FILE                   (0x0002)
#define FILE_APPEND_DATA                (0x0004)
#define FILE_ADD_SUBDIRECTORY           (0x0004)
#define FILE_READ_EA                    (0x0008)
#define FILE_WRITE_EA                   (0x0010)
#define FILE_EXECUTE                    (0x0020)
#define FILE_DELETE_CHILD               (0x0040)
#define FILE_READ_ATTRIBUTES            (0x0080)
#define FILE_WRITE_ATTRIBUTES           (0x0100)
#define FILE_ALL_ACCESS                 (STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0x1FF)
#define FILE_GENERIC_READ               (STANDARD_RIGHTS_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA | SYNCHRONIZE)
#define FILE_GENERIC_WRITE              (STANDARD_RIGHTS_WRITE | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | FILE_APPEND_DATA | SYNCHRONIZE)
#define FILE_GENERIC_EXECUTE            (STANDARD_RIGHTS_EXECUTE | FILE_READ_ATTRIBUTES | FILE_EXECUTE | SYNCHRONIZE)
#define FILE_ATTRIBUTE_DIRECTORY        0x00000010
#define FILE_ATTRIBUTE_ARCHIVE          0x00000020
#define FILE_ATTRIBUTE_NORMAL           0x00000080
#define FILE_ATTRIBUTE_REPARSE_POINT    0x00000400
#define IO_REPARSE_TAG_MOUNT_POINT      (0xA0000003)
#define IO_REPARSE_TAG_SYMLINK          (0xA000000C)
#define IO_REPARSE_TAG_DEDUP            (0x80000013)
#define IO_REPARSE_TAG_WOF              (0x80000017)
#define IO_REPARSE_TAG_CLOUD            (0x9000001A)
#define IO_REPARSE_TAG_APPEXECLINK      (0x8000001B)
#define IsReparseTagNameSurrogate(_tag) (((_tag) & 0x20000000))
// clang-format on

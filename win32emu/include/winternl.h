#pragma once

// Emulated Windows SDK: winternl.h, the native calls of ntdll that the system makes: opening a
// file relative to a folder's handle and asking a file for its names. They return an NTSTATUS
// and leave the last error alone.

#include <windows.h>

// clang-format off
typedef LONG NTSTATUS;
#define NT_SUCCESS(status) ((NTSTATUS)(status) >= 0)

typedef struct _UNICODE_STRING {
    USHORT Length;         // bytes, without a terminating zero
    USHORT MaximumLength;  // bytes
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;

typedef struct _OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

#define OBJ_CASE_INSENSITIVE            0x00000040L

typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

// NtCreateFile's dispositions, options and results.
#define FILE_OPEN                       0x00000001
#define FILE_DIRECTORY_FILE             0x00000001
#define FILE_SYNCHRONOUS_IO_NONALERT    0x00000020
#define FILE_NON_DIRECTORY_FILE         0x00000040
#define FILE_OPEN_FOR_BACKUP_INTENT     0x00004000
#define FILE_OPEN_REPARSE_POINT         0x00200000
#define FILE_OPENED                     0x00000001

typedef enum _FILE_INFORMATION_CLASS {
    FileDirectoryInformation = 1,
    FileHardLinkInformation = 46
} FILE_INFORMATION_CLASS;
// clang-format on

extern "C" {

NTSTATUS NTAPI NtCreateFile(PHANDLE FileHandle,
                            ACCESS_MASK DesiredAccess,
                            POBJECT_ATTRIBUTES ObjectAttributes,
                            PIO_STATUS_BLOCK IoStatusBlock,
                            PLARGE_INTEGER AllocationSize,
                            ULONG FileAttributes,
                            ULONG ShareAccess,
                            ULONG CreateDisposition,
                            ULONG CreateOptions,
                            PVOID EaBuffer,
                            ULONG EaLength);
NTSTATUS NTAPI NtQueryInformationFile(HANDLE hFile,
                                      PIO_STATUS_BLOCK io,
                                      PVOID ptr,
                                      ULONG len,
                                      FILE_INFORMATION_CLASS FileInformationClass);
ULONG NTAPI RtlNtStatusToDosError(NTSTATUS Status);

}  // extern "C"

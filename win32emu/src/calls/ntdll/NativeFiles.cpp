// The native file calls of ntdll: NtCreateFile (opening an existing file or folder, by its full
// name or relative to a folder's handle), NtQueryInformationFile (a file's names) and
// RtlNtStatusToDosError. The native calls return an NTSTATUS and leave the last error alone.

#include "machine/AccessControl.h"
#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"

#include <Poco/UTF8String.h>

#include <cstring>
#include <winternl.h>

using namespace Win32Emu;

namespace {

// clang-format off
constexpr NTSTATUS StatusSuccess            = 0x00000000;
constexpr NTSTATUS StatusBufferOverflow     = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS StatusNotImplemented     = static_cast<NTSTATUS>(0xC0000002);
constexpr NTSTATUS StatusInvalidInfoClass   = static_cast<NTSTATUS>(0xC0000003);
constexpr NTSTATUS StatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS StatusInvalidHandle      = static_cast<NTSTATUS>(0xC0000008);
constexpr NTSTATUS StatusInvalidParameter   = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS StatusAccessDenied       = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS StatusObjectNameInvalid  = static_cast<NTSTATUS>(0xC0000033);
constexpr NTSTATUS StatusObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS StatusObjectPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS StatusObjectPathSyntaxBad = static_cast<NTSTATUS>(0xC000003B);
constexpr NTSTATUS StatusSharingViolation   = static_cast<NTSTATUS>(0xC0000043);
constexpr NTSTATUS StatusFileIsADirectory   = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS StatusNotADirectory      = static_cast<NTSTATUS>(0xC0000103);

constexpr ACCESS_MASK ModelledAccess = READ_CONTROL | WRITE_DAC | WRITE_OWNER | DELETE |
                                       SYNCHRONIZE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY;
constexpr ULONG ModelledOptions = FILE_DIRECTORY_FILE | FILE_NON_DIRECTORY_FILE |
                                  FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT |
                                  FILE_OPEN_REPARSE_POINT;
// clang-format on

struct StatusMapping {
    NTSTATUS status;
    DWORD error;
};

// clang-format off
const StatusMapping statusMappings[] = {
    {StatusSuccess,             ERROR_SUCCESS},
    {StatusBufferOverflow,      ERROR_MORE_DATA},
    {StatusNotImplemented,      ERROR_INVALID_FUNCTION},
    {StatusInvalidInfoClass,    ERROR_INVALID_PARAMETER},
    {StatusInfoLengthMismatch,  ERROR_BAD_LENGTH},
    {StatusInvalidHandle,       ERROR_INVALID_HANDLE},
    {StatusInvalidParameter,    ERROR_INVALID_PARAMETER},
    {StatusAccessDenied,        ERROR_ACCESS_DENIED},
    {StatusObjectNameInvalid,   ERROR_INVALID_NAME},
    {StatusObjectNameNotFound,  ERROR_FILE_NOT_FOUND},
    {StatusObjectPathNotFound,  ERROR_PATH_NOT_FOUND},
    {StatusObjectPathSyntaxBad, ERROR_BAD_PATHNAME},
    {StatusSharingViolation,    ERROR_SHARING_VIOLATION},
    {StatusFileIsADirectory,    ERROR_ACCESS_DENIED},
    {StatusNotADirectory,       ERROR_DIRECTORY},
};
// clang-format on

NTSTATUS statusOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return StatusObjectNameNotFound;
        case ERROR_PATH_NOT_FOUND:
            return StatusObjectPathNotFound;
        case ERROR_INVALID_NAME:
            return StatusObjectNameInvalid;
        default:
            return StatusInvalidParameter;
    }
}

// FILE_LINKS_INFORMATION and its entries, as ntifs.h lays them out.
struct LinkEntryLayout {
    ULONG NextEntryOffset;
    LONGLONG ParentFileId;
    ULONG FileNameLength;  // characters
    WCHAR FileName[1];
};
struct LinksLayout {
    ULONG BytesNeeded;
    ULONG EntriesReturned;
    LinkEntryLayout Entry;
};

}  // namespace

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
                            ULONG EaLength) {
    static_cast<void>(AllocationSize);
    static_cast<void>(FileAttributes);
    const bool named = ObjectAttributes != nullptr && ObjectAttributes->ObjectName != nullptr &&
                       ObjectAttributes->ObjectName->Buffer != nullptr;
    const std::wstring wideName =
        named ? std::wstring(ObjectAttributes->ObjectName->Buffer,
                             ObjectAttributes->ObjectName->Length / sizeof(WCHAR))
              : std::wstring();
    const std::string name = ToUtf8(wideName);
    if (const std::optional<DWORD> error = InjectedError("NtCreateFile", name)) {
        return static_cast<NTSTATUS>(*error);
    }
    if (FileHandle == nullptr || IoStatusBlock == nullptr || !named ||
        (ObjectAttributes->ObjectName->Length % sizeof(WCHAR)) != 0) {
        return StatusInvalidParameter;
    }
    // Only opening what exists is emulated: no creating, no extended attributes.
    if (CreateDisposition != FILE_OPEN || (CreateOptions & ~ModelledOptions) != 0 ||
        (DesiredAccess & ~ModelledAccess) != 0 || EaBuffer != nullptr || EaLength != 0 ||
        ObjectAttributes->SecurityDescriptor != nullptr) {
        return StatusNotImplemented;
    }
    if ((CreateOptions & FILE_DIRECTORY_FILE) != 0 &&
        (CreateOptions & FILE_NON_DIRECTORY_FILE) != 0) {
        return StatusInvalidParameter;
    }
    std::string fullPath;
    size_t held = 0;
    if (ObjectAttributes->RootDirectory != nullptr) {
        // Relative to the folder the handle holds, wherever its name now leads.
        const auto root = Model().handles.findAs<FileObject>(ObjectAttributes->RootDirectory);
        if (!root) {
            return StatusInvalidHandle;
        }
        if (!name.empty() && (name[0] == '\\' || name[0] == '/')) {
            return StatusObjectPathSyntaxBad;
        }
        if (!root->directory) {
            return StatusInvalidParameter;
        }
        const std::string folder = DrivePathOf(root->components);
        held = root->components.size();
        fullPath =
            name.empty() ? folder : folder + (root->components.size() > 1 ? "\\" : "") + name;
    } else {
        // "\??\C:\..." is the one absolute form emulated.
        if (name.compare(0, 4, "\\??\\") != 0) {
            return name.empty() || name[0] != '\\' ? StatusObjectPathSyntaxBad
                                                   : StatusNotImplemented;
        }
        fullPath = name.substr(4);
    }
    if (!SplitDrivePath(fullPath)) {
        return StatusObjectNameInvalid;
    }
    const bool openLink = (CreateOptions & FILE_OPEN_REPARSE_POINT) != 0;
    const SecurableObject object = Model().security.resolveFile(fullPath, !openLink, held);
    if (object.error != ERROR_SUCCESS) {
        return statusOf(object.error);
    }
    const DWORD tag = openLink ? Model().security.reparseTag(fullPath, held) : 0;
    const bool link = IsReparseTagNameSurrogate(tag);
    const std::string resolved = DrivePathOf(object.components);
    const PathLookup lookup =
        link ? PathLookup{PathKind::Directory, FileEntry()} : LookUpPath(resolved);
    const bool directory = lookup.kind == PathKind::Directory;
    if ((CreateOptions & FILE_DIRECTORY_FILE) != 0 && !directory) {
        return StatusNotADirectory;
    }
    if ((CreateOptions & FILE_NON_DIRECTORY_FILE) != 0 && directory) {
        return StatusFileIsADirectory;
    }
    const bool denied = (lookup.marks.unreadable && (DesiredAccess & FILE_READ_DATA) != 0) ||
                        ((DesiredAccess & READ_CONTROL) != 0 && !CallerMay(object, READ_CONTROL)) ||
                        ((DesiredAccess & WRITE_DAC) != 0 && !CallerMay(object, WRITE_DAC)) ||
                        ((DesiredAccess & WRITE_OWNER) != 0 && !CallerMay(object, WRITE_OWNER));
    if (denied) {
        return StatusAccessDenied;
    }
    const std::string key = PathKey(resolved);
    const ACCESS_MASK data = directory ? 0 : DesiredAccess & FILE_READ_DATA;
    if ((data != 0 && lookup.marks.heldOpen) ||
        SharingConflict(key, data | (DesiredAccess & DELETE), ShareAccess)) {
        return StatusSharingViolation;
    }
    auto file = std::make_shared<FileObject>(
        key, ShareAccess & (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    file->components = object.components;
    file->finalPath = SpelledPath(object.components, std::string());
    file->directory = directory;
    file->reparseTag = tag;
    file->marks = lookup.marks;
    *FileHandle = Model().handles.insert(file, "NtCreateFile", DesiredAccess & ModelledAccess);
    IoStatusBlock->Status = StatusSuccess;
    IoStatusBlock->Information = FILE_OPENED;
    return StatusSuccess;
}

NTSTATUS NTAPI NtQueryInformationFile(HANDLE hFile,
                                      PIO_STATUS_BLOCK io,
                                      PVOID ptr,
                                      ULONG len,
                                      FILE_INFORMATION_CLASS FileInformationClass) {
    if (const std::optional<DWORD> error =
            InjectedError("NtQueryInformationFile",
                          std::to_string(static_cast<int>(FileInformationClass)),
                          HandleTypeName(hFile))) {
        return static_cast<NTSTATUS>(*error);
    }
    const auto file = Model().handles.findAs<FileObject>(hFile);
    if (!file) {
        return StatusInvalidHandle;
    }
    if (FileInformationClass != FileHardLinkInformation) {
        return StatusInvalidInfoClass;
    }
    if (io == nullptr || ptr == nullptr || len < sizeof(LinksLayout)) {
        return StatusInfoLengthMismatch;
    }
    // Every name of the file: its first, then the others, each as its folder's id and its name.
    std::vector<std::string> names{SpelledPath(file->components, std::string())};
    if (!file->directory) {
        for (const std::string& other : Model().security.otherNames(file->components)) {
            names.push_back(other);
        }
    }
    std::vector<std::pair<LONGLONG, std::wstring>> entries;
    for (const std::string& path : names) {
        std::vector<std::string> folder = *SplitDrivePath(path);
        folder.pop_back();
        entries.emplace_back(Model().security.fileId(folder),
                             ToWide(path.substr(path.find_last_of('\\') + 1)));
    }
    ULONG needed = offsetof(LinksLayout, Entry);
    std::vector<ULONG> sizes;
    for (const auto& entry : entries) {
        // Each entry starts on an 8-byte boundary.
        const ULONG size = static_cast<ULONG>(offsetof(LinkEntryLayout, FileName) +
                                              entry.second.size() * sizeof(WCHAR));
        sizes.push_back((size + 7) & ~7u);
        needed += sizes.back();
    }
    auto* links = static_cast<LinksLayout*>(ptr);
    links->BytesNeeded = needed;
    links->EntriesReturned = 0;
    // As many entries as fit; short of all of them, STATUS_BUFFER_OVERFLOW.
    auto* base = static_cast<BYTE*>(ptr);
    ULONG start = offsetof(LinksLayout, Entry);
    ULONG end = start;
    ULONG previous = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const ULONG size = static_cast<ULONG>(offsetof(LinkEntryLayout, FileName) +
                                              entries[i].second.size() * sizeof(WCHAR));
        if (start + size > len) {
            break;
        }
        if (i > 0) {
            const ULONG offset = start - previous;
            std::memcpy(base + previous + offsetof(LinkEntryLayout, NextEntryOffset),
                        &offset,
                        sizeof(offset));
        }
        LinkEntryLayout entry = {};
        entry.ParentFileId = entries[i].first;
        entry.FileNameLength = static_cast<ULONG>(entries[i].second.size());
        std::memcpy(base + start, &entry, offsetof(LinkEntryLayout, FileName));
        std::memcpy(base + start + offsetof(LinkEntryLayout, FileName),
                    entries[i].second.data(),
                    entries[i].second.size() * sizeof(WCHAR));
        ++links->EntriesReturned;
        previous = start;
        end = start + size;
        start += sizes[i];
    }
    const NTSTATUS status =
        links->EntriesReturned == entries.size() ? StatusSuccess : StatusBufferOverflow;
    io->Status = status;
    io->Information = end;
    return status;
}

ULONG NTAPI RtlNtStatusToDosError(NTSTATUS Status) {
    for (const StatusMapping& mapping : statusMappings) {
        if (mapping.status == Status) {
            return mapping.error;
        }
    }
    // As Windows answers a code it has no mapping for.
    return ERROR_MR_MID_NOT_FOUND;
}

}  // extern "C"

// Opening files: CreateFileW, for reading an existing file or its security, and directories.

#include "machine/AccessControl.h"
#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"

using namespace Win32Emu;

namespace {

// clang-format off
constexpr DWORD FileReadData       = 0x0001;
constexpr DWORD FileReadEa         = 0x0008;
constexpr DWORD FileReadAttributes = 0x0080;
constexpr DWORD FileGenericRead    = STANDARD_RIGHTS_READ | FileReadData | FileReadAttributes |
                                     FileReadEa | SYNCHRONIZE;
constexpr DWORD ModelledAccess = GENERIC_READ | READ_CONTROL | WRITE_DAC | WRITE_OWNER |
                                 FileReadAttributes | FILE_LIST_DIRECTORY | SYNCHRONIZE;
constexpr DWORD ModelledFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS |
                                FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT |
                                SECURITY_IDENTIFICATION;
// clang-format on

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName,
                          DWORD dwDesiredAccess,
                          DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                          DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes,
                          HANDLE hTemplateFile) {
    const std::string name = ToUtf8(lpFileName);
    if (InjectedFailure("CreateFileW", name)) {
        return INVALID_HANDLE_VALUE;
    }
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Only opening what exists is emulated: no writing, creating, templates or descriptors.
    if (dwCreationDisposition != OPEN_EXISTING || (dwDesiredAccess & ~ModelledAccess) != 0 ||
        hTemplateFile != nullptr ||
        (lpSecurityAttributes != nullptr &&
         lpSecurityAttributes->lpSecurityDescriptor != nullptr) ||
        (dwFlagsAndAttributes & ~ModelledFlags) != 0) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    // Windows cannot make an NT path of an empty name (or of none).
    if (name.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::optional<std::string> fullPath = FullWindowsPath(name);
    if (!fullPath) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    // Links on the way are followed; the last one too, unless the link itself is asked for.
    const bool openLink = (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    const SecurableObject object = Model().security.resolveFile(*fullPath, !openLink);
    if (object.error != ERROR_SUCCESS) {
        SetLastError(object.error);
        return INVALID_HANDLE_VALUE;
    }
    // Not redirected: the path as given names the object, in the caller's spelling.
    const bool asGiven = SplitDrivePath(*fullPath) == object.components;
    const std::string resolved = asGiven ? *fullPath : DrivePathOf(object.components);
    const DWORD tag = openLink ? Model().security.reparseTag(*fullPath) : 0;
    const PathLookup lookup = IsReparseTagNameSurrogate(tag)
                                  ? PathLookup{PathKind::Directory, FileEntry()}
                                  : LookUpPath(resolved);
    if (lookup.kind == PathKind::Directory &&
        (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
        // A directory opens only with FILE_FLAG_BACKUP_SEMANTICS.
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // Access is checked before sharing, as Windows does.
    const bool denied =
        (lookup.marks.unreadable && (dwDesiredAccess & GENERIC_READ) != 0) ||
        ((dwDesiredAccess & READ_CONTROL) != 0 && !CallerMay(object, READ_CONTROL)) ||
        ((dwDesiredAccess & WRITE_DAC) != 0 && !CallerMay(object, WRITE_DAC)) ||
        ((dwDesiredAccess & WRITE_OWNER) != 0 && !CallerMay(object, WRITE_OWNER));
    if (denied) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const std::string key = PathKey(resolved);
    // Sharing governs access to the data; an open that asks for none is not refused.
    const bool readsData = (dwDesiredAccess & GENERIC_READ) != 0;
    if (readsData && (lookup.marks.heldOpen || SharingConflict(key, FILE_READ_DATA, dwShareMode))) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<FileObject>(key, dwShareMode & 7);
    file->components = object.components;
    file->finalPath = SpelledPath(object.components, asGiven ? *fullPath : std::string());
    file->directory = lookup.kind == PathKind::Directory;
    file->reparseTag = tag;
    file->marks = lookup.marks;
    const DWORD granted = (readsData ? FileGenericRead : 0) |
                          (dwDesiredAccess & (READ_CONTROL | WRITE_DAC | WRITE_OWNER |
                                              FILE_READ_ATTRIBUTES | SYNCHRONIZE)) |
                          (file->directory ? dwDesiredAccess & FILE_LIST_DIRECTORY : 0);
    return Model().handles.insert(file, "CreateFileW", granted);
}

}  // extern "C"

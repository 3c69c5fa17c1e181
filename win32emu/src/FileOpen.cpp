// Opening files: CreateFileW, for reading an existing file.

#include "ApiSupport.h"
#include "FileSystem.h"
#include "MachineModel.h"

using namespace Win32Emu;

namespace {

// clang-format off
constexpr DWORD FileReadData       = 0x0001;
constexpr DWORD FileReadEa         = 0x0008;
constexpr DWORD FileReadAttributes = 0x0080;
constexpr DWORD FileGenericRead    = STANDARD_RIGHTS_READ | FileReadData | FileReadAttributes |
                                     FileReadEa | SYNCHRONIZE;
// clang-format on

// Whether an open handle to the same file keeps this open out: either side refusing to share
// what the other does. Only readers exist here, so reading is all there is to share.
bool sharingConflict(const std::string& key, DWORD shareMode) {
    for (const auto& open : Model().handles.entries()) {
        const auto file = std::dynamic_pointer_cast<FileObject>(open.second.object);
        if (file && file->key == key &&
            ((shareMode & FILE_SHARE_READ) == 0 || (file->shareMode & FILE_SHARE_READ) == 0)) {
            return true;
        }
    }
    return false;
}

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
    // Only reading what exists is emulated: no writing, creating, templates or descriptors.
    if (dwCreationDisposition != OPEN_EXISTING || (dwDesiredAccess & ~GENERIC_READ) != 0 ||
        hTemplateFile != nullptr ||
        (lpSecurityAttributes != nullptr &&
         lpSecurityAttributes->lpSecurityDescriptor != nullptr) ||
        (dwFlagsAndAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) != 0) {
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
    const PathLookup lookup = LookUpPath(*fullPath);
    switch (lookup.kind) {
        case PathKind::Missing:
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        case PathKind::MissingFolder:
            SetLastError(ERROR_PATH_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        case PathKind::Directory:
            // A directory opens only with FILE_FLAG_BACKUP_SEMANTICS.
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        case PathKind::File:
            break;
    }
    // Access is checked before sharing, as Windows does.
    if (lookup.marks.unreadable && (dwDesiredAccess & GENERIC_READ) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const std::string key = PathKey(*fullPath);
    // Sharing governs access to the data; an open that asks for none is not refused.
    if (dwDesiredAccess != 0 && (lookup.marks.heldOpen || sharingConflict(key, dwShareMode))) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD granted = (dwDesiredAccess & GENERIC_READ) != 0 ? FileGenericRead : 0;
    return Model().handles.insert(
        std::make_shared<FileObject>(key, dwShareMode & 7), "CreateFileW", granted);
}

}  // extern "C"

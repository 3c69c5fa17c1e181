// Opening a file or folder by its id on the volume: OpenFileById, for its attributes only.

#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"

using namespace Win32Emu;

extern "C" {

HANDLE WINAPI OpenFileById(HANDLE hVolumeHint,
                           LPFILE_ID_DESCRIPTOR lpFileId,
                           DWORD dwDesiredAccess,
                           DWORD dwShareMode,
                           LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                           DWORD dwFlagsAndAttributes) {
    static_cast<void>(lpSecurityAttributes);
    if (InjectedFailure("OpenFileById", std::string(), HandleTypeName(hVolumeHint))) {
        return INVALID_HANDLE_VALUE;
    }
    const auto hint = Model().handles.findAs<FileObject>(hVolumeHint);
    if (!hint) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    if (lpFileId == nullptr || lpFileId->dwSize < sizeof(FILE_ID_DESCRIPTOR) ||
        lpFileId->Type != FileIdType) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Only asking what an object is emulated: its attributes, no data, no security.
    if ((dwDesiredAccess & ~static_cast<DWORD>(FILE_READ_ATTRIBUTES | SYNCHRONIZE)) != 0 ||
        (dwFlagsAndAttributes & ~static_cast<DWORD>(FILE_FLAG_BACKUP_SEMANTICS)) != 0) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return INVALID_HANDLE_VALUE;
    }
    const std::optional<std::vector<std::string>> path =
        Model().security.pathOfId(lpFileId->FileId.QuadPart);
    // Ids are per volume: the hint's drive.
    if (!path || path->front() != hint->components.front()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const SecurableObject object = Model().security.resolveFile(DrivePathOf(*path), false);
    if (object.error != ERROR_SUCCESS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (object.container && (dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    auto file =
        std::make_shared<FileObject>(PathKey(DrivePathOf(object.components)), dwShareMode & 7);
    file->components = object.components;
    file->finalPath = SpelledPath(object.components, std::string());
    file->directory = object.container;
    return Model().handles.insert(file, "OpenFileById", dwDesiredAccess);
}

}  // extern "C"

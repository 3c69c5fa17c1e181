// File attributes: GetFileAttributesW, for the reparse points.

#include "machine/AccessControl.h"
#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"

using namespace Win32Emu;

extern "C" {

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    const std::string name = ToUtf8(lpFileName);
    if (InjectedFailure("GetFileAttributesW", name)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD error = ERROR_SUCCESS;
    const std::optional<std::string> path =
        lpFileName == nullptr ? std::nullopt : AbsoluteFilePath(name, error);
    if (!path) {
        SetLastError(lpFileName == nullptr ? ERROR_INVALID_PARAMETER : error);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (Model().security.reparseTag(*path) != 0) {
        return FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    }
    const SecurableObject object = Model().security.resolveFile(*path);
    if (object.error != ERROR_SUCCESS) {
        SetLastError(object.error);
        return INVALID_FILE_ATTRIBUTES;
    }
    return object.container ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

}  // extern "C"

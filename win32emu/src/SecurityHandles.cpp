// The access list of an object held by a handle: GetSecurityInfo, SetSecurityInfo. Only file
// and directory handles are emulated. They return their error code, as Windows does.

#include "ApiSupport.h"
#include "FileSystem.h"
#include "MachineModel.h"
#include "SecurityCalls.h"

#include <aclapi.h>

using namespace Win32Emu;

namespace {

// The object behind a file handle and the access the handle was opened with.
DWORD fileObjectOf(HANDLE handle,
                   SE_OBJECT_TYPE type,
                   SecurableObject& object,
                   ACCESS_MASK& access,
                   std::string& name) {
    const std::optional<HandleEntry> entry = Model().handles.entry(handle);
    const auto file = entry ? std::dynamic_pointer_cast<FileObject>(entry->object) : nullptr;
    if (!file) {
        return ERROR_INVALID_HANDLE;
    }
    if (type != SE_FILE_OBJECT) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    object.components = file->components;
    object.container = file->directory;
    access = entry->access;
    name = file->finalPath;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

DWORD WINAPI GetSecurityInfo(HANDLE handle,
                             SE_OBJECT_TYPE ObjectType,
                             SECURITY_INFORMATION SecurityInfo,
                             PSID* ppsidOwner,
                             PSID* ppsidGroup,
                             PACL* ppDacl,
                             PACL* ppSacl,
                             PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    if (const std::optional<DWORD> error =
            InjectedError("GetSecurityInfo", std::string(), HandleTypeName(handle))) {
        return *error;
    }
    SecurableObject object;
    ACCESS_MASK access = 0;
    std::string name;
    if (const DWORD error = fileObjectOf(handle, ObjectType, object, access, name)) {
        return error;
    }
    if ((ppsidOwner || ppsidGroup || ppDacl || ppSacl) && ppSecurityDescriptor == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((SecurityInfo & SACL_SECURITY_INFORMATION) != 0) {
        return ERROR_PRIVILEGE_NOT_HELD;
    }
    // The handle's own access decides, not the object's list now.
    if ((access & READ_CONTROL) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    return ReadSecurity(object,
                        SecurityInfo,
                        ppsidOwner,
                        ppsidGroup,
                        ppDacl,
                        ppSacl,
                        ppSecurityDescriptor,
                        "GetSecurityInfo");
}

DWORD WINAPI SetSecurityInfo(HANDLE handle,
                             SE_OBJECT_TYPE ObjectType,
                             SECURITY_INFORMATION SecurityInfo,
                             PSID psidOwner,
                             PSID psidGroup,
                             PACL pDacl,
                             PACL pSacl) {
    static_cast<void>(pSacl);
    if (const std::optional<DWORD> error =
            InjectedError("SetSecurityInfo", std::string(), HandleTypeName(handle))) {
        return *error;
    }
    SecurableObject object;
    ACCESS_MASK access = 0;
    std::string name;
    if (const DWORD error = fileObjectOf(handle, ObjectType, object, access, name)) {
        return error;
    }
    std::vector<AccessEntry> given;
    if (const DWORD error =
            CheckSecurityToWrite(SecurityInfo, psidOwner, psidGroup, pDacl, given)) {
        return error;
    }
    const bool withDacl = (SecurityInfo & DACL_SECURITY_INFORMATION) != 0;
    const bool withOwnerOrGroup =
        (SecurityInfo & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) != 0;
    if ((withDacl && (access & WRITE_DAC) == 0) ||
        (withOwnerOrGroup && (access & WRITE_OWNER) == 0)) {
        return ERROR_ACCESS_DENIED;
    }
    return WriteSecurity(object, name, SecurityInfo, psidOwner, psidGroup, given);
}

}  // extern "C"

// The security of an object held by a handle: GetSecurityInfo, SetSecurityInfo (which
// propagates what a folder's list gives to everything below it), SetKernelObjectSecurity and
// RegSetKeySecurity (which write that object's alone), and GetSecurityDescriptorControl. Files,
// directories and (for all but SetSecurityInfo) registry keys are emulated. The advapi calls
// return their error code, as Windows does; SetKernelObjectSecurity sets the last error.

#include "machine/AccessControl.h"
#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"
#include "machine/RegistryKeyObject.h"

#include <aclapi.h>

using namespace Win32Emu;

namespace {

bool isKeyType(SE_OBJECT_TYPE type) {
    return type == SE_REGISTRY_KEY || type == SE_REGISTRY_WOW64_32KEY ||
           type == SE_REGISTRY_WOW64_64KEY;
}

// The object behind an open key handle and the access it was opened with.
DWORD keyObjectOf(HANDLE handle, SecurableObject& object, ACCESS_MASK& access, std::string& name) {
    const auto key = Model().handles.findAs<RegistryKeyObject>(handle);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    object.isKey = true;
    object.key = key->key;
    access = key->access;
    name = key->path;
    return ERROR_SUCCESS;
}

// The object behind a file handle (or a key handle, where `keys`) and the access the handle
// was opened with.
DWORD fileObjectOf(HANDLE handle,
                   SE_OBJECT_TYPE type,
                   SecurableObject& object,
                   ACCESS_MASK& access,
                   std::string& name,
                   bool keys = false) {
    if (keys && isKeyType(type)) {
        return keyObjectOf(handle, object, access, name);
    }
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
    if (const DWORD error = fileObjectOf(handle, ObjectType, object, access, name, true)) {
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

BOOL WINAPI SetKernelObjectSecurity(HANDLE Handle,
                                    SECURITY_INFORMATION SecurityInformation,
                                    PSECURITY_DESCRIPTOR SecurityDescriptor) {
    // The principal argument is the path of the object the handle holds.
    SecurableObject object;
    ACCESS_MASK access = 0;
    std::string name;
    const bool isKey = Model().handles.findAs<RegistryKeyObject>(Handle) != nullptr;
    const DWORD found = isKey ? keyObjectOf(Handle, object, access, name)
                              : fileObjectOf(Handle, SE_FILE_OBJECT, object, access, name);
    if (InjectedFailure("SetKernelObjectSecurity", name, HandleTypeName(Handle))) {
        return FALSE;
    }
    if (found != ERROR_SUCCESS) {
        SetLastError(found);
        return FALSE;
    }
    GivenSecurity given;
    if (const DWORD error = ParseSelfRelative(SecurityDescriptor, given)) {
        SetLastError(error);
        return FALSE;
    }
    const bool withDacl = (SecurityInformation & DACL_SECURITY_INFORMATION) != 0;
    const bool withOwnerOrGroup =
        (SecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) != 0;
    if ((withDacl && (access & WRITE_DAC) == 0) ||
        (withOwnerOrGroup && (access & WRITE_OWNER) == 0)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (const DWORD error = WriteObjectSecurity(object, name, SecurityInformation, given)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

LSTATUS WINAPI RegSetKeySecurity(HKEY hKey,
                                 SECURITY_INFORMATION SecurityInformation,
                                 PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    SecurableObject object;
    ACCESS_MASK access = 0;
    std::string name;
    const DWORD found = keyObjectOf(hKey, object, access, name);
    if (const std::optional<DWORD> error = InjectedError("RegSetKeySecurity", name)) {
        return static_cast<LSTATUS>(*error);
    }
    if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_USERS) {
        // The hives' roots are not written here.
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    if (found != ERROR_SUCCESS) {
        return static_cast<LSTATUS>(found);
    }
    GivenSecurity given;
    if (const DWORD error = ParseSelfRelative(pSecurityDescriptor, given)) {
        return static_cast<LSTATUS>(error);
    }
    const bool withDacl = (SecurityInformation & DACL_SECURITY_INFORMATION) != 0;
    const bool withOwnerOrGroup =
        (SecurityInformation & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) != 0;
    if ((withDacl && (access & WRITE_DAC) == 0) ||
        (withOwnerOrGroup && (access & WRITE_OWNER) == 0)) {
        return ERROR_ACCESS_DENIED;
    }
    return static_cast<LSTATUS>(WriteObjectSecurity(object, name, SecurityInformation, given));
}

VOID WINAPI MapGenericMask(PDWORD AccessMask, PGENERIC_MAPPING GenericMapping) {
    const DWORD mask = *AccessMask;
    if ((mask & GENERIC_READ) != 0) {
        *AccessMask |= GenericMapping->GenericRead;
    }
    if ((mask & GENERIC_WRITE) != 0) {
        *AccessMask |= GenericMapping->GenericWrite;
    }
    if ((mask & GENERIC_EXECUTE) != 0) {
        *AccessMask |= GenericMapping->GenericExecute;
    }
    if ((mask & GENERIC_ALL) != 0) {
        *AccessMask |= GenericMapping->GenericAll;
    }
    *AccessMask &=
        ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         PSECURITY_DESCRIPTOR_CONTROL pControl,
                                         LPDWORD lpdwRevision) {
    if (pSecurityDescriptor == nullptr || pControl == nullptr || lpdwRevision == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* header = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(pSecurityDescriptor);
    *lpdwRevision = header->Revision;
    if (header->Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    *pControl = header->Control;
    return TRUE;
}

}  // extern "C"

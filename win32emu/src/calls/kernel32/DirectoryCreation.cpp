// Creating folders: CreateDirectoryW, with the security descriptor it may be given.

#include "machine/AccessControl.h"
#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"
#include "machine/SidText.h"

using namespace Win32Emu;

namespace {

// What a self-relative descriptor sets on a new folder: its owner and group when given, and its
// DACL (with whether it is protected) when present. Absolute descriptors and null DACLs are not
// emulated.
DWORD securityFromDescriptor(const SECURITY_DESCRIPTOR_RELATIVE* descriptor,
                             ObjectSecurity& security) {
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    if ((descriptor->Control & SE_SELF_RELATIVE) == 0) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    const BYTE* base = reinterpret_cast<const BYTE*>(descriptor);
    if (descriptor->Owner != 0) {
        if (!IsValidSidLayout(base + descriptor->Owner)) {
            return ERROR_INVALID_SECURITY_DESCR;
        }
        security.owner = SidToText(reinterpret_cast<const SID*>(base + descriptor->Owner));
    }
    if (descriptor->Group != 0) {
        if (!IsValidSidLayout(base + descriptor->Group)) {
            return ERROR_INVALID_SECURITY_DESCR;
        }
        security.group = SidToText(reinterpret_cast<const SID*>(base + descriptor->Group));
    }
    if ((descriptor->Control & SE_DACL_PRESENT) != 0) {
        if (descriptor->Dacl == 0) {
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
        std::vector<AccessEntry> entries;
        if (const DWORD error =
                EntriesOfAcl(reinterpret_cast<const ACL*>(base + descriptor->Dacl), entries)) {
            return error;
        }
        for (AccessEntry& entry : entries) {
            entry.mask = MapGenericRights(entry.mask, false);
        }
        security.explicitEntries = entries;
        security.hasEntries = true;
        security.isProtected = (descriptor->Control & SE_DACL_PROTECTED) != 0;
    }
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    const std::string name = ToUtf8(lpPathName);
    if (InjectedFailure("CreateDirectoryW", name)) {
        return FALSE;
    }
    if (name.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const std::optional<std::string> fullPath = FullWindowsPath(name);
    const std::optional<std::vector<std::string>> given =
        fullPath ? SplitDrivePath(*fullPath) : std::nullopt;
    if (!given || given->size() < 2) {
        // UNC, device and drive-relative names, and a drive's root, are not emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    ObjectSecurity security;
    const bool withDescriptor =
        lpSecurityAttributes != nullptr && lpSecurityAttributes->lpSecurityDescriptor != nullptr;
    if (withDescriptor) {
        if (const DWORD error =
                securityFromDescriptor(static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(
                                           lpSecurityAttributes->lpSecurityDescriptor),
                                       security)) {
            SetLastError(error);
            return FALSE;
        }
    }
    if (const DWORD error = CreateFolder(*fullPath, withDescriptor ? &security : nullptr)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"

// Creating folders: CreateDirectoryW, with the security descriptor it may be given, and the
// folders SHGetFolderPathW is asked to create.

#include "machine/AccessControl.h"
#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"
#include "machine/SidText.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/String.h>

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

// A new folder at a full path (FullWindowsPath), as CreateDirectoryW makes it: the folders on
// the way followed, the name itself never; with `security` its owner, group and list, else what
// it inherits.
DWORD createFolder(const std::string& fullPath, const ObjectSecurity* security) {
    const std::optional<std::vector<std::string>> given = SplitDrivePath(fullPath);
    if (!given || given->size() < 2) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    // The name itself is never followed: a link (or anything) there already exists.
    const SecurableObject existing = Model().security.resolveFile(fullPath, false);
    if (existing.error == ERROR_SUCCESS) {
        return ERROR_ALREADY_EXISTS;
    }
    // The folders on the way are, links included.
    const std::string parentPath =
        DrivePathOf(std::vector<std::string>(given->begin(), given->end() - 1));
    SecurableObject parent = Model().security.resolveFile(parentPath);
    // A drive's root always exists, whether or not the host has made its folder yet.
    const bool driveRoot = given->size() == 2;
    if (driveRoot) {
        parent.error = ERROR_SUCCESS;
        parent.container = true;
    }
    if (parent.error != ERROR_SUCCESS || !parent.container) {
        // A junction the process may not cross is named as such, not as a missing folder.
        return parent.error == ERROR_UNTRUSTED_MOUNT_POINT ? parent.error : ERROR_PATH_NOT_FOUND;
    }
    if (!CallerMay(parent, FILE_ADD_SUBDIRECTORY)) {
        return ERROR_ACCESS_DENIED;
    }
    // The new name in the caller's spelling, inside the folder the way led to.
    const std::string leaf = fullPath.substr(fullPath.find_last_of('\\') + 1);
    const std::string created = SpelledPath(parent.components, std::string()) + "\\" + leaf;
    try {
        Poco::File folder(Model().drives.hostPath(created));
        if (driveRoot) {
            folder.createDirectories();
        } else {
            folder.createDirectory();
        }
    } catch (const Poco::Exception&) {
        return ERROR_ACCESS_DENIED;
    }
    SecurableObject object = parent;
    object.components.push_back(Poco::toUpper(leaf));
    if (security != nullptr) {
        Model().security.store(object, *security);
    }
    // What it inherits is written into it as it is made.
    Model().security.freeze({object});
    return ERROR_SUCCESS;
}

}  // namespace

namespace Win32Emu {

DWORD CreateFolderPath(const std::string& fullPath) {
    const std::optional<std::vector<std::string>> components = SplitDrivePath(fullPath);
    if (!components) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    for (size_t count = 2; count <= components->size(); ++count) {
        // Each folder in the caller's spelling, as far as the path goes.
        size_t end = 2;
        for (size_t name = 1; name < count; ++name) {
            end = fullPath.find('\\', end + 1);
        }
        const DWORD error = createFolder(fullPath.substr(0, end), nullptr);
        if (error != ERROR_SUCCESS && error != ERROR_ALREADY_EXISTS) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace Win32Emu

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
    if (const DWORD error = createFolder(*fullPath, withDescriptor ? &security : nullptr)) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"

// Creating folders as CreateDirectoryW creates them: for CreateDirectoryW itself, and for the
// folders SHGetFolderPathW is asked to create.

#include "machine/AccessControl.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/String.h>

namespace Win32Emu {

DWORD CreateFolder(const std::string& fullPath, const ObjectSecurity* security) {
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
        const DWORD error = CreateFolder(fullPath.substr(0, end), nullptr);
        if (error != ERROR_SUCCESS && error != ERROR_ALREADY_EXISTS) {
            return error;
        }
    }
    return ERROR_SUCCESS;
}

}  // namespace Win32Emu

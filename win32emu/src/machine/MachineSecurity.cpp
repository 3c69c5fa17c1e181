// The Machine's view of the security of files and keys, for profiles and tests.

#include "Win32Emu/HostPath.h"
#include "Win32Emu/Machine.h"
#include "machine/AccessControl.h"
#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"
#include "machine/MachineState.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/String.h>

#include <set>

namespace Win32Emu {

namespace {

bool isRegistryName(const std::string& object) {
    const std::string root = object.substr(0, object.find('\\'));
    return EqualNames(root, "HKEY_LOCAL_MACHINE") || EqualNames(root, "HKEY_USERS");
}

// A key named as the registry setters name it, in the security calls' form and object type.
SecurableObject resolveForMachine(const std::string& object, RegistryView view) {
    if (!isRegistryName(object)) {
        return ResolveSecurable(object, SE_FILE_OBJECT);
    }
    const bool machine = EqualNames(object.substr(0, object.find('\\')), "HKEY_LOCAL_MACHINE");
    const size_t slash = object.find('\\');
    const std::string rest = slash == std::string::npos ? std::string() : object.substr(slash);
    const SE_OBJECT_TYPE type = view == RegistryView::Bits32   ? SE_REGISTRY_WOW64_32KEY
                                : view == RegistryView::Bits64 ? SE_REGISTRY_WOW64_64KEY
                                                               : SE_REGISTRY_KEY;
    return ResolveSecurable((machine ? "MACHINE" : "USERS") + rest, type);
}

// For setting: a file path that need not exist on the host yet.
SecurableObject settable(const std::string& object, RegistryView view) {
    SecurableObject resolved = resolveForMachine(object, view);
    if (resolved.error != ERROR_SUCCESS && !resolved.isKey && !resolved.components.empty()) {
        resolved.error = ERROR_SUCCESS;
    }
    if (resolved.error != ERROR_SUCCESS) {
        throw Poco::NotFoundException("No such file or key", object);
    }
    return resolved;
}

// Whether a standard process of `userSid` holds `right` on the object: the first entry for one
// of its SIDs that names the right decides, as in a list in canonical order.
bool StandardUserMay(const SecurableObject& object, const std::string& userSid, ACCESS_MASK right) {
    const std::set<std::string> sids{
        Poco::toUpper(userSid), "S-1-1-0", "S-1-5-11", "S-1-5-32-545", "S-1-5-4"};
    for (const AccessEntry& entry : Model().security.effectiveEntries(object)) {
        if ((entry.flags & INHERIT_ONLY_ACE) == 0 && sids.count(Poco::toUpper(entry.sid)) > 0 &&
            (entry.mask & right) != 0) {
            return entry.allowed;
        }
    }
    return false;
}

}  // namespace

void Machine::setAccessList(const std::string& object,
                            const std::vector<AccessEntry>& explicitEntries,
                            bool isProtected,
                            RegistryView view) {
    const SecurableObject resolved = settable(object, view);
    ObjectSecurity security = Model().security.stored(resolved);
    security.explicitEntries.clear();
    for (AccessEntry entry : explicitEntries) {
        entry.mask = MapGenericRights(entry.mask, resolved.isKey);
        entry.flags &= static_cast<BYTE>(~INHERITED_ACE);
        security.explicitEntries.push_back(entry);
    }
    security.isProtected = isProtected;
    security.hasEntries = true;
    Model().security.storeAndPropagate(resolved, security);
}

void Machine::setOwner(const std::string& object, const std::string& ownerSid, RegistryView view) {
    const SecurableObject resolved = settable(object, view);
    ObjectSecurity security = Model().security.stored(resolved);
    security.owner = ownerSid;
    Model().security.store(resolved, security);
}

std::optional<std::vector<AccessEntry>> Machine::accessList(const std::string& object,
                                                            RegistryView view) const {
    const SecurableObject resolved = resolveForMachine(object, view);
    if (resolved.error != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return Model().security.effectiveEntries(resolved);
}

SidAccess Machine::accessOf(const std::string& object,
                            const std::string& sid,
                            RegistryView view) const {
    SidAccess access;
    for (const AccessEntry& entry : accessList(object, view).value_or(std::vector<AccessEntry>())) {
        if (Poco::icompare(entry.sid, sid) != 0) {
            continue;
        }
        access.inherited = access.inherited || (entry.flags & INHERITED_ACE) != 0;
        access.inheritable =
            access.inheritable || (entry.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) ==
                                      (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        if ((entry.flags & INHERIT_ONLY_ACE) == 0) {
            (entry.allowed ? access.allowed : access.denied) |= entry.mask;
        }
    }
    return access;
}

DWORD Machine::createAs(const std::string& userSid, const std::string& path, bool folder) {
    const std::optional<std::vector<std::string>> split = SplitDrivePath(path);
    if (!split || split->size() < 2) {
        throw Poco::InvalidArgumentException("Not a path inside a drive", path);
    }
    const std::vector<std::string> parentComponents(split->begin(), split->end() - 1);
    const SecurableObject parent = Model().security.resolveFile(DrivePathOf(parentComponents));
    if (parent.error != ERROR_SUCCESS || !parent.container) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (Model().security.resolveFile(path, false).error == ERROR_SUCCESS) {
        return folder ? ERROR_ALREADY_EXISTS : ERROR_FILE_EXISTS;
    }
    if (!StandardUserMay(parent, userSid, folder ? FILE_ADD_SUBDIRECTORY : FILE_ADD_FILE)) {
        return ERROR_ACCESS_DENIED;
    }
    // In the folder the parent's name leads to, in the caller's spelling of the new name.
    const std::string name = path.substr(path.find_last_of("\\/") + 1);
    const std::string created =
        DrivePathOf(parent.components) + (parent.components.size() > 1 ? "\\" : "") + name;
    Poco::File host(HostPathFromWindowsPath(created));
    if (folder) {
        host.createDirectory();
    } else {
        host.createFile();
    }
    setOwner(created, userSid);
    // What it inherits is written into it as it is made.
    SecurableObject made = Model().security.resolveFile(created);
    Model().security.freeze({made});
    return ERROR_SUCCESS;
}

void Machine::setReparsePoint(const std::string& path,
                              const std::string& target,
                              bool junction,
                              bool byAdministrator) {
    if (!SplitDrivePath(path) || !SplitDrivePath(target)) {
        throw Poco::InvalidArgumentException("A reparse point links two paths on drives", path);
    }
    Model().security.setReparsePoint(path, target, junction, byAdministrator);
}

void Machine::setReparseTag(const std::string& path, DWORD tag) {
    if (!SplitDrivePath(path) || IsReparseTagNameSurrogate(tag) || tag == 0) {
        throw Poco::InvalidArgumentException("Not a tag of a file that stays itself", path);
    }
    Model().security.setReparseTag(path, tag);
}

void Machine::setHardLink(const std::string& name, const std::string& existing) {
    const SecurableObject file = Model().security.resolveFile(existing);
    if (file.error != ERROR_SUCCESS || file.container || !SplitDrivePath(name)) {
        throw Poco::InvalidArgumentException("A hard link names an existing file", existing);
    }
    Model().security.freeze({file});
    Model().security.setHardLink(name, file.components);
}

std::vector<AccessChange> Machine::accessChanges() const {
    return Model().security.changes();
}

DWORD Machine::redirectionTrustPolicy() const {
    return state->model.security.redirectionTrust();
}

}  // namespace Win32Emu

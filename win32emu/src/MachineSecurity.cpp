// The Machine's view of the security of files and keys, for profiles and tests.

#include "ApiSupport.h"
#include "MachineModel.h"
#include "SecurityCalls.h"
#include "Win32Emu/Machine.h"

#include <Poco/Exception.h>
#include <Poco/String.h>

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
    Model().security.store(resolved, security);
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

void Machine::setReparsePoint(const std::string& path, const std::string& target, bool junction) {
    if (!SplitDrivePath(path) || !SplitDrivePath(target)) {
        throw Poco::InvalidArgumentException("A reparse point links two paths on drives", path);
    }
    Model().security.setReparsePoint(path, target, junction);
}

std::vector<AccessChange> Machine::accessChanges() const {
    return Model().security.changes();
}

}  // namespace Win32Emu

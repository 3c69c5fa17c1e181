// What the Get/Set...SecurityInfo calls share once the object is resolved: the descriptor in
// Windows' self-relative layout, the checks of what is to be written, and the write itself with
// the changes it reports.

#include "Win32Emu/MachineEvent.h"
#include "machine/AccessControl.h"
#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"
#include "machine/SidText.h"

#include <Poco/String.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Win32Emu {

namespace {

// Tells the SCM's watcher about a changed entry: "event acl object=... trustee=DOMAIN\name
// access=0x... type=allow|deny inheritance=CI|OI|NP|IO".
void reportAccessChange(const AccessChange& change) {
    std::string trustee = change.trustee;
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const auto found = model.configuration.accounts.find(Poco::toUpper(change.trustee));
        if (found != model.configuration.accounts.end()) {
            trustee = found->second.domain + "\\" + found->second.name;
        }
    }
    char access[16];
    std::snprintf(access, sizeof(access), "0x%08X", static_cast<unsigned>(change.mask));
    std::string inheritance;
    const std::pair<BYTE, const char*> names[] = {{CONTAINER_INHERIT_ACE, "CI"},
                                                  {OBJECT_INHERIT_ACE, "OI"},
                                                  {NO_PROPAGATE_INHERIT_ACE, "NP"},
                                                  {INHERIT_ONLY_ACE, "IO"}};
    for (const auto& [flag, name] : names) {
        if ((change.flags & flag) != 0) {
            inheritance += (inheritance.empty() ? "" : "|") + std::string(name);
        }
    }
    ReportMachineEvent("acl",
                       {{"object", change.object},
                        {"trustee", trustee},
                        {"access", access},
                        {"type", change.allowed ? "allow" : "deny"},
                        {"inheritance", inheritance.empty() ? "none" : inheritance}});
}

}  // namespace

DWORD ReadSecurity(const SecurableObject& object,
                   SECURITY_INFORMATION SecurityInfo,
                   PSID* ppsidOwner,
                   PSID* ppsidGroup,
                   PACL* ppDacl,
                   PACL* ppSacl,
                   PSECURITY_DESCRIPTOR* ppSecurityDescriptor,
                   const char* call) {
    const ObjectSecurity security = Model().security.stored(object);
    const bool withOwner = (SecurityInfo & OWNER_SECURITY_INFORMATION) != 0;
    const bool withGroup = (SecurityInfo & GROUP_SECURITY_INFORMATION) != 0;
    const bool withDacl = (SecurityInfo & DACL_SECURITY_INFORMATION) != 0;

    // One self-relative block: header, owner, group, access list.
    std::vector<BYTE> block(sizeof(SECURITY_DESCRIPTOR_RELATIVE));
    SECURITY_DESCRIPTOR_RELATIVE header = {};
    header.Revision = SECURITY_DESCRIPTOR_REVISION;
    header.Control = SE_SELF_RELATIVE;
    const auto append = [&block](const std::vector<BYTE>& part) {
        const DWORD at = static_cast<DWORD>(block.size());
        block.insert(block.end(), part.begin(), part.end());
        return at;
    };
    if (withOwner) {
        header.Owner = append(SidFromText(security.owner));
    }
    if (withGroup) {
        header.Group = append(SidFromText(security.group));
    }
    if (withDacl) {
        header.Control |= SE_DACL_PRESENT;
        if (security.autoInherited) {
            header.Control |= SE_DACL_AUTO_INHERITED;
        }
        if (security.isProtected) {
            header.Control |= SE_DACL_PROTECTED;
        }
        header.Dacl = append(AclBytes(Model().security.effectiveEntries(object)));
    }
    std::memcpy(block.data(), &header, sizeof(header));

    if (ppSecurityDescriptor == nullptr) {
        return ERROR_SUCCESS;
    }
    auto* descriptor = static_cast<BYTE*>(AllocateLocal(block.size(), call));
    if (descriptor == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::memcpy(descriptor, block.data(), block.size());
    *ppSecurityDescriptor = descriptor;
    if (ppsidOwner != nullptr) {
        *ppsidOwner = withOwner ? descriptor + header.Owner : nullptr;
    }
    if (ppsidGroup != nullptr) {
        *ppsidGroup = withGroup ? descriptor + header.Group : nullptr;
    }
    if (ppDacl != nullptr) {
        *ppDacl = withDacl ? reinterpret_cast<PACL>(descriptor + header.Dacl) : nullptr;
    }
    if (ppSacl != nullptr) {
        *ppSacl = nullptr;
    }
    return ERROR_SUCCESS;
}

DWORD CheckSecurityToWrite(SECURITY_INFORMATION SecurityInfo,
                           PSID psidOwner,
                           PSID psidGroup,
                           PACL pDacl,
                           std::vector<AccessEntry>& given) {
    if ((SecurityInfo & SACL_SECURITY_INFORMATION) != 0) {
        return ERROR_PRIVILEGE_NOT_HELD;
    }
    const bool withOwner = (SecurityInfo & OWNER_SECURITY_INFORMATION) != 0;
    const bool withGroup = (SecurityInfo & GROUP_SECURITY_INFORMATION) != 0;
    const bool withDacl = (SecurityInfo & DACL_SECURITY_INFORMATION) != 0;
    if ((withOwner && !IsValidSidLayout(psidOwner)) ||
        (withGroup && !IsValidSidLayout(psidGroup))) {
        return ERROR_INVALID_PARAMETER;
    }
    if (withDacl && pDacl == nullptr) {
        // A null DACL (everyone may do anything) is not emulated.
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    given.clear();
    return withDacl ? EntriesOfAcl(pDacl, given) : ERROR_SUCCESS;
}

namespace {

// The explicit entries of `after` that `before` did not hold, as changes made under `name`.
std::vector<AccessChange> explicitChanges(const std::string& name,
                                          const ObjectSecurity& before,
                                          const std::vector<AccessEntry>& after) {
    std::vector<AccessChange> changes;
    const std::vector<AccessEntry> held =
        before.hasEntries ? before.explicitEntries : std::vector<AccessEntry>();
    for (const AccessEntry& entry : after) {
        const bool unchanged = std::any_of(held.begin(), held.end(), [&](const AccessEntry& old) {
            return old.allowed == entry.allowed && old.mask == entry.mask &&
                   old.flags == entry.flags && Poco::icompare(old.sid, entry.sid) == 0;
        });
        if (!unchanged) {
            changes.push_back(
                AccessChange{name, entry.sid, entry.mask, entry.flags, entry.allowed});
        }
    }
    return changes;
}

void record(const std::vector<AccessChange>& changes) {
    for (const AccessChange& change : changes) {
        Model().security.recordChange(change);
        reportAccessChange(change);
    }
}

}  // namespace

DWORD WriteSecurity(const SecurableObject& object,
                    const std::string& name,
                    SECURITY_INFORMATION SecurityInfo,
                    PSID psidOwner,
                    PSID psidGroup,
                    const std::vector<AccessEntry>& given) {
    const bool withOwner = (SecurityInfo & OWNER_SECURITY_INFORMATION) != 0;
    const bool withGroup = (SecurityInfo & GROUP_SECURITY_INFORMATION) != 0;
    const bool withDacl = (SecurityInfo & DACL_SECURITY_INFORMATION) != 0;
    ObjectSecurity security = Model().security.stored(object);
    if (withOwner) {
        security.owner = SidToText(static_cast<const SID*>(psidOwner));
    }
    if (withGroup) {
        security.group = SidToText(static_cast<const SID*>(psidGroup));
    }
    if ((SecurityInfo & PROTECTED_DACL_SECURITY_INFORMATION) != 0) {
        security.isProtected = true;
    } else if ((SecurityInfo & UNPROTECTED_DACL_SECURITY_INFORMATION) != 0) {
        security.isProtected = false;
    }
    if (!withDacl) {
        Model().security.store(object, security);
        return ERROR_SUCCESS;
    }
    // Inherited entries in the list given are recomputed from the parent, and what lies below
    // inherits anew: the propagation these calls make.
    std::vector<AccessEntry> explicitEntries;
    for (AccessEntry entry : given) {
        if ((entry.flags & INHERITED_ACE) == 0) {
            entry.mask = MapGenericRights(entry.mask, object.isKey);
            explicitEntries.push_back(entry);
        }
    }
    const std::vector<AccessChange> changes = explicitChanges(name, security, explicitEntries);
    security.explicitEntries = explicitEntries;
    security.hasEntries = true;
    Model().security.storeAndPropagate(object, security);
    record(changes);
    return ERROR_SUCCESS;
}

DWORD ParseSelfRelative(PSECURITY_DESCRIPTOR descriptor, GivenSecurity& given) {
    if (descriptor == nullptr) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    const auto* header = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(descriptor);
    if (header->Revision != SECURITY_DESCRIPTOR_REVISION) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    if ((header->Control & SE_SELF_RELATIVE) == 0) {
        // Absolute descriptors are not emulated.
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    const BYTE* base = static_cast<const BYTE*>(descriptor);
    given.control = header->Control;
    if (header->Owner != 0) {
        if (!IsValidSidLayout(base + header->Owner)) {
            return ERROR_INVALID_SECURITY_DESCR;
        }
        given.owner = SidToText(reinterpret_cast<const SID*>(base + header->Owner));
    }
    if (header->Group != 0) {
        if (!IsValidSidLayout(base + header->Group)) {
            return ERROR_INVALID_SECURITY_DESCR;
        }
        given.group = SidToText(reinterpret_cast<const SID*>(base + header->Group));
    }
    given.daclPresent = (header->Control & SE_DACL_PRESENT) != 0;
    if (given.daclPresent) {
        if (header->Dacl == 0) {
            // A null DACL (everyone may do anything) is not emulated.
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
        return EntriesOfAcl(reinterpret_cast<const ACL*>(base + header->Dacl), given.dacl);
    }
    return ERROR_SUCCESS;
}

DWORD WriteObjectSecurity(const SecurableObject& object,
                          const std::string& name,
                          SECURITY_INFORMATION info,
                          const GivenSecurity& given) {
    const bool withOwner = (info & OWNER_SECURITY_INFORMATION) != 0;
    const bool withGroup = (info & GROUP_SECURITY_INFORMATION) != 0;
    const bool withDacl = (info & DACL_SECURITY_INFORMATION) != 0;
    if ((info & SACL_SECURITY_INFORMATION) != 0) {
        return ERROR_PRIVILEGE_NOT_HELD;
    }
    if ((withOwner && given.owner.empty()) || (withGroup && given.group.empty())) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    if (withDacl && !given.daclPresent) {
        // No DACL: everyone may do anything. Not emulated.
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    if (withDacl && object.container) {
        // What lies below keeps what it inherited: nothing is propagated.
        Model().security.freeze(ChildObjects(object));
    }
    ObjectSecurity security = Model().security.stored(object);
    if (!security.inheritanceStored) {
        Model().security.freeze({object});
        security = Model().security.stored(object);
    }
    if (withOwner) {
        security.owner = given.owner;
    }
    if (withGroup) {
        security.group = given.group;
    }
    std::vector<AccessChange> changes;
    if (withDacl) {
        std::vector<AccessEntry> explicitEntries;
        std::vector<AccessEntry> inheritedEntries;
        for (AccessEntry entry : given.dacl) {
            if ((entry.flags & INHERIT_ONLY_ACE) == 0) {
                entry.mask = MapGenericRights(entry.mask, object.isKey);
            }
            ((entry.flags & INHERITED_ACE) != 0 ? inheritedEntries : explicitEntries)
                .push_back(entry);
        }
        changes = explicitChanges(name, security, explicitEntries);
        security.explicitEntries = explicitEntries;
        security.inheritedEntries = inheritedEntries;
        security.hasEntries = true;
        security.inheritanceStored = true;
        security.isProtected = (given.control & SE_DACL_PROTECTED) != 0;
        security.autoInherited = (given.control & SE_DACL_AUTO_INHERITED) != 0;
    }
    Model().security.store(object, security);
    record(changes);
    return ERROR_SUCCESS;
}

std::vector<SecurableObject> ChildObjects(const SecurableObject& object) {
    std::vector<SecurableObject> children;
    if (object.isKey) {
        std::string name;
        for (DWORD index = 0; Model().registry.subKeyAt(object.key, index, name) == ERROR_SUCCESS;
             ++index) {
            SecurableObject child;
            child.isKey = true;
            if (Model().registry.openKey(object.key, {name}, false, child.key, nullptr, true) ==
                ERROR_SUCCESS) {
                children.push_back(child);
            }
        }
        return children;
    }
    const std::string folder = DrivePathOf(object.components);
    for (const auto& [upper, entry] : FolderListing(object.components)) {
        SecurableObject child;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
            IsReparseTagNameSurrogate(entry.dwReserved0)) {
            // The link itself, not what it leads to.
            child.components = object.components;
            child.components.push_back(upper);
        } else {
            child = Model().security.resolveFile(
                folder + (object.components.size() > 1 ? "\\" : "") + ToUtf8(entry.cFileName));
            if (child.error != ERROR_SUCCESS) {
                continue;
            }
        }
        children.push_back(child);
    }
    return children;
}

}  // namespace Win32Emu

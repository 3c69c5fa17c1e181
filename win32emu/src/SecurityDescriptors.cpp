// What the Get/Set...SecurityInfo calls share once the object is resolved: the descriptor in
// Windows' self-relative layout, the checks of what is to be written, and the write itself with
// the changes it reports.

#include "ApiSupport.h"
#include "MachineModel.h"
#include "SecurityCalls.h"
#include "SidText.h"
#include "Win32Emu/MachineEvent.h"

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
        header.Control |= SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED;
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
    std::vector<AccessChange> changes;
    if (withDacl) {
        // Inherited entries in the list given are recomputed from the parent, not stored.
        std::vector<AccessEntry> explicitEntries;
        for (AccessEntry entry : given) {
            if ((entry.flags & INHERITED_ACE) == 0) {
                entry.mask = MapGenericRights(entry.mask, object.isKey);
                explicitEntries.push_back(entry);
            }
        }
        const std::vector<AccessEntry> before =
            security.hasEntries ? security.explicitEntries : std::vector<AccessEntry>();
        for (const AccessEntry& entry : explicitEntries) {
            const bool unchanged =
                std::any_of(before.begin(), before.end(), [&](const AccessEntry& old) {
                    return old.allowed == entry.allowed && old.mask == entry.mask &&
                           old.flags == entry.flags && Poco::icompare(old.sid, entry.sid) == 0;
                });
            if (!unchanged) {
                changes.push_back(
                    AccessChange{name, entry.sid, entry.mask, entry.flags, entry.allowed});
            }
        }
        security.explicitEntries = explicitEntries;
        security.hasEntries = true;
    }
    Model().security.store(object, security);
    for (const AccessChange& change : changes) {
        Model().security.recordChange(change);
        reportAccessChange(change);
    }
    return ERROR_SUCCESS;
}

}  // namespace Win32Emu

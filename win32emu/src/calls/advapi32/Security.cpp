// Access lists of files and registry keys: GetNamedSecurityInfoW, SetNamedSecurityInfoW and
// SetEntriesInAclA. The access-list calls return their error code, as Windows does.

#include "machine/AccessControl.h"
#include "machine/ApiSupport.h"
#include "machine/Identity.h"
#include "machine/MachineModel.h"
#include "machine/SidText.h"

#include <Poco/String.h>
#include <Poco/UTF8String.h>

#include <aclapi.h>
#include <cstring>
#include <set>

namespace {

constexpr BYTE SettableInheritFlags =
    OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE;

}  // namespace

using namespace Win32Emu;

extern "C" {

DWORD WINAPI GetNamedSecurityInfoW(LPCWSTR pObjectName,
                                   SE_OBJECT_TYPE ObjectType,
                                   SECURITY_INFORMATION SecurityInfo,
                                   PSID* ppsidOwner,
                                   PSID* ppsidGroup,
                                   PACL* ppDacl,
                                   PACL* ppSacl,
                                   PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    const std::string name = ToUtf8(pObjectName);
    if (const std::optional<DWORD> error = InjectedError("GetNamedSecurityInfoW", name)) {
        return *error;
    }
    if (pObjectName == nullptr ||
        ((ppsidOwner || ppsidGroup || ppDacl || ppSacl) && ppSecurityDescriptor == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((SecurityInfo & SACL_SECURITY_INFORMATION) != 0) {
        // Reading the audit list needs SeSecurityPrivilege enabled, which no caller here has.
        return ERROR_PRIVILEGE_NOT_HELD;
    }
    const SecurableObject object = ResolveSecurable(name, ObjectType);
    if (object.error != ERROR_SUCCESS) {
        return object.error;
    }
    if (!CallerMay(object, READ_CONTROL)) {
        return ERROR_ACCESS_DENIED;
    }
    return ReadSecurity(object,
                        SecurityInfo,
                        ppsidOwner,
                        ppsidGroup,
                        ppDacl,
                        ppSacl,
                        ppSecurityDescriptor,
                        "GetNamedSecurityInfoW");
}

DWORD WINAPI SetNamedSecurityInfoW(LPWSTR pObjectName,
                                   SE_OBJECT_TYPE ObjectType,
                                   SECURITY_INFORMATION SecurityInfo,
                                   PSID psidOwner,
                                   PSID psidGroup,
                                   PACL pDacl,
                                   PACL pSacl) {
    static_cast<void>(pSacl);
    const std::string name = ToUtf8(pObjectName);
    if (const std::optional<DWORD> error = InjectedError("SetNamedSecurityInfoW", name)) {
        return *error;
    }
    if (pObjectName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<AccessEntry> given;
    if (const DWORD error =
            CheckSecurityToWrite(SecurityInfo, psidOwner, psidGroup, pDacl, given)) {
        return error;
    }
    const bool withDacl = (SecurityInfo & DACL_SECURITY_INFORMATION) != 0;
    const bool withOwnerOrGroup =
        (SecurityInfo & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) != 0;
    const SecurableObject object = ResolveSecurable(name, ObjectType);
    if (object.error != ERROR_SUCCESS) {
        return object.error;
    }
    if ((withDacl && !CallerMay(object, WRITE_DAC)) ||
        (withOwnerOrGroup && !CallerMay(object, WRITE_OWNER))) {
        return ERROR_ACCESS_DENIED;
    }

    return WriteSecurity(object, name, SecurityInfo, psidOwner, psidGroup, given);
}

DWORD WINAPI SetEntriesInAclA(ULONG cCountOfExplicitEntries,
                              PEXPLICIT_ACCESS_A pListOfExplicitEntries,
                              PACL OldAcl,
                              PACL* NewAcl) {
    const std::string firstTrustee =
        cCountOfExplicitEntries > 0 && pListOfExplicitEntries != nullptr &&
                pListOfExplicitEntries[0].Trustee.TrusteeForm == TRUSTEE_IS_SID &&
                IsValidSidLayout(pListOfExplicitEntries[0].Trustee.ptstrName)
            ? SidToText(reinterpret_cast<const SID*>(pListOfExplicitEntries[0].Trustee.ptstrName))
            : std::string();
    if (const std::optional<DWORD> error = InjectedError("SetEntriesInAclA", firstTrustee)) {
        return *error;
    }
    if (NewAcl == nullptr || (cCountOfExplicitEntries > 0 && pListOfExplicitEntries == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<AccessEntry> old;
    if (const DWORD error = EntriesOfAcl(OldAcl, old)) {
        return error;
    }
    std::vector<AccessEntry> newAllowed;
    for (ULONG i = 0; i < cCountOfExplicitEntries; ++i) {
        const EXPLICIT_ACCESS_A& given = pListOfExplicitEntries[i];
        const TRUSTEE_A& trustee = given.Trustee;
        if (trustee.pMultipleTrustee != nullptr ||
            trustee.MultipleTrusteeOperation != NO_MULTIPLE_TRUSTEE ||
            trustee.TrusteeForm != TRUSTEE_IS_SID) {
            // Names and object trustees would need lookups the emulation does not make.
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
        if (!IsValidSidLayout(trustee.ptstrName)) {
            return ERROR_INVALID_SID;
        }
        if ((given.grfInheritance & ~static_cast<DWORD>(SettableInheritFlags)) != 0) {
            return ERROR_INVALID_PARAMETER;
        }
        const std::string sid = SidToText(reinterpret_cast<const SID*>(trustee.ptstrName));
        const BYTE flags = static_cast<BYTE>(given.grfInheritance);
        if (given.grfAccessMode == NOT_USED_ACCESS) {
            continue;
        }
        // Only grants are made here: the other modes would rewrite entries nothing asks for.
        if (const std::optional<LONG> refused = UnmodelledCode(
                given.grfAccessMode == SET_ACCESS || given.grfAccessMode == DENY_ACCESS ||
                given.grfAccessMode == REVOKE_ACCESS)) {
            return static_cast<DWORD>(*refused);
        }
        if (given.grfAccessMode != GRANT_ACCESS) {
            return ERROR_INVALID_PARAMETER;
        }
        // The trustee's explicit grant of the same inheritance merges into the new one.
        AccessEntry entry{true, sid, given.grfAccessPermissions, flags};
        for (auto held = old.begin(); held != old.end();) {
            if ((held->flags & INHERITED_ACE) == 0 && held->allowed && held->flags == flags &&
                Poco::icompare(held->sid, sid) == 0) {
                entry.mask |= held->mask;
                held = old.erase(held);
            } else {
                ++held;
            }
        }
        newAllowed.push_back(entry);
    }
    // Canonical order: explicit denials, explicit grants, then what was inherited.
    std::vector<AccessEntry> entries;
    const auto copyOld = [&](bool inherited, bool allowed) {
        for (const AccessEntry& entry : old) {
            if (((entry.flags & INHERITED_ACE) != 0) == inherited && entry.allowed == allowed) {
                entries.push_back(entry);
            }
        }
    };
    copyOld(false, false);
    entries.insert(entries.end(), newAllowed.begin(), newAllowed.end());
    copyOld(false, true);
    for (const AccessEntry& entry : old) {
        if ((entry.flags & INHERITED_ACE) != 0) {
            entries.push_back(entry);
        }
    }
    const std::vector<BYTE> bytes = AclBytes(entries);
    void* block = AllocateLocal(bytes.size(), "SetEntriesInAclA");
    if (block == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    std::memcpy(block, bytes.data(), bytes.size());
    *NewAcl = static_cast<PACL>(block);
    return ERROR_SUCCESS;
}

}  // extern "C"

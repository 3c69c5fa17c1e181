// Access lists of files and registry keys: GetNamedSecurityInfoW, SetNamedSecurityInfoW,
// SetEntriesInAclA, and GetFileAttributesW for the reparse points. The access-list calls return
// their error code, as Windows does.

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

namespace Win32Emu {

namespace {

constexpr BYTE SettableInheritFlags =
    OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE;

// The SIDs the emulated process acts as: its user and the groups every such account is in.
std::set<std::string> callerSids() {
    const ProcessEntry self = CurrentProcessEntry();
    std::set<std::string> sids{Poco::toUpper(self.userSid), "S-1-1-0", "S-1-5-11", "S-1-5-32-545"};
    bool administrator = self.userSid == LocalSystemSid;
    {
        std::lock_guard<std::mutex> guard(Model().lock);
        const auto found = Model().configuration.accounts.find(Poco::toUpper(self.userSid));
        if (found != Model().configuration.accounts.end() && found->second.administrator &&
            self.elevated) {
            administrator = true;
        }
    }
    if (administrator) {
        sids.insert("S-1-5-32-544");
    }
    return sids;
}

}  // namespace

// The owner may always read and write the access list; else the first entry naming one of the
// process's SIDs for that right decides.
bool CallerMay(const SecurableObject& object, ACCESS_MASK right) {
    const std::set<std::string> sids = callerSids();
    if (sids.count(Poco::toUpper(Model().security.stored(object).owner)) > 0 &&
        (right & ~static_cast<ACCESS_MASK>(READ_CONTROL | WRITE_DAC)) == 0) {
        return true;
    }
    for (const AccessEntry& entry : Model().security.effectiveEntries(object)) {
        if ((entry.flags & INHERIT_ONLY_ACE) != 0 || sids.count(Poco::toUpper(entry.sid)) == 0 ||
            (entry.mask & right) == 0) {
            continue;
        }
        return entry.allowed;
    }
    return false;
}

namespace {

// A file name made absolute as Windows makes it: against the current directory, or its drive.
std::optional<std::string> absoluteFilePath(const std::string& name, DWORD& error) {
    if (name.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    if (SplitDrivePath(name)) {
        return name;
    }
    const bool separator = name[0] == '\\' || name[0] == '/';
    const bool uncOrDevice = name.size() > 1 && separator && (name[1] == '\\' || name[1] == '/');
    const bool driveRelative = name.size() > 1 && name[1] == ':';
    if (uncOrDevice || driveRelative) {
        error = ERROR_CALL_NOT_IMPLEMENTED;
        return std::nullopt;
    }
    std::string current;
    {
        std::lock_guard<std::mutex> guard(Model().lock);
        current = ToUtf8(Model().configuration.currentDirectory);
    }
    return separator ? current.substr(0, 2) + name : current + "\\" + name;
}

}  // namespace

SecurableObject ResolveSecurable(const std::string& name, SE_OBJECT_TYPE type) {
    SecurableObject object;
    if (type == SE_FILE_OBJECT) {
        const std::optional<std::string> path = absoluteFilePath(name, object.error);
        return path ? Model().security.resolveFile(*path) : object;
    }
    if (type != SE_REGISTRY_KEY && type != SE_REGISTRY_WOW64_32KEY &&
        type != SE_REGISTRY_WOW64_64KEY) {
        object.error = ERROR_CALL_NOT_IMPLEMENTED;
        return object;
    }
    std::vector<std::string> path = RegistryModel::splitPath(name);
    if (path.empty()) {
        object.error = ERROR_INVALID_PARAMETER;
        return object;
    }
    const std::string root = path.front();
    path.erase(path.begin());
    Hive hive = Hive::LocalMachine;
    if (Poco::icompare(root, "MACHINE") == 0) {
        const REGSAM view = type == SE_REGISTRY_WOW64_32KEY   ? KEY_WOW64_32KEY
                            : type == SE_REGISTRY_WOW64_64KEY ? KEY_WOW64_64KEY
                                                              : 0;
        if (Model().uses32BitRegistryView(view)) {
            RegistryModel::redirectTo32BitView(Hive::LocalMachine, path);
        }
    } else if (Poco::icompare(root, "USERS") == 0) {
        hive = Hive::Users;
    } else {
        // CLASSES_ROOT, CURRENT_USER and CURRENT_CONFIG are views the emulation does not have.
        const bool known = Poco::icompare(root, "CLASSES_ROOT") == 0 ||
                           Poco::icompare(root, "CURRENT_USER") == 0 ||
                           Poco::icompare(root, "CURRENT_CONFIG") == 0;
        object.error = known ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_INVALID_PARAMETER;
        return object;
    }
    return Model().security.resolveKey(hive, path);
}

std::vector<BYTE> AclBytes(const std::vector<AccessEntry>& entries) {
    std::vector<BYTE> bytes(sizeof(ACL));
    for (const AccessEntry& entry : entries) {
        const std::vector<BYTE> sid = SidFromText(entry.sid);
        ACCESS_ALLOWED_ACE ace = {};
        ace.Header.AceType = entry.allowed ? ACCESS_ALLOWED_ACE_TYPE : ACCESS_DENIED_ACE_TYPE;
        ace.Header.AceFlags = entry.flags;
        ace.Header.AceSize = static_cast<WORD>(offsetof(ACCESS_ALLOWED_ACE, SidStart) + sid.size());
        ace.Mask = entry.mask;
        const size_t at = bytes.size();
        bytes.resize(at + ace.Header.AceSize);
        std::memcpy(bytes.data() + at, &ace, offsetof(ACCESS_ALLOWED_ACE, SidStart));
        std::memcpy(
            bytes.data() + at + offsetof(ACCESS_ALLOWED_ACE, SidStart), sid.data(), sid.size());
    }
    ACL header = {};
    header.AclRevision = ACL_REVISION;
    header.AclSize = static_cast<WORD>(bytes.size());
    header.AceCount = static_cast<WORD>(entries.size());
    std::memcpy(bytes.data(), &header, sizeof(header));
    return bytes;
}

DWORD EntriesOfAcl(const ACL* acl, std::vector<AccessEntry>& entries) {
    entries.clear();
    if (acl == nullptr) {
        return ERROR_SUCCESS;
    }
    if ((acl->AclRevision != ACL_REVISION && acl->AclRevision != ACL_REVISION_DS) ||
        acl->AclSize < sizeof(ACL)) {
        return ERROR_INVALID_ACL;
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(acl);
    size_t offset = sizeof(ACL);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        ACE_HEADER header;
        if (offset + sizeof(header) > acl->AclSize) {
            return ERROR_INVALID_ACL;
        }
        std::memcpy(&header, bytes + offset, sizeof(header));
        const size_t sidAt = offset + offsetof(ACCESS_ALLOWED_ACE, SidStart);
        if (header.AceSize < offsetof(ACCESS_ALLOWED_ACE, SidStart) + 8 ||
            offset + header.AceSize > acl->AclSize) {
            return ERROR_INVALID_ACL;
        }
        if (header.AceType != ACCESS_ALLOWED_ACE_TYPE && header.AceType != ACCESS_DENIED_ACE_TYPE) {
            // Object, callback and audit entries are not emulated.
            return ERROR_CALL_NOT_IMPLEMENTED;
        }
        const auto* sid = reinterpret_cast<const SID*>(bytes + sidAt);
        const size_t sidRoom = offset + header.AceSize - sidAt;
        if (sid->Revision != SID_REVISION || sid->SubAuthorityCount > SID_MAX_SUB_AUTHORITIES ||
            8 + 4u * sid->SubAuthorityCount > sidRoom) {
            return ERROR_INVALID_ACL;
        }
        AccessEntry entry;
        entry.allowed = header.AceType == ACCESS_ALLOWED_ACE_TYPE;
        entry.flags = header.AceFlags;
        std::memcpy(
            &entry.mask, bytes + offset + offsetof(ACCESS_ALLOWED_ACE, Mask), sizeof(DWORD));
        entry.sid = SidToText(sid);
        entries.push_back(entry);
        offset += header.AceSize;
    }
    return ERROR_SUCCESS;
}

}  // namespace Win32Emu

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

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    const std::string name = ToUtf8(lpFileName);
    if (InjectedFailure("GetFileAttributesW", name)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD error = ERROR_SUCCESS;
    const std::optional<std::string> path =
        lpFileName == nullptr ? std::nullopt : absoluteFilePath(name, error);
    if (!path) {
        SetLastError(lpFileName == nullptr ? ERROR_INVALID_PARAMETER : error);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (Model().security.reparseTag(*path) != 0) {
        return FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    }
    const SecurableObject object = Model().security.resolveFile(*path);
    if (object.error != ERROR_SUCCESS) {
        SetLastError(object.error);
        return INVALID_FILE_ATTRIBUTES;
    }
    return object.container ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

}  // extern "C"

// Who may do what to files and registry keys: the SIDs the emulated process acts as, the
// objects the security calls name, and access lists in Windows' binary layout.

#include "machine/AccessControl.h"

#include "machine/ApiSupport.h"
#include "machine/Identity.h"
#include "machine/MachineModel.h"
#include "machine/SidText.h"

#include <Poco/String.h>

#include <cstring>
#include <set>

namespace Win32Emu {

namespace {

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

std::optional<std::string> AbsoluteFilePath(const std::string& name, DWORD& error) {
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

SecurableObject ResolveSecurable(const std::string& name, SE_OBJECT_TYPE type) {
    SecurableObject object;
    if (type == SE_FILE_OBJECT) {
        const std::optional<std::string> path = AbsoluteFilePath(name, object.error);
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

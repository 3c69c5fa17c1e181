#include "service/operations/ElevatedProgramCheck.h"

#include "core/util/WideString.h"
#include "core/windows/FinalPath.h"
#include "core/windows/ScopedLocalMemory.h"
#include "service/grant/PathForms.h"

#include <Poco/String.h>
#include <Poco/UTF8String.h>

namespace OrvaneClient {
namespace {

const char TrustedInstallerSid[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const char LocalSystemSid[] = "S-1-5-18";
const char AdministratorsSid[] = "S-1-5-32-544";
// A placeholder that new children turn into an entry for their owner; it grants nothing here.
const char CreatorOwnerSid[] = "S-1-3-0";
constexpr DWORD AccountNameCapacity = 256;

// What lets its holder change an object: its data, its deletion, its list or its owner. In the
// program's own folder adding a file is a change too (a DLL planted beside the program is loaded
// by it); in the folders above, adding a child reaches nothing on the path, whose names are taken,
// but deleting one does.
constexpr ACCESS_MASK FileChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;
constexpr ACCESS_MASK ProgramFolderChangeRights =
    FileChangeRights | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD;
constexpr ACCESS_MASK AncestorChangeRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD;

ACCESS_MASK MappedFileRights(ACCESS_MASK mask) {
    if ((mask & GENERIC_ALL) != 0) {
        mask |= FILE_ALL_ACCESS;
    }
    if ((mask & GENERIC_WRITE) != 0) {
        mask |= FILE_GENERIC_WRITE;
    }
    return mask;
}

std::optional<std::string> SidString(PSID sid) {
    LPSTR text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) {
        return std::nullopt;
    }
    const ScopedLocalMemory<char> owned(text);
    return std::string(owned.get());
}

// "DOMAIN\name", the name alone for a group without a domain ("Everyone"), else the SID string.
std::string AccountText(PSID sid, const std::string& sidText) {
    char name[AccountNameCapacity] = {};
    char domain[AccountNameCapacity] = {};
    DWORD nameLength = AccountNameCapacity;
    DWORD domainLength = AccountNameCapacity;
    SID_NAME_USE use = SidTypeUnknown;
    if (!LookupAccountSidA(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
        return sidText;
    }
    return domain[0] == '\0' ? std::string(name) : std::string(domain) + "\\" + name;
}

bool MayChange(const std::string& sid, const std::string& callerSid) {
    for (const char* trusted :
         {callerSid.c_str(), LocalSystemSid, AdministratorsSid, TrustedInstallerSid}) {
        if (Poco::icompare(sid, std::string(trusted)) == 0) {
            return true;
        }
    }
    return false;
}

// "C:\", "C:\Games", ..., `program`; empty for a path not absolute on a drive.
std::vector<std::string> PathsDownTo(const std::string& program) {
    std::vector<std::string> paths;
    if (!IsDrivePath(program)) {
        return paths;
    }
    std::string path = program.substr(0, 2) + "\\";
    paths.push_back(path);
    std::string name;
    for (size_t i = 3; i <= program.size(); ++i) {
        if (i < program.size() && !IsPathSeparator(program[i])) {
            name += program[i];
        } else if (!name.empty()) {
            path += (paths.size() == 1 ? "" : "\\") + name;
            paths.push_back(path);
            name.clear();
        }
    }
    return paths;
}

// Examines one object on its handle: whoever else holds one of `rights` on it (or owns it) goes
// into `check`, or why it cannot be examined.
void Examine(const std::string& path,
             HANDLE object,
             ACCESS_MASK rights,
             ElevatedProgramCheck& check,
             const std::string& callerSid) {
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!GetFileInformationByHandleEx(object, FileAttributeTagInfo, &info, sizeof(info))) {
        const DWORD error = GetLastError();
        check.failure = path + " cannot be examined, error " + std::to_string(error);
        return;
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        check.failure = path + " is a junction or symbolic link";
        return;
    }
    // A name that leads elsewhere (a short name, "..") is not the object the rules looked at.
    const std::optional<std::string> finalPath = FinalPathOf(object);
    if (!finalPath || Poco::UTF8::icompare(*finalPath, path) != 0) {
        check.failure = path + " is not where its name leads";
        return;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
    const DWORD status = GetSecurityInfo(object,
                                         SE_FILE_OBJECT,
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner,
                                         nullptr,
                                         &dacl,
                                         nullptr,
                                         &rawDescriptor);
    if (status != ERROR_SUCCESS) {
        check.failure =
            "the security of " + path + " cannot be read, error " + std::to_string(status);
        return;
    }
    const ScopedLocalMemory<void> descriptor(rawDescriptor);
    // An owner may always rewrite the list.
    const std::optional<std::string> ownerSid = SidString(owner);
    if (!ownerSid || !MayChange(*ownerSid, callerSid)) {
        check.account = ownerSid ? AccountText(owner, *ownerSid) : std::string("?");
        check.object = path;
        return;
    }
    if (dacl == nullptr) {
        // No list at all lets everyone do everything.
        check.account = "Everyone";
        check.object = path;
        return;
    }
    const BYTE* entry = reinterpret_cast<const BYTE*>(dacl) + sizeof(ACL);
    for (WORD index = 0; index < dacl->AceCount; ++index) {
        const auto* header = reinterpret_cast<const ACE_HEADER*>(entry);
        if (header->AceSize < sizeof(ACE_HEADER)) {
            check.failure = "the access list of " + path + " cannot be read";
            return;
        }
        entry += header->AceSize;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        if ((MappedFileRights(allowed->Mask) & rights) == 0) {
            continue;
        }
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        const std::optional<std::string> sidText = SidString(sid);
        if (sidText && (*sidText == CreatorOwnerSid || MayChange(*sidText, callerSid))) {
            continue;
        }
        check.account = sidText ? AccountText(sid, *sidText) : std::string("?");
        check.object = path;
        return;
    }
}

}  // namespace

ElevatedProgramCheck CheckElevatedProgram(const std::string& program,
                                          const std::string& callerSid) {
    ElevatedProgramCheck check;
    const std::vector<std::string> paths = PathsDownTo(program);
    if (paths.size() < 2) {
        check.failure = "the program is not a file on a drive";
        return check;
    }
    for (const std::string& path : paths) {
        // Shared with readers and writers but not with deletion, and asking for nothing of the
        // data: it keeps no one from reading or running the program.
        ScopedHandle object(CreateFileW(Utf8ToWide(path).c_str(),
                                        READ_CONTROL | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr,
                                        OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
        if (!object.isValid()) {
            const DWORD error = GetLastError();
            check.failure = path + " cannot be opened, error " + std::to_string(error);
            return check;
        }
        const size_t level = check.held.size();
        const ACCESS_MASK rights = level + 1 == paths.size()   ? FileChangeRights
                                   : level + 2 == paths.size() ? ProgramFolderChangeRights
                                                               : AncestorChangeRights;
        Examine(path, object.get(), rights, check, callerSid);
        check.held.push_back(std::move(object));
        if (check.failure || !check.account.empty()) {
            return check;
        }
    }
    return check;
}

}  // namespace OrvaneClient

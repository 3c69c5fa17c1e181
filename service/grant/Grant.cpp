#include "service/grant/Grant.h"

#include "core/logfacade/LogFacade.h"
#include "core/util/WideString.h"
#include "core/windows/AccessToken.h"
#include "core/windows/FinalPath.h"
#include "core/windows/ScopedLocalMemory.h"
#include "core/windows/ScopedRegistryKey.h"
#include "service/grant/GrantWalk.h"
#include "service/grant/InheritedAccessList.h"
#include "service/grant/MachineLocations.h"

#include <Poco/UTF8String.h>

#include <vector>

namespace OrvaneClient {
namespace {

constexpr DWORD LookupBufferCapacity = 260;
// What a granted key is opened with: its list read and written, its subkeys listed, its link
// value read.
constexpr REGSAM GrantKeyAccess =
    READ_CONTROL | WRITE_DAC | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;

// The folder held from the check to the grant, so that the rules and the grant see the same
// folder whatever its name comes to lead to meanwhile: the link itself when it is one, shared
// with readers and writers but not with deletion, so that it can be neither removed nor renamed
// while held. Empty, with the last error, when it cannot be opened.
ScopedHandle OpenHeldFolder(const std::string& path) {
    return ScopedHandle(CreateFileW(
        Utf8ToWide(path).c_str(),
        READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr,
        OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
}

// Why the object the handle holds must not be granted: it is a link, or not a directory.
std::optional<std::string> HeldObjectRefusal(HANDLE folder) {
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &info, sizeof(info))) {
        return std::string("the folder cannot be examined");
    }
    // A synced (cloud) or compressed folder is a folder; only a link is not.
    if ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        IsReparseTagNameSurrogate(info.ReparseTag)) {
        return std::string("a folder on the path is a junction or symbolic link");
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::string("the path is not a folder");
    }
    return std::nullopt;
}

// The key `grantName` names, opened into `key` as itself in the view `objectType` names. A Win32
// error code after its line: the open's, or ERROR_ACCESS_DENIED for a registry link.
DWORD OpenKeyAsItself(const std::wstring& objectName,
                      const std::string& grantName,
                      SE_OBJECT_TYPE objectType,
                      ScopedRegistryKey& key) {
    HKEY rawKey = nullptr;
    const LSTATUS opened = RegOpenKeyExW(
        HKEY_LOCAL_MACHINE,
        Utf8ToWide(grantName.substr(std::string(LocalMachineKeyPrefix).size())).c_str(),
        REG_OPTION_OPEN_LINK,
        GrantKeyAccess | (objectType == SE_REGISTRY_WOW64_32KEY ? KEY_WOW64_32KEY : 0),
        &rawKey);
    key.reset(rawKey);
    if (opened != ERROR_SUCCESS) {
        LogError("GetNamedSecurityInfo for obj name %ls Error %u",
                 objectName.c_str(),
                 static_cast<unsigned>(opened));
        return static_cast<DWORD>(opened);
    }
    if (IsRegistryLink(key.get())) {
        LogWarning("Refusing to grant full control of %s: %s",
                   grantName.c_str(),
                   ("the key is or holds a registry link (" + grantName + ")").c_str());
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

// An object's access list as read, and whether it is protected from inheritance.
struct CurrentList {
    // The list lies inside the descriptor: freeing the descriptor frees both.
    ScopedLocalMemory<void> descriptor;
    PACL acl = nullptr;
    bool isProtected = false;
};

DWORD ReadAccessList(HANDLE object,
                     bool isKey,
                     const std::wstring& objectName,
                     CurrentList& current) {
    PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
    const DWORD readResult = GetSecurityInfo(object,
                                             isKey ? SE_REGISTRY_KEY : SE_FILE_OBJECT,
                                             DACL_SECURITY_INFORMATION,
                                             nullptr,
                                             nullptr,
                                             &current.acl,
                                             nullptr,
                                             &rawDescriptor);
    current.descriptor.reset(rawDescriptor);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    const DWORD controlResult =
        readResult != ERROR_SUCCESS ||
                GetSecurityDescriptorControl(rawDescriptor, &control, &revision)
            ? readResult
            : GetLastError();
    if (controlResult != ERROR_SUCCESS) {
        LogError("GetNamedSecurityInfo for obj name %ls Error %u",
                 objectName.c_str(),
                 static_cast<unsigned>(controlResult));
        return controlResult;
    }
    current.isProtected = (control & SE_DACL_PROTECTED) != 0;
    return ERROR_SUCCESS;
}

// The entry the grant adds: `sid`'s, a user.
EXPLICIT_ACCESS_A UserEntry(PSID sid,
                            TRUSTEE_FORM trusteeForm,
                            DWORD accessPermissions,
                            ACCESS_MODE accessMode,
                            DWORD inheritance) {
    EXPLICIT_ACCESS_A access = {};
    access.grfAccessPermissions = accessPermissions;
    access.grfAccessMode = accessMode;
    access.grfInheritance = inheritance;
    access.Trustee.pMultipleTrustee = nullptr;
    access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access.Trustee.TrusteeForm = trusteeForm;
    access.Trustee.TrusteeType = TRUSTEE_IS_USER;
    access.Trustee.ptstrName = static_cast<LPSTR>(sid);
    return access;
}

// The current list with `access` merged in, into `newAcl`; a Win32 error code after its line.
DWORD BuildAccessList(EXPLICIT_ACCESS_A& access,
                      PACL currentAcl,
                      const std::wstring& objectName,
                      ScopedLocalMemory<ACL>& newAcl) {
    PACL rawNewAcl = nullptr;
    const DWORD buildResult = SetEntriesInAclA(1, &access, currentAcl, &rawNewAcl);
    newAcl.reset(rawNewAcl);
    if (buildResult != ERROR_SUCCESS) {
        const std::string account =
            Grant::getSidAccountName(static_cast<PSID>(access.Trustee.ptstrName));
        LogError(
            "Calling SetEntriesInAcl Error %u; pszObjName=%ls, grfAccessPermissions=%d, "
            "grfAccessMode=%d, grfInheritance=%d, Trustee.TrusteeForm=%d, "
            "Trustee.TrusteeType=%d; SID: %s",
            static_cast<unsigned>(buildResult),
            objectName.c_str(),
            static_cast<int>(access.grfAccessPermissions),
            static_cast<int>(access.grfAccessMode),
            static_cast<int>(access.grfInheritance),
            static_cast<int>(access.Trustee.TrusteeForm),
            static_cast<int>(access.Trustee.TrusteeType),
            account.c_str());
    }
    return buildResult;
}

// Writes the object's own list alone, on the key when there is one, else on the folder: what
// lies below was written by the walk. A Win32 error code after its line; an already-set list
// counts as written.
DWORD WriteOwnList(
    HANDLE folder, HKEY key, const ACL* acl, bool isProtected, const std::wstring& objectName) {
    std::vector<BYTE> written = DaclDescriptor(acl, isProtected);
    DWORD writeResult = ERROR_SUCCESS;
    if (key != nullptr) {
        writeResult =
            static_cast<DWORD>(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, written.data()));
    } else if (!SetKernelObjectSecurity(folder, DACL_SECURITY_INFORMATION, written.data())) {
        writeResult = GetLastError();
    }
    if (writeResult == ERROR_SUCCESS) {
        return ERROR_SUCCESS;
    }
    if (writeResult == ERROR_BAD_INHERITANCE_ACL) {
        LogInfo("Probably correct permissions for resource %ls is already set. Skipping.",
                objectName.c_str());
        return ERROR_SUCCESS;
    }
    LogError("SetNamedSecurityInfo Error %u", static_cast<unsigned>(writeResult));
    return writeResult;
}

}  // namespace

std::optional<std::string> Grant::prepareDirectory(const std::string& directory,
                                                   ScopedHandle& folder,
                                                   std::string& grantPath) {
    const GrantVerdict verdict = judgeDirectory(directory);
    if (verdict.refusal) {
        return verdict.refusal;
    }
    folder = OpenHeldFolder(verdict.approvedPath);
    if (!folder.isValid()) {
        const DWORD error = GetLastError();
        LogError("GetNamedSecurityInfo for obj name %ls Error %u",
                 Utf8ToWide(verdict.approvedPath).c_str(),
                 static_cast<unsigned>(error));
        return std::nullopt;
    }
    if (std::optional<std::string> refusal = HeldObjectRefusal(folder.get())) {
        return refusal;
    }
    // A link anywhere on the way shows as another final path.
    const std::optional<std::string> finalPath = FinalPathOf(folder.get());
    if (!finalPath) {
        return std::string("the folder's final path cannot be had");
    }
    const GrantVerdict held = judgeDirectory(*finalPath);
    if (held.refusal) {
        return held.refusal;
    }
    if (Poco::UTF8::icompare(held.approvedPath, verdict.approvedPath) != 0) {
        return std::string("a folder on the path is a junction or symbolic link");
    }
    grantPath = held.approvedPath;
    return std::nullopt;
}

GrantVerdict Grant::judgeDirectory(const std::string& directory) {
    if (!locationsRead) {
        // The console user's own profile may be granted; their session token names them without
        // a log line of its own (the grant that follows logs what is missing).
        ScopedHandle userToken;
        QueryConsoleUserToken(userToken);
        locations = FindProtectedLocations(userToken.get(), locationsFailure);
        locationsRead = true;
    }
    if (!locations) {
        return GrantVerdict{locationsFailure, std::string()};
    }
    return JudgeGrant(directory, *locations, ProbePath);
}

DWORD Grant::setObjectPermissions(const std::wstring& objectName,
                                  const std::string& grantName,
                                  HANDLE object,
                                  SE_OBJECT_TYPE objectType,
                                  PSID sid,
                                  TRUSTEE_FORM trusteeForm,
                                  DWORD accessPermissions,
                                  ACCESS_MODE accessMode,
                                  DWORD inheritance) {
    const bool isKey = objectType != SE_FILE_OBJECT;
    // A key is opened here, as itself; a folder was opened when it was checked. Everything that
    // follows goes through the handle.
    ScopedRegistryKey key;
    if (isKey) {
        if (const DWORD opened = OpenKeyAsItself(objectName, grantName, objectType, key)) {
            return opened;
        }
        object = key.get();
    }
    CurrentList current;
    if (const DWORD read = ReadAccessList(object, isKey, objectName, current)) {
        return read;
    }

    EXPLICIT_ACCESS_A access =
        UserEntry(sid, trusteeForm, accessPermissions, accessMode, inheritance);
    ScopedLocalMemory<ACL> newAcl;
    if (const DWORD built = BuildAccessList(access, current.acl, objectName, newAcl)) {
        return built;
    }
    // Stored as Windows stores an entry that applies here: generic rights mapped, so that what
    // the children inherit is what the folder holds.
    MapExplicitGenericRights(newAcl.get(), isKey);

    // Everything below first, the object itself last: until every child has been judged and
    // written, the object's own list gives nothing new to what is created in it, and a walk
    // that is refused half way leaves it as it was.
    const WalkOutcome walk = isKey ? GrantKeyTree(key.get(), newAcl.get(), grantName)
                                   : GrantFolderTree(object, newAcl.get(), grantName);
    if (walk.error != ERROR_SUCCESS) {
        LogWarning(
            "Refusing to grant full control of %s: %s", grantName.c_str(), walk.refusal.c_str());
        return walk.error;
    }
    return WriteOwnList(object, key.get(), newAcl.get(), current.isProtected, objectName);
}

std::string Grant::getSidAccountName(PSID sid) {
    WCHAR name[LookupBufferCapacity] = {};
    WCHAR domain[LookupBufferCapacity] = {};
    DWORD nameLength = LookupBufferCapacity;
    DWORD domainLength = LookupBufferCapacity;
    SID_NAME_USE use = SidTypeUnknown;
    if (!LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
        const DWORD error = GetLastError();
        LogError("LookupAccountSidW failed %d", static_cast<int>(error));
        return "?";
    }
    return WideToUtf8(domain) + "/" + WideToUtf8(name);
}

}  // namespace OrvaneClient

#include "core/logfacade/LogFacade.h"
#include "core/util/Constants.h"
#include "core/util/WideString.h"
#include "core/windows/AccessToken.h"
#include "core/windows/ScopedHandle.h"
#include "core/windows/ScopedLocalMemory.h"
#include "core/windows/UserIdentity.h"
#include "service/GrantTargetPolicy.h"
#include "service/MachineLocations.h"
#include "service/OrvaneService.h"

#include <Poco/String.h>

#include <vector>

namespace OrvaneClient {
namespace {

// GetTokenAccountName's buffers: the account is only checked for, its text not used.
constexpr DWORD AccountNameCapacity = 32;
constexpr DWORD AccountDomainCapacity = 16;
constexpr DWORD LookupBufferCapacity = 260;

// The security calls name registry keys from their root key's short name.
std::wstring RegistryObjectName(const std::string& key) {
    return Utf8ToWide(
        Poco::replace(key, std::string("HKEY_LOCAL_MACHINE"), std::string("MACHINE")));
}

SE_OBJECT_TYPE RegistryObjectType() {
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) {
        // The 32-bit service on 64-bit Windows: the client's keys live in the 32-bit view.
        return SE_REGISTRY_WOW64_32KEY;
    }
    return SE_REGISTRY_KEY;
}

// The object's access list (DACL alone) into a LocalAlloc'd descriptor. A held object is read
// through its handle, never by its name again.
DWORD ReadAccessList(const std::wstring& name,
                     HANDLE object,
                     SE_OBJECT_TYPE type,
                     PACL* acl,
                     PSECURITY_DESCRIPTOR* descriptor) {
    if (object != nullptr) {
        return GetSecurityInfo(
            object, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr, descriptor);
    }
    return GetNamedSecurityInfoW(
        name.c_str(), type, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr, descriptor);
}

}  // namespace

bool OrvaneService::fixDirectoryPrivileges(const char* directory, size_t /*length*/) {
    bool directoryGranted = false;
    ScopedHandle folder;
    std::string grantPath;
    if (const std::optional<std::string> refusal =
            prepareDirectoryGrant(directory, folder, grantPath)) {
        LogWarning("Refusing to grant full control of %s: %s", directory, refusal->c_str());
    } else if (folder.isValid()) {
        // The grant acts on the folder the rules approved, through the handle they looked at.
        directoryGranted = setDirectoryPermissions(folder.get(), Utf8ToWide(grantPath));
    }
    if (directoryGranted) {
        LogInfo("Setting directory permissions for %s OK", directory);
    } else {
        LogWarning("Setting directory permissions for %s FAILED", directory);
    }

    const bool gamesGranted = grantRegistryKey(GamesRegistryKey);
    if (gamesGranted) {
        LogInfo("Setting registry permissions for games OK");
    } else {
        LogWarning("Setting registry permissions for games FAILED");
    }

    const bool clientGranted = grantRegistryKey(ClientRegistryKey);
    if (clientGranted) {
        LogInfo("Setting registry permissions for client OK");
    } else {
        LogWarning("Setting registry permissions for client FAILED");
    }
    return directoryGranted && gamesGranted && clientGranted;
}

GrantVerdict OrvaneService::judgeDirectory(const std::string& directory) {
    // The console user's own profile may be granted; their session token names them without a
    // log line of its own (the grant that follows logs what is missing).
    ScopedHandle userToken;
    QueryConsoleUserToken(userToken);
    std::string failure;
    const std::optional<ProtectedLocations> locations =
        FindProtectedLocations(userToken.get(), failure);
    if (!locations) {
        return GrantVerdict{failure, std::string()};
    }
    return JudgeGrantTarget(directory, *locations, ProbePath);
}

bool OrvaneService::grantRegistryKey(const std::string& key) {
    if (const std::optional<std::string> refusal = registryLinkRefusal(key)) {
        LogWarning("Refusing to grant full control of %s: %s", key.c_str(), refusal->c_str());
        return false;
    }
    return setRegistryPermissions(RegistryObjectName(key));
}

bool OrvaneService::setDirectoryPermissions(HANDLE folder, const std::wstring& directory) {
    return grantConsoleUserFullControl(directory, false, folder);
}

bool OrvaneService::setRegistryPermissions(const std::wstring& objectName) {
    return grantConsoleUserFullControl(objectName, true, nullptr);
}

bool OrvaneService::grantConsoleUserFullControl(const std::wstring& objectName,
                                                bool registryKey,
                                                HANDLE object) {
    ScopedHandle shellToken(getShellUserToken());
    if (!shellToken.isValid()) {
        return false;
    }
    char name[AccountNameCapacity] = {};
    char domain[AccountDomainCapacity] = {};
    // Without the account or the SID nothing can be granted: the grant has failed, and the
    // client must not be told that the object is now writable.
    if (!GetTokenAccountName(
            shellToken.get(), name, AccountNameCapacity, domain, AccountDomainCapacity)) {
        return false;
    }
    const std::optional<TokenUserSid> sid = GetCurrentUserSID();
    if (!sid) {
        return false;
    }
    // The WOW64 question is asked only now, once there is something to grant.
    const SE_OBJECT_TYPE objectType = registryKey ? RegistryObjectType() : SE_FILE_OBJECT;
    return setObjectPermissions(objectName,
                                object,
                                objectType,
                                sid->get(),
                                TRUSTEE_IS_SID,
                                GENERIC_ALL,
                                GRANT_ACCESS,
                                SUB_CONTAINERS_AND_OBJECTS_INHERIT) == ERROR_SUCCESS;
}

DWORD OrvaneService::setObjectPermissions(const std::wstring& objectName,
                                          HANDLE object,
                                          SE_OBJECT_TYPE objectType,
                                          PSID sid,
                                          TRUSTEE_FORM trusteeForm,
                                          DWORD accessPermissions,
                                          ACCESS_MODE accessMode,
                                          DWORD inheritance) {
    PACL currentAcl = nullptr;
    PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
    const DWORD readResult =
        ReadAccessList(objectName, object, objectType, &currentAcl, &rawDescriptor);
    // The list read lies inside the descriptor: freeing the descriptor frees both.
    ScopedLocalMemory<void> descriptor(rawDescriptor);
    if (readResult != ERROR_SUCCESS) {
        LogError("GetNamedSecurityInfo for obj name %ls Error %u",
                 objectName.c_str(),
                 static_cast<unsigned>(readResult));
        return readResult;
    }

    EXPLICIT_ACCESS_A access = {};
    access.grfAccessPermissions = accessPermissions;
    access.grfAccessMode = accessMode;
    access.grfInheritance = inheritance;
    access.Trustee.pMultipleTrustee = nullptr;
    access.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    access.Trustee.TrusteeForm = trusteeForm;
    access.Trustee.TrusteeType = TRUSTEE_IS_USER;
    access.Trustee.ptstrName = static_cast<LPSTR>(sid);
    PACL rawNewAcl = nullptr;
    const DWORD buildResult = SetEntriesInAclA(1, &access, currentAcl, &rawNewAcl);
    ScopedLocalMemory<ACL> newAcl(rawNewAcl);
    if (buildResult != ERROR_SUCCESS) {
        const std::string account = getSidAccountName(sid);
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
        return buildResult;
    }

    std::vector<WCHAR> name = WritableWide(objectName);
    const DWORD writeResult = object != nullptr ? SetSecurityInfo(object,
                                                                  objectType,
                                                                  DACL_SECURITY_INFORMATION,
                                                                  nullptr,
                                                                  sid,
                                                                  newAcl.get(),
                                                                  nullptr)
                                                : SetNamedSecurityInfoW(name.data(),
                                                                        objectType,
                                                                        DACL_SECURITY_INFORMATION,
                                                                        nullptr,
                                                                        sid,
                                                                        newAcl.get(),
                                                                        nullptr);
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

std::string OrvaneService::getSidAccountName(PSID sid) {
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

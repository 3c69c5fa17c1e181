// Security identifiers: EqualSid, GetSidSubAuthority(Count),
// ConvertSidToStringSidA and the account lookups LookupAccountSidA/W.

#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"
#include "machine/SidText.h"

#include <Poco/String.h>

#include <cstddef>
#include <cstring>
#include <sddl.h>

using namespace Win32Emu;

namespace {

struct AccountName {
    std::string name;
    std::string domain;
    SID_NAME_USE use = SidTypeUser;
};

// Accounts that every Windows machine knows, whatever the profile lists.
// clang-format off
const struct {
    const char* sid;
    const char* name;
    const char* domain;
    SID_NAME_USE use;
} wellKnownAccounts[] = {
    {"S-1-1-0",      "Everyone",        "",             SidTypeWellKnownGroup},
    {"S-1-5-18",     "SYSTEM",          "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-19",     "LOCAL SERVICE",   "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-20",     "NETWORK SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-32-544", "Administrators",  "BUILTIN",      SidTypeAlias},
    {"S-1-5-32-545", "Users",           "BUILTIN",      SidTypeAlias},
};
// clang-format on

std::optional<AccountName> accountOf(const std::string& sid) {
    {
        MachineModel& model = Model();
        std::lock_guard<std::mutex> guard(model.lock);
        const auto& accounts = model.configuration.accounts;
        const auto found = accounts.find(Poco::toUpper(sid));
        if (found != accounts.end()) {
            const bool wellKnown = sid.compare(0, 9, "S-1-5-21-") != 0;
            return AccountName{found->second.name,
                               found->second.domain,
                               wellKnown ? SidTypeWellKnownGroup : SidTypeUser};
        }
    }
    for (const auto& account : wellKnownAccounts) {
        if (sid == account.sid) {
            return AccountName{account.name, account.domain, account.use};
        }
    }
    return std::nullopt;
}

// The lookup shared by the narrow and wide forms; `Text` is std::string or std::wstring.
template <class Char, class Convert>
BOOL lookupAccountSid(const std::string& systemName,
                      PSID Sid,
                      Char* Name,
                      LPDWORD cchName,
                      Char* ReferencedDomainName,
                      LPDWORD cchReferencedDomainName,
                      PSID_NAME_USE peUse,
                      const char* call,
                      Convert convert) {
    const std::string sid = IsValidSidLayout(Sid) ? SidToText(static_cast<const SID*>(Sid)) : "";
    if (InjectedFailure(call, sid)) {
        return FALSE;
    }
    if (!systemName.empty()) {
        // Lookups on another machine are not emulated.
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (sid.empty()) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    if (cchName == nullptr || cchReferencedDomainName == nullptr || peUse == nullptr) {
        // Windows writes through these unconditionally and faults on a null pointer.
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    const std::optional<AccountName> account = accountOf(sid);
    if (!account) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    const auto name = convert(account->name);
    const auto domain = convert(account->domain);
    if (*cchName <= name.size() || *cchReferencedDomainName <= domain.size() || Name == nullptr ||
        ReferencedDomainName == nullptr) {
        *cchName = static_cast<DWORD>(name.size() + 1);
        *cchReferencedDomainName = static_cast<DWORD>(domain.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(name.begin(), name.end(), Name);
    Name[name.size()] = 0;
    std::copy(domain.begin(), domain.end(), ReferencedDomainName);
    ReferencedDomainName[domain.size()] = 0;
    *cchName = static_cast<DWORD>(name.size());
    *cchReferencedDomainName = static_cast<DWORD>(domain.size());
    *peUse = account->use;
    return TRUE;
}

}  // namespace

extern "C" {

PUCHAR WINAPI GetSidSubAuthorityCount(PSID pSid) {
    return &static_cast<SID*>(pSid)->SubAuthorityCount;
}

PDWORD WINAPI GetSidSubAuthority(PSID pSid, DWORD nSubAuthority) {
    // The sub-authorities follow the fixed part; SubAuthority[1] only declares the first.
    BYTE* bytes = static_cast<BYTE*>(pSid);
    return reinterpret_cast<PDWORD>(bytes + offsetof(SID, SubAuthority) +
                                    nSubAuthority * sizeof(DWORD));
}

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
    if (!IsValidSidLayout(pSid1) || !IsValidSidLayout(pSid2)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    // Windows leaves the last error alone on a comparison, equal or not.
    const DWORD length = SidByteLength(pSid1);
    return length == SidByteLength(pSid2) && std::memcmp(pSid1, pSid2, length) == 0;
}

BOOL WINAPI ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid) {
    const std::string text = IsValidSidLayout(Sid) ? SidToText(static_cast<const SID*>(Sid)) : "";
    if (InjectedFailure("ConvertSidToStringSidA", text)) {
        return FALSE;
    }
    if (Sid == nullptr || StringSid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (text.empty()) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    void* block = AllocateLocal(text.size() + 1, "ConvertSidToStringSidA");
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    std::memcpy(block, text.c_str(), text.size() + 1);
    *StringSid = static_cast<LPSTR>(block);
    return TRUE;
}

BOOL WINAPI LookupAccountSidA(LPCSTR lpSystemName,
                              PSID Sid,
                              LPSTR Name,
                              LPDWORD cchName,
                              LPSTR ReferencedDomainName,
                              LPDWORD cchReferencedDomainName,
                              PSID_NAME_USE peUse) {
    return lookupAccountSid(lpSystemName == nullptr ? std::string() : std::string(lpSystemName),
                            Sid,
                            Name,
                            cchName,
                            ReferencedDomainName,
                            cchReferencedDomainName,
                            peUse,
                            "LookupAccountSidA",
                            [](const std::string& text) { return text; });
}

BOOL WINAPI LookupAccountSidW(LPCWSTR lpSystemName,
                              PSID Sid,
                              LPWSTR Name,
                              LPDWORD cchName,
                              LPWSTR ReferencedDomainName,
                              LPDWORD cchReferencedDomainName,
                              PSID_NAME_USE peUse) {
    return lookupAccountSid(ToUtf8(lpSystemName),
                            Sid,
                            Name,
                            cchName,
                            ReferencedDomainName,
                            cchReferencedDomainName,
                            peUse,
                            "LookupAccountSidW",
                            [](const std::string& text) { return ToWide(text); });
}

}  // extern "C"

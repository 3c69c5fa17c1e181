// Security identifiers: IsValidSid, EqualSid, GetLengthSid, ConvertSidToStringSidA and the
// account lookups LookupAccountSidA/W.

#include "ApiSupport.h"
#include "MachineModel.h"

#include <cstring>
#include <sddl.h>

using namespace Win32Emu;

extern "C" {

BOOL WINAPI IsValidSid(PSID pSid) {
    const auto* sid = static_cast<const SID*>(pSid);
    return sid != nullptr && sid->Revision == SID_REVISION &&
           sid->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES;
}

DWORD WINAPI GetLengthSid(PSID pSid) {
    // Windows reads the count without checking the SID; so does this.
    const auto* sid = static_cast<const SID*>(pSid);
    return static_cast<DWORD>(sizeof(SID) - sizeof(DWORD) + sid->SubAuthorityCount * sizeof(DWORD));
}

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
    if (!IsValidSid(pSid1) || !IsValidSid(pSid2)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    // Windows leaves the last error alone on a comparison, equal or not.
    const DWORD length = GetLengthSid(pSid1);
    return length == GetLengthSid(pSid2) && std::memcmp(pSid1, pSid2, length) == 0;
}

BOOL WINAPI ConvertSidToStringSidA(PSID, LPSTR*) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI LookupAccountSidA(LPCSTR, PSID, LPSTR, LPDWORD, LPSTR, LPDWORD, PSID_NAME_USE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

BOOL WINAPI LookupAccountSidW(LPCWSTR, PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

}  // extern "C"

#pragma once

// An object's list as the security calls hand it out, in its bytes, so that two reads compare.

#include "core/windows/Win32Api.h"

#include <vector>

namespace OrvaneClient::Testing {

// `read(&dacl, &block)` is one GetSecurityInfo or GetNamedSecurityInfoW asking for the DACL; the
// block it hands out is freed. Empty when the read fails.
template <typename Read>
std::vector<BYTE> ListBytes(Read read) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR block = nullptr;
    if (read(&dacl, &block) != ERROR_SUCCESS) {
        return {};
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(dacl);
    std::vector<BYTE> list(bytes, bytes + dacl->AclSize);
    LocalFree(block);
    return list;
}

}  // namespace OrvaneClient::Testing

#pragma once

// SIDs laid out by hand, as Windows stores them (revision, count, big-endian authority, then
// little-endian sub-authorities), and the checks of LookupAccountSidA and W.

#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace OrvaneClient::Testing {

inline std::vector<BYTE> SidBytes(const std::vector<BYTE>& authority,
                                  const std::vector<DWORD>& subAuthorities) {
    std::vector<BYTE> bytes(8 + 4 * subAuthorities.size(), 0);
    bytes[0] = SID_REVISION;
    bytes[1] = static_cast<BYTE>(subAuthorities.size());
    std::memcpy(&bytes[2], authority.data(), 6);
    if (!subAuthorities.empty()) {
        std::memcpy(&bytes[8], subAuthorities.data(), 4 * subAuthorities.size());
    }
    return bytes;
}

// The SID of `text` ("S-1-5-18"; authority below 256).
inline std::vector<BYTE> SidOf(const char* text) {
    std::vector<DWORD> parts;
    const std::string rest = std::string(text).substr(4);  // past "S-1-"
    size_t position = 0;
    while (position != std::string::npos) {
        const size_t dash = rest.find('-', position);
        parts.push_back(static_cast<DWORD>(std::stoul(rest.substr(position, dash - position))));
        position = dash == std::string::npos ? dash : dash + 1;
    }
    const std::vector<BYTE> authority{0, 0, 0, 0, 0, static_cast<BYTE>(parts.front())};
    return SidBytes(authority, std::vector<DWORD>(parts.begin() + 1, parts.end()));
}

const std::vector<BYTE> NtAuthority{0, 0, 0, 0, 0, 5};

// One lookup and what it gives. Sizes are in characters: the zero included when a buffer is
// short, the text alone on success.
struct LookupCase {
    const char* sid;
    DWORD nameCapacity;
    DWORD domainCapacity;
    DWORD error;  // 0: succeeds
    DWORD nameCount;
    DWORD domainCount;
    const char* name;
    const char* domain;
    SID_NAME_USE use;
};

inline void ExpectLookupA(const LookupCase& entry) {
    SCOPED_TRACE(std::string(entry.sid) + " " + std::to_string(entry.nameCapacity) + "/" +
                 std::to_string(entry.domainCapacity));
    std::vector<BYTE> sid = SidOf(entry.sid);
    std::vector<char> name(entry.nameCapacity + 1, 'x');
    std::vector<char> domain(entry.domainCapacity + 1, 'x');
    DWORD nameCount = entry.nameCapacity;
    DWORD domainCount = entry.domainCapacity;
    SID_NAME_USE use = SidTypeInvalid;
    SetLastError(0xdeadbeef);
    const BOOL found = LookupAccountSidA(nullptr,
                                         sid.data(),
                                         entry.nameCapacity ? name.data() : nullptr,
                                         &nameCount,
                                         entry.domainCapacity ? domain.data() : nullptr,
                                         &domainCount,
                                         &use);
    EXPECT_EQ(entry.error == 0, found != FALSE);
    EXPECT_EQ(entry.error == 0 ? 0xdeadbeefu : entry.error, GetLastError());
    EXPECT_EQ(entry.nameCount, nameCount);
    EXPECT_EQ(entry.domainCount, domainCount);
    EXPECT_EQ(entry.use, use);
    if (entry.name != nullptr) {
        EXPECT_STREQ(entry.name, name.data());
        EXPECT_STREQ(entry.domain, domain.data());
    }
}

inline void ExpectLookupW(const LookupCase& entry) {
    SCOPED_TRACE(std::string(entry.sid) + " " + std::to_string(entry.nameCapacity));
    std::vector<BYTE> sid = SidOf(entry.sid);
    std::vector<WCHAR> name(entry.nameCapacity + 1, L'x');
    std::vector<WCHAR> domain(entry.domainCapacity + 1, L'x');
    DWORD nameCount = entry.nameCapacity;
    DWORD domainCount = entry.domainCapacity;
    SID_NAME_USE use = SidTypeInvalid;
    SetLastError(0xdeadbeef);
    const BOOL found = LookupAccountSidW(
        nullptr, sid.data(), name.data(), &nameCount, domain.data(), &domainCount, &use);
    EXPECT_EQ(entry.error == 0, found != FALSE);
    EXPECT_EQ(entry.error == 0 ? 0xdeadbeefu : entry.error, GetLastError());
    EXPECT_EQ(entry.nameCount, nameCount);
    EXPECT_EQ(entry.domainCount, domainCount);
    if (entry.name != nullptr) {
        EXPECT_EQ(std::wstring(entry.name, entry.name + std::strlen(entry.name)),
                  std::wstring(name.data()));
    }
}

template <size_t Count>
void ExpectLookups(const LookupCase (&cases)[Count]) {
    for (const LookupCase& entry : cases) {
        ExpectLookupA(entry);
        ExpectLookupW(entry);
    }
}

}  // namespace OrvaneClient::Testing

// SIDs in Windows' binary layout, their text form and the account lookups.

#include "tests/support/EmulatedMachineTest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sddl.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;

const char* const playerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";

// A SID laid out by hand, as Windows stores it: revision, count, big-endian authority, then
// little-endian sub-authorities.
std::vector<BYTE> sidBytes(const std::vector<BYTE>& authority,
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

const std::vector<BYTE> ntAuthority{0, 0, 0, 0, 0, 5};

class SidsTest : public EmulatedMachineTest {};

TEST_F(SidsTest, SidsConvertToTheirTextInACountedLocalAllocBlock) {
    const struct {
        std::vector<BYTE> sid;
        const char* text;
    } cases[] = {
        {sidBytes(ntAuthority, {18}), "S-1-5-18"},
        {sidBytes(ntAuthority, {21, 2254011875u, 3712098642u, 1289462413u, 1001}), playerSid},
        {sidBytes(ntAuthority, {}), "S-1-5"},
        {sidBytes({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, {1}), "S-1-0x123456789ABC-1"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.text);
        std::vector<BYTE> sid = entry.sid;
        EXPECT_TRUE(IsValidSid(sid.data()));
        EXPECT_EQ(sid.size(), GetLengthSid(sid.data()));
        LPSTR text = nullptr;
        SetLastError(0xdeadbeef);
        ASSERT_TRUE(ConvertSidToStringSidA(sid.data(), &text));
        EXPECT_EQ(0xdeadbeefu, GetLastError());
        EXPECT_STREQ(entry.text, text);
        EXPECT_EQ(localAllocsAtStart + 1, machine().localAllocCount());
        EXPECT_EQ(nullptr, LocalFree(text));
    }
}

TEST_F(SidsTest, ConvertSidToStringSidRejectsWhatIsNoSid) {
    std::vector<BYTE> wrongRevision = sidBytes(ntAuthority, {18});
    wrongRevision[0] = 2;
    std::vector<BYTE> system = sidBytes(ntAuthority, {18});
    LPSTR text = nullptr;
    const struct {
        PSID sid;
        LPSTR* out;
        DWORD error;
    } cases[] = {
        {nullptr, &text, ERROR_INVALID_PARAMETER},
        {system.data(), nullptr, ERROR_INVALID_PARAMETER},
        {wrongRevision.data(), &text, ERROR_INVALID_SID},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.error);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ConvertSidToStringSidA(entry.sid, entry.out));
        EXPECT_EQ(entry.error, GetLastError());
    }
    EXPECT_FALSE(IsValidSid(wrongRevision.data()));
    EXPECT_EQ(localAllocsAtStart, machine().localAllocCount());
}

TEST_F(SidsTest, EqualSidComparesTheBytes) {
    std::vector<BYTE> a = sidBytes(ntAuthority, {18});
    std::vector<BYTE> b = sidBytes(ntAuthority, {18});
    std::vector<BYTE> c = sidBytes(ntAuthority, {19});
    std::vector<BYTE> longer = sidBytes(ntAuthority, {18, 0});
    EXPECT_TRUE(EqualSid(a.data(), b.data()));
    EXPECT_FALSE(EqualSid(a.data(), c.data()));
    EXPECT_FALSE(EqualSid(a.data(), longer.data()));
}

// LookupAccountSidA and W report their sizes in characters: the zero included when a buffer is
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

const LookupCase lookupCases[] = {
    {"S-1-5-18", 32, 16, 0, 6, 12, "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-18", 7, 13, 0, 6, 12, "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
    {playerSid, 32, 16, 0, 6, 9, "Player", "GAMING-PC", SidTypeUser},
    {playerSid, 0, 0, ERROR_INSUFFICIENT_BUFFER, 7, 10, nullptr, nullptr, SidTypeInvalid},
    {playerSid, 6, 16, ERROR_INSUFFICIENT_BUFFER, 7, 10, nullptr, nullptr, SidTypeInvalid},
    {playerSid, 32, 9, ERROR_INSUFFICIENT_BUFFER, 7, 10, nullptr, nullptr, SidTypeInvalid},
    {"S-1-5-21-1-2-3-500", 32, 16, ERROR_NONE_MAPPED, 32, 16, nullptr, nullptr, SidTypeInvalid},
};

// The SID of `text` (authority below 256) in bytes, laid out by hand.
std::vector<BYTE> sidOf(const char* text);

TEST_F(SidsTest, LookupAccountSidAReportsNamesAndSizes) {
    for (const LookupCase& entry : lookupCases) {
        SCOPED_TRACE(std::string(entry.sid) + " " + std::to_string(entry.nameCapacity) + "/" +
                     std::to_string(entry.domainCapacity));
        std::vector<BYTE> sid = sidOf(entry.sid);
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
}

TEST_F(SidsTest, LookupAccountSidWCountsWideCharacters) {
    for (const LookupCase& entry : lookupCases) {
        SCOPED_TRACE(std::string(entry.sid) + " " + std::to_string(entry.nameCapacity));
        std::vector<BYTE> sid = sidOf(entry.sid);
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
}

TEST_F(SidsTest, LookupAccountSidRejectsBadArguments) {
    std::vector<BYTE> system = sidOf("S-1-5-18");
    std::vector<BYTE> invalid = system;
    invalid[0] = 3;
    char name[32];
    char domain[16];
    const struct {
        const char* systemName;
        PSID sid;
        DWORD error;
    } cases[] = {
        {nullptr, invalid.data(), ERROR_INVALID_SID},
        {nullptr, nullptr, ERROR_INVALID_SID},
        {"OTHER-PC", system.data(), ERROR_CALL_NOT_IMPLEMENTED},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.error);
        DWORD nameCount = sizeof(name);
        DWORD domainCount = sizeof(domain);
        SID_NAME_USE use;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(LookupAccountSidA(
            entry.systemName, entry.sid, name, &nameCount, domain, &domainCount, &use));
        EXPECT_EQ(entry.error, GetLastError());
    }
}

std::vector<BYTE> sidOf(const char* text) {
    std::vector<DWORD> parts;
    std::string rest = std::string(text).substr(4);  // past "S-1-"
    size_t position = 0;
    while (position != std::string::npos) {
        const size_t dash = rest.find('-', position);
        parts.push_back(static_cast<DWORD>(std::stoul(rest.substr(position, dash - position))));
        position = dash == std::string::npos ? dash : dash + 1;
    }
    std::vector<BYTE> authority{0, 0, 0, 0, 0, static_cast<BYTE>(parts.front())};
    return sidBytes(authority, std::vector<DWORD>(parts.begin() + 1, parts.end()));
}

}  // namespace

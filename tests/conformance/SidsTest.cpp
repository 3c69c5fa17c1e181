// SIDs in Windows' binary layout, their text form and the lookups of well-known accounts.

#include "ConformanceFixture.h"
#include "core/windows/Win32Api.h"
#include "tests/support/SidTesting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using OrvaneClient::Testing::ConformanceTest;
using OrvaneClient::Testing::ExpectLookups;
using OrvaneClient::Testing::LookupCase;
using OrvaneClient::Testing::NtAuthority;
using OrvaneClient::Testing::SidBytes;
using OrvaneClient::Testing::SidOf;

class SidsTest : public ConformanceTest {};

TEST_F(SidsTest, SidsConvertToTheirTextLeavingTheLastError) {
    const struct {
        std::vector<BYTE> sid;
        const char* text;
    } cases[] = {
        {SidBytes(NtAuthority, {18}), "S-1-5-18"},
        {SidBytes(NtAuthority, {21, 2254011875u, 3712098642u, 1289462413u, 1001}),
         "S-1-5-21-2254011875-3712098642-1289462413-1001"},
        {SidBytes(NtAuthority, {}), "S-1-5"},
        {SidBytes({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, {1}), "S-1-0x123456789ABC-1"},
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
        EXPECT_EQ(nullptr, LocalFree(text));
    }
}

TEST_F(SidsTest, ConvertSidToStringSidRejectsWhatIsNoSid) {
    std::vector<BYTE> wrongRevision = SidBytes(NtAuthority, {18});
    wrongRevision[0] = 2;
    std::vector<BYTE> system = SidBytes(NtAuthority, {18});
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
}

TEST_F(SidsTest, EqualSidComparesTheBytes) {
    std::vector<BYTE> a = SidBytes(NtAuthority, {18});
    std::vector<BYTE> b = SidBytes(NtAuthority, {18});
    std::vector<BYTE> c = SidBytes(NtAuthority, {19});
    std::vector<BYTE> longer = SidBytes(NtAuthority, {18, 0});
    EXPECT_TRUE(EqualSid(a.data(), b.data()));
    EXPECT_FALSE(EqualSid(a.data(), c.data()));
    EXPECT_FALSE(EqualSid(a.data(), longer.data()));
}

const LookupCase lookupCases[] = {
    {"S-1-5-18", 32, 16, 0, 6, 12, "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-18", 7, 13, 0, 6, 12, "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-18", 0, 0, ERROR_INSUFFICIENT_BUFFER, 7, 13, nullptr, nullptr, SidTypeInvalid},
    {"S-1-5-18", 6, 16, ERROR_INSUFFICIENT_BUFFER, 7, 13, nullptr, nullptr, SidTypeInvalid},
    {"S-1-5-18", 32, 12, ERROR_INSUFFICIENT_BUFFER, 7, 13, nullptr, nullptr, SidTypeInvalid},
    {"S-1-5-21-1-2-3-500", 32, 16, ERROR_NONE_MAPPED, 32, 16, nullptr, nullptr, SidTypeInvalid},
};

TEST_F(SidsTest, LookupAccountSidAAndWReportNamesAndSizesInCharacters) {
    ExpectLookups(lookupCases);
}

TEST_F(SidsTest, LookupAccountSidRejectsWhatIsNoSid) {
    std::vector<BYTE> invalid = SidOf("S-1-5-18");
    invalid[0] = 3;
    char name[32];
    char domain[16];
    for (PSID sid : {static_cast<PSID>(invalid.data()), static_cast<PSID>(nullptr)}) {
        SCOPED_TRACE(sid == nullptr ? "null" : "revision 3");
        DWORD nameCount = sizeof(name);
        DWORD domainCount = sizeof(domain);
        SID_NAME_USE use;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(LookupAccountSidA(nullptr, sid, name, &nameCount, domain, &domainCount, &use));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SID), GetLastError());
    }
}

}  // namespace

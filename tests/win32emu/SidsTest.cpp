// The account lookups, and what the emulation leaves out. The SID calls themselves are checked
// by the conformance suite; the lookups stay here until Windows settles where Wine disagrees
// (the counts on success and the error for a SID that is no SID).

#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/SidTesting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sddl.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;
using OrvaneClient::Testing::ExpectLookups;
using OrvaneClient::Testing::LookupCase;
using OrvaneClient::Testing::NtAuthority;
using OrvaneClient::Testing::SidBytes;
using OrvaneClient::Testing::SidOf;

const char* const playerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";

class SidsTest : public EmulatedMachineTest {};

TEST_F(SidsTest, SidTextIsACountedLocalAllocBlock) {
    std::vector<BYTE> sid = SidBytes(NtAuthority, {18});
    LPSTR text = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(sid.data(), &text));
    EXPECT_EQ(localAllocsAtStart + 1, machine().localAllocCount());
    EXPECT_EQ(nullptr, LocalFree(text));
    EXPECT_FALSE(ConvertSidToStringSidA(nullptr, &text));
    EXPECT_EQ(localAllocsAtStart, machine().localAllocCount());
}

const LookupCase lookupCases[] = {
    {"S-1-5-18", 32, 16, 0, 6, 12, "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-18", 7, 13, 0, 6, 12, "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-18", 0, 0, ERROR_INSUFFICIENT_BUFFER, 7, 13, nullptr, nullptr, SidTypeInvalid},
    {"S-1-5-18", 6, 16, ERROR_INSUFFICIENT_BUFFER, 7, 13, nullptr, nullptr, SidTypeInvalid},
    {"S-1-5-18", 32, 12, ERROR_INSUFFICIENT_BUFFER, 7, 13, nullptr, nullptr, SidTypeInvalid},
    {"S-1-5-21-1-2-3-500", 32, 16, ERROR_NONE_MAPPED, 32, 16, nullptr, nullptr, SidTypeInvalid},
    {playerSid, 32, 16, 0, 6, 9, "Player", "GAMING-PC", SidTypeUser},
    {playerSid, 0, 0, ERROR_INSUFFICIENT_BUFFER, 7, 10, nullptr, nullptr, SidTypeInvalid},
    {playerSid, 6, 16, ERROR_INSUFFICIENT_BUFFER, 7, 10, nullptr, nullptr, SidTypeInvalid},
    {playerSid, 32, 9, ERROR_INSUFFICIENT_BUFFER, 7, 10, nullptr, nullptr, SidTypeInvalid},
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

TEST_F(SidsTest, LookupOnAnotherMachineIsNotEmulated) {
    std::vector<BYTE> system = SidOf("S-1-5-18");
    char name[32];
    char domain[16];
    DWORD nameCount = sizeof(name);
    DWORD domainCount = sizeof(domain);
    SID_NAME_USE use;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(
        LookupAccountSidA("OTHER-PC", system.data(), name, &nameCount, domain, &domainCount, &use));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
}

}  // namespace

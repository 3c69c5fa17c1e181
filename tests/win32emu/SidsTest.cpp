// The account lookups of the machine's own users, and what the emulation leaves out. The SID
// calls themselves are checked by the conformance suite.

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
    {playerSid, 32, 16, 0, 6, 9, "Player", "GAMING-PC", SidTypeUser},
    {playerSid, 0, 0, ERROR_INSUFFICIENT_BUFFER, 7, 10, nullptr, nullptr, SidTypeInvalid},
    {playerSid, 6, 16, ERROR_INSUFFICIENT_BUFFER, 7, 10, nullptr, nullptr, SidTypeInvalid},
    {playerSid, 32, 9, ERROR_INSUFFICIENT_BUFFER, 7, 10, nullptr, nullptr, SidTypeInvalid},
};

TEST_F(SidsTest, LookupAccountSidAAndWReportNamesAndSizesInCharacters) {
    ExpectLookups(lookupCases);
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

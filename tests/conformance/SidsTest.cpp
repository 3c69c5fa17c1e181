// SIDs in Windows' binary layout and their text form.

#include "ConformanceFixture.h"
#include "WineDifferences.h"
#include "core/windows/Win32Api.h"
#include "tests/support/SidTesting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using OrvaneClient::Testing::ConformanceTest;
using OrvaneClient::Testing::NtAuthority;
using OrvaneClient::Testing::RunningUnderWine;
using OrvaneClient::Testing::SidBytes;
using OrvaneClient::Testing::SidOf;
using OrvaneClient::Testing::WindowsAnswer;

class SidsTest : public ConformanceTest {};

TEST_F(SidsTest, SidsConvertToTheirTextLeavingTheLastError) {
    const struct {
        std::vector<BYTE> sid;
        const char* text;
        BOOL wineConverts;
    } cases[] = {
        {SidBytes(NtAuthority, {18}), "S-1-5-18", TRUE},
        {SidBytes(NtAuthority, {21, 2254011875u, 3712098642u, 1289462413u, 1001}),
         "S-1-5-21-2254011875-3712098642-1289462413-1001",
         TRUE},
        {SidBytes(NtAuthority, {}), "S-1-5", TRUE},
        // An authority of 2^32 or more is written in hex; Wine 8 refuses such a SID.
        {SidBytes({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}, {1}), "S-1-0x123456789ABC-1", FALSE},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.text);
        std::vector<BYTE> sid = entry.sid;
        LPSTR text = nullptr;
        SetLastError(0xdeadbeef);
        const BOOL converted = ConvertSidToStringSidA(sid.data(), &text);
        EXPECT_TRUE(WindowsAnswer(
            converted, TRUE, entry.wineConverts, "no text for an authority of 2^32 or more"))
            << "ConvertSidToStringSidA, last error " << GetLastError();
        if (!converted) {
            continue;
        }
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
        if (entry.out == nullptr && RunningUnderWine()) {
            // Wine writes through the null pointer.
            continue;
        }
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ConvertSidToStringSidA(entry.sid, entry.out));
        // Wine calls a null SID an invalid one.
        EXPECT_TRUE(WindowsAnswer(GetLastError(),
                                  entry.error,
                                  entry.sid == nullptr ? DWORD{ERROR_INVALID_SID} : entry.error,
                                  "a null SID is ERROR_INVALID_SID"));
    }
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

TEST_F(SidsTest, MapGenericMaskReplacesEachGenericRight) {
    GENERIC_MAPPING files = {
        FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    const struct {
        DWORD mask;
        DWORD mapped;
    } cases[] = {
        {GENERIC_READ | DELETE, FILE_GENERIC_READ | DELETE},
        {GENERIC_WRITE | GENERIC_EXECUTE, FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE},
        {GENERIC_ALL, FILE_ALL_ACCESS},
        {FILE_READ_DATA, FILE_READ_DATA},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.mask);
        DWORD mask = entry.mask;
        MapGenericMask(&mask, &files);
        EXPECT_EQ(mask, entry.mapped);
    }
}

}  // namespace

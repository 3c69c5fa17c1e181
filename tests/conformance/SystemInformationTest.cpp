// Version information, modules and exports: the arguments each call accepts, what it leaves
// alone, and what it reports when a buffer is short.

#include "ConformanceFixture.h"
#include "WineDifferences.h"
#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using OrvaneClient::Testing::ConformanceTest;
using OrvaneClient::Testing::WindowsAnswer;

class SystemInformationTest : public ConformanceTest {};

TEST_F(SystemInformationTest, GetVersionExAcceptsOnlyTheTwoStructureSizes) {
    const struct {
        DWORD size;
        bool accepted;
    } cases[] = {{0, false},
                 {sizeof(OSVERSIONINFOA) - 1, false},
                 {sizeof(OSVERSIONINFOA), true},
                 {sizeof(OSVERSIONINFOEXA) - 1, false},
                 {sizeof(OSVERSIONINFOEXA), true},
                 {sizeof(OSVERSIONINFOEXA) + 1, false}};
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.size);
        OSVERSIONINFOEXA info{};
        info.dwOSVersionInfoSize = entry.size;
        SetLastError(0xdeadbeef);
        EXPECT_EQ(entry.accepted ? TRUE : FALSE,
                  GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
        EXPECT_EQ(entry.accepted ? 0xdeadbeefu : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER),
                  GetLastError());
    }
}

TEST_F(SystemInformationTest, ShortStructureLeavesTheExtendedFieldsAlone) {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0xcc, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
    EXPECT_EQ(0xcccc, info.wServicePackMajor);
    EXPECT_EQ(0xcc, info.wProductType);
}

TEST_F(SystemInformationTest, IsWow64ProcessRejectsOtherHandles) {
    BOOL wow64 = FALSE;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(IsWow64Process(nullptr, &wow64));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(SystemInformationTest, ModuleNamesAreMatchedAsTheLoaderMatchesThem) {
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    for (const char* name : {"KERNEL32.DLL", "kernel32", "C:\\Windows\\system32\\kernel32.dll"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(kernel32, GetModuleHandleA(name));
    }
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, GetModuleHandleA("kernel32."));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST_F(SystemInformationTest, VerSetConditionMaskPlacesThreeBitsPerField) {
    EXPECT_EQ(0x3ull << 3, VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL));
    EXPECT_EQ(0x3ull, VerSetConditionMask(0, VER_MINORVERSION, VER_GREATER_EQUAL));
    EXPECT_EQ(0x1ull << 15, VerSetConditionMask(0, VER_SERVICEPACKMAJOR, VER_EQUAL));
    EXPECT_EQ(0x6ull << 18, VerSetConditionMask(0, VER_SUITENAME, VER_AND));
    EXPECT_EQ(0x5ull, VerSetConditionMask(0x5, VER_MAJORVERSION, 0));
}

TEST_F(SystemInformationTest, VerifyVersionInfoRejectsAnEmptyQuestion) {
    OSVERSIONINFOEXA wanted{};
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(VerifyVersionInfoA(&wanted, 0, VerSetConditionMask(0, VER_MAJORVERSION, 3)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_ARGUMENTS), GetLastError());
}

TEST_F(SystemInformationTest, GetProcAddressFailsForWhatIsNotExported) {
    const HMODULE kernel32 = GetModuleHandleA("KERNEL32");
    ASSERT_NE(nullptr, kernel32);
    const struct {
        HMODULE module;
        const char* name;
        DWORD error;
    } cases[] = {
        {kernel32, "getnativesysteminfo", ERROR_PROC_NOT_FOUND},  // names are case-sensitive
        {kernel32, "NoSuchFunction", ERROR_PROC_NOT_FOUND},
        {GetModuleHandleA(nullptr), "GetNativeSystemInfo", ERROR_PROC_NOT_FOUND},
        {reinterpret_cast<HMODULE>(0x1234), "GetNativeSystemInfo", ERROR_MOD_NOT_FOUND},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(nullptr, GetProcAddress(entry.module, entry.name));
        EXPECT_EQ(entry.error, GetLastError());
    }
}

TEST_F(SystemInformationTest, GetModuleFileNameTruncatesToTheBuffer) {
    WCHAR full[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, full, MAX_PATH);
    ASSERT_GT(length, 5u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    const std::wstring path(full, length);
    std::vector<WCHAR> buffer(MAX_PATH);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(length, GetModuleFileNameW(nullptr, buffer.data(), MAX_PATH));
    EXPECT_EQ(path, buffer.data());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());

    for (DWORD size : {length, DWORD{5}, DWORD{1}}) {
        SCOPED_TRACE(size);
        std::wmemset(buffer.data(), L'#', MAX_PATH);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(size, GetModuleFileNameW(nullptr, buffer.data(), size));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
        // Cut to size - 1 characters and terminated, since Vista; Wine cuts as XP did, to size
        // characters without the zero.
        EXPECT_TRUE(WindowsAnswer(std::wstring(buffer.data(), size),
                                  path.substr(0, size - 1) + L'\0',
                                  path.substr(0, size),
                                  "a cut module name is not terminated"));
        EXPECT_EQ(L'#', buffer[size]);
    }
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0u, GetModuleFileNameW(nullptr, buffer.data(), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

}  // namespace

// Version and system information, modules and exports.

#include "tests/support/EmulatedMachineTest.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <windows.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;

class SystemInformationTest : public EmulatedMachineTest {};

TEST_F(SystemInformationTest, GetVersionExReportsTheMachinesVersion) {
    OSVERSIONINFOEXA info;
    std::memset(&info, 0xcc, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info)));
    EXPECT_EQ(10u, info.dwMajorVersion);
    EXPECT_EQ(0u, info.dwMinorVersion);
    EXPECT_EQ(22631u, info.dwBuildNumber);
    EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), info.dwPlatformId);
    EXPECT_STREQ("", info.szCSDVersion);
    EXPECT_EQ(0, info.wServicePackMajor);
    EXPECT_EQ(0, info.wServicePackMinor);
    EXPECT_EQ(VER_SUITE_SINGLEUSERTS, info.wSuiteMask);
    EXPECT_EQ(VER_NT_WORKSTATION, info.wProductType);
}

// Windows and Wine read through the pointer and fault; the emulation refuses it instead, so that
// a test that gets this wrong fails rather than ends the suite.
TEST_F(SystemInformationTest, GetVersionExRefusesANullStructure) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetVersionExA(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(SystemInformationTest, Wow64ProcessSeesX86UnlessItAsksForTheNativeSystem) {
    SYSTEM_INFO native{};
    SYSTEM_INFO seen{};
    GetNativeSystemInfo(&native);
    GetSystemInfo(&seen);
    EXPECT_EQ(PROCESSOR_ARCHITECTURE_AMD64, native.wProcessorArchitecture);
    EXPECT_EQ(PROCESSOR_ARCHITECTURE_INTEL, seen.wProcessorArchitecture);
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_TRUE(wow64);

    machine().setWow64(false);
    GetSystemInfo(&seen);
    EXPECT_EQ(PROCESSOR_ARCHITECTURE_AMD64, seen.wProcessorArchitecture);
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64);
}

TEST_F(SystemInformationTest, ProductInfoAndSystemMetricsComeFromTheMachine) {
    DWORD product = 0;
    ASSERT_TRUE(GetProductInfo(6, 1, 0, 0, &product));
    EXPECT_EQ(static_cast<DWORD>(PRODUCT_PROFESSIONAL), product);
    EXPECT_FALSE(GetProductInfo(5, 1, 0, 0, &product));
    EXPECT_EQ(static_cast<DWORD>(PRODUCT_UNDEFINED), product);

    EXPECT_EQ(0, GetSystemMetrics(SM_SERVERR2));
    machine().setSystemMetric(SM_SERVERR2, 1);
    EXPECT_EQ(1, GetSystemMetrics(SM_SERVERR2));
    EXPECT_EQ(0, GetSystemMetrics(12345));
}

TEST_F(SystemInformationTest, GetProcAddressFindsCallableExports) {
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(nullptr, kernel32);
    using GetNativeSystemInfoFunction = void(WINAPI*)(LPSYSTEM_INFO);
    const auto getNativeSystemInfo = reinterpret_cast<GetNativeSystemInfoFunction>(
        GetProcAddress(kernel32, "GetNativeSystemInfo"));
    ASSERT_NE(nullptr, getNativeSystemInfo);
    SYSTEM_INFO info{};
    getNativeSystemInfo(&info);
    EXPECT_EQ(PROCESSOR_ARCHITECTURE_AMD64, info.wProcessorArchitecture);
}

TEST_F(SystemInformationTest, AnExportTakenAwayIsNotFound) {
    machine().setExported("kernel32.dll", "GetProductInfo", false);
    const HMODULE kernel32 = GetModuleHandleA("KERNEL32");
    ASSERT_NE(nullptr, kernel32);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, GetProcAddress(kernel32, "GetProductInfo"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    machine().setExported("kernel32.dll", "GetProductInfo", true);
    EXPECT_NE(nullptr, GetProcAddress(kernel32, "GetProductInfo"));
}

TEST_F(SystemInformationTest, UnknownExportCannotBeConfigured) {
    EXPECT_THROW(machine().setExported("kernel32.dll", "NoSuchFunction", true),
                 Poco::InvalidArgumentException);
}

// IsXpSp3OrLater's question and its neighbours, against Windows 7 SP1.
TEST_F(SystemInformationTest, VerifyVersionInfoComparesTheVersionAsAWhole) {
    machine().setVersion(Win32Emu::VersionInfo());
    const DWORD mask =
        VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR | VER_SERVICEPACKMINOR;
    const struct {
        DWORD major, minor;
        WORD servicePack;
        BYTE condition;
        bool satisfied;
    } cases[] = {
        {5, 1, 3, VER_GREATER_EQUAL, true},
        {5, 2, 3, VER_GREATER_EQUAL, true},
        {6, 1, 1, VER_GREATER_EQUAL, true},
        {6, 1, 2, VER_GREATER_EQUAL, false},
        {6, 2, 0, VER_GREATER_EQUAL, false},
        {6, 1, 1, VER_EQUAL, true},
        {6, 1, 0, VER_EQUAL, false},
        {6, 2, 0, VER_LESS, true},
        {6, 1, 1, VER_GREATER, false},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::to_string(entry.major) + "." + std::to_string(entry.minor) + " SP" +
                     std::to_string(entry.servicePack) + " condition " +
                     std::to_string(entry.condition));
        OSVERSIONINFOEXA wanted{};
        wanted.dwOSVersionInfoSize = sizeof(wanted);
        wanted.dwMajorVersion = entry.major;
        wanted.dwMinorVersion = entry.minor;
        wanted.wServicePackMajor = entry.servicePack;
        ULONGLONG conditions = 0;
        for (DWORD bit :
             {VER_MAJORVERSION, VER_MINORVERSION, VER_SERVICEPACKMAJOR, VER_SERVICEPACKMINOR}) {
            conditions = VerSetConditionMask(conditions, bit, entry.condition);
        }
        SetLastError(0xdeadbeef);
        EXPECT_EQ(entry.satisfied ? TRUE : FALSE, VerifyVersionInfoA(&wanted, mask, conditions));
        EXPECT_EQ(entry.satisfied ? 0xdeadbeefu : static_cast<DWORD>(ERROR_OLD_WIN_VERSION),
                  GetLastError());
    }
}

TEST_F(SystemInformationTest, GetModuleFileNameGivesTheMachinesExecutable) {
    const std::wstring path = L"C:\\Program Files (x86)\\Orvane Client\\OrvaneService.exe";
    WCHAR buffer[MAX_PATH];
    SetLastError(0xdeadbeef);
    EXPECT_EQ(static_cast<DWORD>(path.size()), GetModuleFileNameW(nullptr, buffer, MAX_PATH));
    EXPECT_EQ(path, buffer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
}

}  // namespace

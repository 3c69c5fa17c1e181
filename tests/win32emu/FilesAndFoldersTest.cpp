// Drives on the host, shell folders, the current directory and environment strings.

#include "core/windows/Win32Api.h"
#include "tests/support/EmulatedMachineTest.h"

#include <Poco/File.h>
#include <gtest/gtest.h>

#include <Win32Emu/HostPath.h>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;

class FilesAndFoldersTest : public EmulatedMachineTest {};

TEST_F(FilesAndFoldersTest, DrivePathsMapUnderTheHostRoot) {
    const std::string root = hostRoot();
    const struct {
        const char* windows;
        std::string host;
    } cases[] = {
        {"C:\\ProgramData\\OrvaneClient\\logs", root + "/C/ProgramData/OrvaneClient/logs"},
        {"c:/ProgramData/x.log", root + "/C/ProgramData/x.log"},
        {"D:\\Games\\", root + "/D/Games"},
        {"C:", root + "/C"},
        {"C:\\", root + "/C"},
        {"C:\\a\\.\\b\\..\\c", root + "/C/a/c"},
        {"C:\\..\\..\\etc\\passwd", root + "/C/etc/passwd"},
        {"C:\\a\\..\\..\\..\\b", root + "/C/b"},
        {"relative\\path", "relative\\path"},
        {"\\\\server\\share\\file", "\\\\server\\share\\file"},
        {"C:relative", "C:relative"},
        {"", ""},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.windows);
        EXPECT_EQ(entry.host, machine().hostPath(entry.windows));
        EXPECT_EQ(entry.host, Win32Emu::HostPathFromWindowsPath(entry.windows));
    }
}

// A program opening the path by name goes through a junction; the machine's own view does not.
TEST_F(FilesAndFoldersTest, HostPathsOfProgramsGoThroughJunctions) {
    Poco::File(hostRoot() + "/C/Windows/System32").createDirectories();
    machine().setReparsePoint("C:\\ProgramData\\OrvaneClient", "C:\\Windows\\System32");
    const std::string path = "C:\\ProgramData\\OrvaneClient\\logs\\OrvaneService.log";
    EXPECT_EQ(Win32Emu::HostPathFromWindowsPath(path),
              hostRoot() + "/C/Windows/System32/LOGS/ORVANESERVICE.LOG");
    EXPECT_EQ(machine().hostPath(path),
              hostRoot() + "/C/ProgramData/OrvaneClient/logs/OrvaneService.log");
}

TEST_F(FilesAndFoldersTest, ExistingHostEntriesKeepTheirSpelling) {
    Poco::File(hostRoot() + "/C/ProgramData/OrvaneClient").createDirectories();
    EXPECT_EQ(hostRoot() + "/C/ProgramData/OrvaneClient/logs",
              machine().hostPath("c:\\PROGRAMDATA\\orvaneclient\\logs"));
}

TEST_F(FilesAndFoldersTest, CommonAppDataFolderAndItsFailures) {
    WCHAR path[MAX_PATH];
    EXPECT_EQ(S_OK,
              SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path));
    EXPECT_EQ(std::wstring(L"C:\\ProgramData"), path);
    EXPECT_EQ(
        S_OK,
        SHGetFolderPathW(
            nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path));

    EXPECT_EQ(E_INVALIDARG, SHGetFolderPathW(nullptr, 0x7F, nullptr, SHGFP_TYPE_CURRENT, path));
    EXPECT_EQ(E_INVALIDARG, SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 7, path));
    machine().setFolderPath(CSIDL_COMMON_APPDATA, L"");
    EXPECT_EQ(E_FAIL,
              SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path));
}

TEST_F(FilesAndFoldersTest, InjectedFolderFailureIsAnHresult) {
    machine().failWhen(
        "SHGetFolderPathW", std::to_string(CSIDL_COMMON_APPDATA), ERROR_ACCESS_DENIED);
    WCHAR path[MAX_PATH];
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
              SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path));
    EXPECT_TRUE(
        FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path)));
    EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_WINDOWS, nullptr, SHGFP_TYPE_CURRENT, path));
}

TEST_F(FilesAndFoldersTest, ProfilesAndCurrentDirectoriesAreTheMachines) {
    WCHAR buffer[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    ASSERT_TRUE(GetProfilesDirectoryW(buffer, &size));
    EXPECT_EQ(std::wstring(L"C:\\Users"), buffer);
    EXPECT_EQ(9u, size);
    const std::wstring directory = L"C:\\Windows\\system32";
    EXPECT_EQ(directory.size(), GetCurrentDirectoryW(MAX_PATH, buffer));
    EXPECT_EQ(directory, buffer);

    machine().setFolderPath(CSIDL_PROFILES, L"");
    size = MAX_PATH;
    EXPECT_FALSE(GetProfilesDirectoryW(buffer, &size));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(FilesAndFoldersTest, ExpandEnvironmentStringsReplacesKnownVariables) {
    ::setenv("ORVANE_TEST_VAR", "value", 1);
    const struct {
        const wchar_t* source;
        const wchar_t* expanded;
    } cases[] = {
        {L"%ORVANE_TEST_VAR%", L"value"},
        {L"a%orvane_test_var%b", L"avalueb"},
        {L"%NO_SUCH_ORVANE_VAR%", L"%NO_SUCH_ORVANE_VAR%"},
        {L"100% %ORVANE_TEST_VAR%", L"100% value"},
        {L"%%", L"%%"},
        {L"trailing %", L"trailing %"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(testing::Message() << entry.source);
        WCHAR buffer[64];
        const DWORD needed = ExpandEnvironmentStringsW(entry.source, nullptr, 0);
        EXPECT_EQ(std::wcslen(entry.expanded) + 1, needed);
        EXPECT_EQ(needed, ExpandEnvironmentStringsW(entry.source, buffer, 64));
        EXPECT_EQ(std::wstring(entry.expanded), buffer);
    }
    ::unsetenv("ORVANE_TEST_VAR");
}

TEST_F(FilesAndFoldersTest, OneShotFaultsQueueAndStandingFaultsStay) {
    machine().failNext("GetCurrentDirectoryW", ERROR_ACCESS_DENIED);
    machine().failNext("GetCurrentDirectoryW", ERROR_NOT_ENOUGH_MEMORY);
    WCHAR buffer[MAX_PATH];
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0u, GetCurrentDirectoryW(MAX_PATH, buffer));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(0u, GetCurrentDirectoryW(MAX_PATH, buffer));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    EXPECT_NE(0u, GetCurrentDirectoryW(MAX_PATH, buffer));

    machine().failWhen("GetModuleHandleA", "KERNEL32.DLL", ERROR_MOD_NOT_FOUND);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(nullptr, GetModuleHandleA("kernel32.dll"));
    }
    EXPECT_NE(nullptr, GetModuleHandleA("advapi32.dll"));
    machine().clearFaults();
    EXPECT_NE(nullptr, GetModuleHandleA("kernel32.dll"));
}

}  // namespace

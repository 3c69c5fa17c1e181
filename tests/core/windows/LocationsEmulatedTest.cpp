#include "core/windows/Locations.h"
#include "core/windows/Win32Api.h"
#include "tests/core/util/ScopedEnvironmentVariable.h"
#include "tests/support/EmulatedMachineTest.h"
#include "win32emu/include/Win32Emu/Machine.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace OrvaneClient {
namespace {

using Testing::EmulatedMachineTest;
using Testing::ScopedEnvironmentVariable;

class LocationsTest : public EmulatedMachineTest {};

TEST_F(LocationsTest, DataDirectoriesLieUnderTheCommonApplicationDataFolder) {
    machine().setFolderPath(CSIDL_COMMON_APPDATA, L"C:\\ProgramData");
    EXPECT_EQ(GetAppDataDirectory(), "C:\\ProgramData\\OrvaneClient");
    EXPECT_EQ(JoinPath(GetLogsDirectory(), "OrvaneService.log"),
              "C:\\ProgramData\\OrvaneClient\\logs\\OrvaneService.log");
    EXPECT_EQ(GetDownloadsDirectory(), "C:\\ProgramData\\OrvaneClient\\downloads");
    EXPECT_EQ(GetIconsCacheDirectory(), "C:\\ProgramData\\OrvaneClient\\iconscache");
    EXPECT_EQ(GetWebCacheDirectory(), "C:\\ProgramData\\OrvaneClient\\webcache");

    machine().setFolderPath(CSIDL_COMMON_APPDATA, L"D:\\Donn\u00e9es");
    EXPECT_EQ(GetLogsDirectory(),
              "D:\\Donn\xC3\xA9"
              "es\\OrvaneClient\\logs");
}

TEST_F(LocationsTest, WithoutTheFolderAllUsersProfileAndThenTheSystemDriveStandIn) {
    const struct {
        const char* title;
        bool failQuery;  // the folder is there but the query fails
        std::optional<std::string> allUsers;
        std::optional<std::string> systemDrive;
        const char* expected;
    } cases[] = {
        {"profile", false, "D:\\All Users", "E:", "D:\\All Users\\OrvaneClient"},
        {"failed query", true, "D:\\All Users", "E:", "D:\\All Users\\OrvaneClient"},
        {"empty profile", false, "", "E:", "E:\\ProgramData\\OrvaneClient"},
        {"nothing set", false, std::nullopt, std::nullopt, "C:\\ProgramData\\OrvaneClient"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.title);
        machine().setFolderPath(CSIDL_COMMON_APPDATA, entry.failQuery ? L"C:\\ProgramData" : L"");
        if (entry.failQuery) {
            machine().failNext("SHGetFolderPathW", ERROR_ACCESS_DENIED);
        }
        const ScopedEnvironmentVariable allUsers("ALLUSERSPROFILE", entry.allUsers);
        const ScopedEnvironmentVariable systemDrive("SystemDrive", entry.systemDrive);
        EXPECT_EQ(GetAppDataDirectory(), entry.expected);
    }
}

TEST_F(LocationsTest, ModuleDirectoryOrElseTheCurrentDirectoryWithATrailingBackslash) {
    machine().setModuleFileName(L"C:\\Tools\\service.exe");
    EXPECT_EQ(GetModuleDirectory(), "C:\\Tools\\");
    machine().setModuleFileName(L"D:\\run.exe");
    EXPECT_EQ(GetModuleDirectory(), "D:\\");

    machine().setCurrentDirectory(L"C:\\Windows\\system32");
    machine().failNext("GetModuleFileNameW", ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetModuleDirectory(), "C:\\Windows\\system32\\");

    machine().failNext("GetModuleFileNameW", ERROR_INVALID_HANDLE);
    machine().failNext("GetCurrentDirectoryW", ERROR_ACCESS_DENIED);
    EXPECT_THROW(GetModuleDirectory(), Poco::SystemException);
}

}  // namespace
}  // namespace OrvaneClient

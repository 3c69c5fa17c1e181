// Registry calls return their error and leave the last error alone; the folder queries report
// the size they need when a buffer is short; a shell folder asked to be created exists after.

#include "ConformanceFixture.h"
#include "WineDifferences.h"
#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using OrvaneClient::Testing::ConformanceTest;
using OrvaneClient::Testing::WindowsAnswer;

class RegistryAndFoldersTest : public ConformanceTest {};

TEST_F(RegistryAndFoldersTest, OpeningAMissingKeyFailsWithFileNotFound) {
    HKEY key = reinterpret_cast<HKEY>(0x1);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Qovex\\Missing", 0, KEY_READ, &key));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
}

TEST_F(RegistryAndFoldersTest, RegistryRejectsInvalidArguments) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE,
              RegOpenKeyExW(reinterpret_cast<HKEY>(0x4321), L"SOFTWARE", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(reinterpret_cast<HKEY>(0x4321)));
}

TEST_F(RegistryAndFoldersTest, CurrentDirectoryReportsTheSizeItNeeds) {
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    ASSERT_GT(needed, 3u);
    std::vector<WCHAR> buffer(needed, L'#');
    EXPECT_EQ(needed, GetCurrentDirectoryW(needed - 1, buffer.data()));
    EXPECT_EQ(needed - 1, GetCurrentDirectoryW(needed, buffer.data()));
    EXPECT_EQ(needed - 1, std::wstring(buffer.data()).size());
}

TEST_F(RegistryAndFoldersTest, ProfilesDirectoryReportsTheSizeItNeeds) {
    DWORD size = 0;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetProfilesDirectoryW(nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    const DWORD needed = size;
    ASSERT_GT(needed, 3u);
    std::vector<WCHAR> buffer(MAX_PATH, L'\0');
    size = needed - 1;
    EXPECT_FALSE(GetProfilesDirectoryW(buffer.data(), &size));
    EXPECT_EQ(needed, size);
    EXPECT_EQ(L'\0', buffer[0]);
    size = MAX_PATH;
    ASSERT_TRUE(GetProfilesDirectoryW(buffer.data(), &size));
    // The size needed counts the terminating zero; Wine's leaves it out.
    const DWORD length = static_cast<DWORD>(std::wstring(buffer.data()).size());
    EXPECT_TRUE(
        WindowsAnswer(needed, length + 1, length, "the size needed has no room for the zero"));
    EXPECT_EQ(needed, size);

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetProfilesDirectoryW(buffer.data(), nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(RegistryAndFoldersTest, FolderAskedToBeCreatedExistsAfter) {
    WCHAR path[MAX_PATH] = {};
    ASSERT_EQ(
        S_OK,
        SHGetFolderPathW(
            nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path));
    SetLastError(0xdeadbeef);
    const DWORD attributes = GetFileAttributesW(path);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes) << GetLastError();
    EXPECT_NE(0u, attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(0xdeadbeefu, GetLastError());
}

}  // namespace

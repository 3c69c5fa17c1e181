// Registry calls return their error and leave the last error alone; a key's list is written on
// its handle; the folder queries report the size they need when a buffer is short; a shell folder
// asked to be created exists after.

#include "ConformanceFixture.h"
#include "ListBytes.h"
#include "WineDifferences.h"
#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using OrvaneClient::Testing::ConformanceTest;
using OrvaneClient::Testing::ListBytes;
using OrvaneClient::Testing::MakeMachineKey;
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

// S-1-1-0 (Everyone) in its binary layout.
BYTE Everyone[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};

// A self-relative descriptor that holds `dacl` alone.
std::vector<BYTE> DaclOnly(const ACL* dacl) {
    SECURITY_DESCRIPTOR_RELATIVE header = {};
    header.Revision = SECURITY_DESCRIPTOR_REVISION;
    header.Control = SE_SELF_RELATIVE | SE_DACL_PRESENT;
    header.Dacl = sizeof(header);
    std::vector<BYTE> descriptor(sizeof(header) + dacl->AclSize);
    std::memcpy(descriptor.data(), &header, sizeof(header));
    std::memcpy(descriptor.data() + sizeof(header), dacl, dacl->AclSize);
    return descriptor;
}

// The key's list, in its bytes; empty when it cannot be read.
std::vector<BYTE> KeyList(HKEY key) {
    return ListBytes([key](PACL* dacl, PSECURITY_DESCRIPTOR* block) {
        return GetSecurityInfo(key,
                               SE_REGISTRY_KEY,
                               DACL_SECURITY_INFORMATION,
                               nullptr,
                               nullptr,
                               dacl,
                               nullptr,
                               block);
    });
}

TEST_F(RegistryAndFoldersTest, AKeysListIsWrittenOnItsHandleAndReadBack) {
    const WCHAR name[] = L"SOFTWARE\\Qovex\\Conformance";
    ASSERT_TRUE(MakeMachineKey(name));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, name, 0, READ_CONTROL | WRITE_DAC, &key));
    HKEY readOnly = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, name, 0, KEY_READ, &readOnly));
    const std::vector<BYTE> before = KeyList(key);
    ASSERT_FALSE(before.empty());

    EXPLICIT_ACCESS_A access = {};
    access.grfAccessPermissions = KEY_READ;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = reinterpret_cast<LPSTR>(Everyone);
    PACL newAcl = nullptr;
    std::vector<BYTE> current = before;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              SetEntriesInAclA(1, &access, reinterpret_cast<PACL>(current.data()), &newAcl));
    std::vector<BYTE> descriptor = DaclOnly(newAcl);

    struct Row {
        const char* what;
        HKEY key;
        LSTATUS result;
    };
    const Row rows[] = {
        {"a handle without WRITE_DAC", readOnly, ERROR_ACCESS_DENIED},
        {"no key", reinterpret_cast<HKEY>(0x4321), ERROR_INVALID_HANDLE},
        {"the key", key, ERROR_SUCCESS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(row.result,
                  RegSetKeySecurity(row.key, DACL_SECURITY_INFORMATION, descriptor.data()));
        EXPECT_EQ(0xdeadbeefu, GetLastError());
    }
    const auto* written = reinterpret_cast<const BYTE*>(newAcl);
    EXPECT_EQ(std::vector<BYTE>(written, written + newAcl->AclSize), KeyList(key));

    // The key's list as it was.
    std::vector<BYTE> restore = DaclOnly(reinterpret_cast<const ACL*>(before.data()));
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, restore.data()));
    EXPECT_EQ(before, KeyList(key));
    LocalFree(newAcl);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(readOnly));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
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

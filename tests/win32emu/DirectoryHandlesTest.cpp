// Directories and files held by a handle: CreateFileW with backup semantics, the final path,
// the information by handle, listing a folder, and the access list read and written through
// the handle. Each call's results and last errors as Windows gives them.

#include "core/windows/Win32Api.h"
#include "tests/support/EmulatedMachineTest.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;

constexpr DWORD Sentinel = 0xdeadbeef;
constexpr DWORD Backup = FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD BackupLink = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD Acl = READ_CONTROL | WRITE_DAC;

class DirectoryHandlesTest : public EmulatedMachineTest {
protected:
    void SetUp() override {
        EmulatedMachineTest::SetUp();
        Poco::File(hostRoot() + "/C/Games/Mine/levels").createDirectories();
        Poco::File(hostRoot() + "/C/Windows/System32").createDirectories();
        Poco::FileOutputStream(hostRoot() + "/C/Games/Mine/game.exe") << "MZ";
        machine().setReparsePoint("C:\\Games\\Link", "C:\\Windows\\System32");
    }

    HANDLE open(const wchar_t* path, DWORD access, DWORD flags) {
        return CreateFileW(path,
                           access,
                           FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr,
                           OPEN_EXISTING,
                           flags,
                           nullptr);
    }
    std::wstring finalPath(HANDLE handle) {
        WCHAR buffer[MAX_PATH] = {};
        const DWORD length = GetFinalPathNameByHandleW(handle, buffer, MAX_PATH, 0);
        return std::wstring(buffer, length < MAX_PATH ? length : 0);
    }
};

struct OpenCase {
    const char* name;
    const wchar_t* path;
    DWORD access;
    DWORD flags;
    DWORD error;  // 0: opens
};

class DirectoryOpenTest : public DirectoryHandlesTest,
                          public ::testing::WithParamInterface<OpenCase> {};

TEST_P(DirectoryOpenTest, OpensOrFailsAsWindowsDoes) {
    const OpenCase& c = GetParam();
    SetLastError(Sentinel);
    HANDLE handle = open(c.path, c.access, c.flags);
    if (c.error == 0) {
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
        EXPECT_TRUE(CloseHandle(handle));
    } else {
        EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, DirectoryOpenTest, ::testing::Values(
    OpenCase{"Directory", L"C:\\Games\\Mine", Acl | FILE_READ_ATTRIBUTES, BackupLink, 0},
    OpenCase{"DirectoryWithoutBackupSemantics", L"C:\\Games\\Mine", Acl, 0, ERROR_ACCESS_DENIED},
    OpenCase{"TheLinkItself", L"C:\\Games\\Link", Acl, BackupLink, 0},
    OpenCase{"ToTakeOwnership", L"C:\\Games\\Mine", WRITE_OWNER, BackupLink, 0},
    // Reading only: SYSTEM may not rewrite System32's list, which is TrustedInstaller's.
    OpenCase{"ThroughTheLink", L"C:\\Games\\Link", READ_CONTROL, Backup, 0},
    OpenCase{"ThroughTheLinkToRewriteItsList", L"C:\\Games\\Link", Acl, Backup, ERROR_ACCESS_DENIED},
    OpenCase{"MissingDirectory", L"C:\\Games\\Gone", Acl, Backup, ERROR_FILE_NOT_FOUND},
    OpenCase{"MissingFolderOnTheWay", L"C:\\Gone\\Mine", Acl, Backup, ERROR_PATH_NOT_FOUND},
    OpenCase{"IdentificationOnly", L"C:\\Games\\Mine\\game.exe", GENERIC_READ,
             SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, 0},
    OpenCase{"OverlappedIsNotEmulated", L"C:\\Games\\Mine", Acl, Backup | 0x40000000,
             ERROR_CALL_NOT_IMPLEMENTED},
    OpenCase{"WritingIsNotEmulated", L"C:\\Games\\Mine", FILE_WRITE_DATA, Backup,
             ERROR_CALL_NOT_IMPLEMENTED}),
    [](const ::testing::TestParamInfo<OpenCase>& info) { return info.param.name; });
// clang-format on

TEST_F(DirectoryHandlesTest, TheFinalPathIsTheObjectsWithItsOwnSpelling) {
    const struct {
        const wchar_t* path;
        DWORD flags;
        const wchar_t* final;
    } cases[] = {
        {L"c:\\GAMES\\mine", Backup, L"\\\\?\\C:\\Games\\Mine"},
        {L"C:\\Games\\Link", Backup, L"\\\\?\\C:\\Windows\\System32"},
        {L"C:\\Games\\Link", BackupLink, L"\\\\?\\C:\\Games\\Link"},
        {L"C:\\Program Files (x86)\\Qovex Games\\starfall",
         Backup,
         L"\\\\?\\C:\\Program Files (x86)\\Qovex Games\\Starfall"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
        HANDLE handle = open(c.path, READ_CONTROL, c.flags);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(finalPath(handle), c.final);
        CloseHandle(handle);
    }
}

TEST_F(DirectoryHandlesTest, TheFinalPathReportsTheSizeItNeedsAndBadHandles) {
    HANDLE handle = open(L"C:\\Games\\Mine", READ_CONTROL, Backup);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    WCHAR small[4] = {L'x', L'x', L'x', L'x'};
    SetLastError(Sentinel);
    EXPECT_EQ(GetFinalPathNameByHandleW(handle, small, 4, 0), 18u);  // "\\?\C:\Games\Mine" + 0
    EXPECT_EQ(small[0], L'x');
    EXPECT_EQ(GetLastError(), Sentinel);
    EXPECT_EQ(GetFinalPathNameByHandleW(handle, small, 4, 0x4), 0u) << "VOLUME_NAME_NONE";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    CloseHandle(handle);
    SetLastError(Sentinel);
    EXPECT_EQ(GetFinalPathNameByHandleW(handle, small, 4, 0), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(DirectoryHandlesTest, InformationByHandleGivesLinksAndReparseTags) {
    Poco::FileOutputStream(hostRoot() + "/C/Games/Mine/linked.dat") << "x";
    // A profile's file marks, the reparse point laid anew on the machine it makes.
    machine().loadProfileJson(R"({ "files": { "C:\\Games\\Mine\\linked.dat": { "links": 2 } } })");
    machine().setReparsePoint("C:\\Games\\Link", "C:\\Windows\\System32");
    HANDLE file = open(L"C:\\Games\\Mine\\linked.dat", 0, BackupLink);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILE_STANDARD_INFO standard = {};
    ASSERT_TRUE(GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard)));
    EXPECT_EQ(standard.NumberOfLinks, 2u);
    EXPECT_EQ(standard.Directory, 0);
    EXPECT_EQ(standard.EndOfFile.QuadPart, 1);
    SetLastError(Sentinel);
    EXPECT_FALSE(GetFileInformationByHandleEx(file, FileStandardInfo, &standard, 8));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
    FILE_ATTRIBUTE_TAG_INFO tag = {Sentinel, Sentinel};
    EXPECT_FALSE(GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof(tag)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "no FILE_READ_ATTRIBUTES";
    EXPECT_EQ(tag.FileAttributes, Sentinel);
    CloseHandle(file);

    HANDLE link = open(L"C:\\Games\\Link", FILE_READ_ATTRIBUTES, BackupLink);
    ASSERT_NE(link, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(GetFileInformationByHandleEx(link, FileAttributeTagInfo, &tag, sizeof(tag)));
    EXPECT_EQ(tag.FileAttributes,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(tag.ReparseTag, static_cast<DWORD>(IO_REPARSE_TAG_MOUNT_POINT));
    EXPECT_FALSE(GetFileInformationByHandleEx(link, FileBasicInfo, &tag, sizeof(tag)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    CloseHandle(link);
}

TEST_F(DirectoryHandlesTest, AListingShowsEveryEntryAndMarksLinks) {
    WIN32_FIND_DATAW data = {};
    HANDLE find = FindFirstFileExW(L"C:\\Games\\*",
                                   FindExInfoBasic,
                                   &data,
                                   FindExSearchNameMatch,
                                   nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::set<std::wstring> names;
    DWORD linkAttributes = 0;
    DWORD linkTag = 0;
    do {
        names.insert(data.cFileName);
        if (std::wstring(data.cFileName) == L"Link") {
            linkAttributes = data.dwFileAttributes;
            linkTag = data.dwReserved0;
        }
    } while (FindNextFileW(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(find));
    EXPECT_EQ(names, (std::set<std::wstring>{L".", L"..", L"Link", L"Mine"}));
    EXPECT_EQ(linkAttributes,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(linkTag, static_cast<DWORD>(IO_REPARSE_TAG_MOUNT_POINT));

    const struct {
        const wchar_t* pattern;
        DWORD error;
    } failures[] = {
        {L"C:\\Gone\\*", ERROR_PATH_NOT_FOUND},
        {L"C:\\Games\\Mine\\game.exe\\*", ERROR_DIRECTORY},
        {L"C:\\Games\\M*", ERROR_CALL_NOT_IMPLEMENTED},
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.pattern)));
        SetLastError(Sentinel);
        EXPECT_EQ(
            FindFirstFileExW(c.pattern, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0),
            INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    SetLastError(Sentinel);
    EXPECT_FALSE(FindClose(find));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(DirectoryHandlesTest, TheHandlesAccessListIsTheObjectsWhateverThePathBecomes) {
    HANDLE folder = open(L"C:\\Games\\Mine", Acl, BackupLink);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    // The folder's name now leads elsewhere: the handle still holds the folder.
    machine().setReparsePoint("C:\\Games\\Mine", "C:\\Windows\\System32");
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(folder,
                              SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION,
                              nullptr,
                              nullptr,
                              &dacl,
                              nullptr,
                              &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    const std::string user = "S-1-5-21-2254011875-3712098642-1289462413-1001";
    // S-1-5-21-2254011875-3712098642-1289462413-1001 in its binary layout.
    const DWORD subAuthorities[] = {21, 2254011875u, 3712098642u, 1289462413u, 1001};
    std::vector<BYTE> sid = {SID_REVISION, 5, 0, 0, 0, 0, 0, 5};
    sid.resize(8 + sizeof(subAuthorities));
    std::memcpy(sid.data() + 8, subAuthorities, sizeof(subAuthorities));
    PSID rawSid = sid.data();
    EXPLICIT_ACCESS_A access = {};
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_USER;
    access.Trustee.ptstrName = static_cast<LPSTR>(rawSid);
    PACL newAcl = nullptr;
    ASSERT_EQ(SetEntriesInAclA(1, &access, dacl, &newAcl), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(
        SetSecurityInfo(
            folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, newAcl, nullptr),
        static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(
        SetSecurityInfo(
            folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, rawSid, nullptr, nullptr, nullptr),
        static_cast<DWORD>(ERROR_ACCESS_DENIED))
        << "no WRITE_OWNER";
    EXPECT_EQ(
        SetSecurityInfo(
            folder, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, newAcl, nullptr),
        static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    LocalFree(newAcl);
    LocalFree(descriptor);
    CloseHandle(folder);
    EXPECT_EQ(machine().accessOf("C:\\Windows\\System32", user).allowed, 0u);
    EXPECT_EQ(machine().accessOf("C:\\Games\\Mine\\levels", user).allowed, 0u)
        << "the name leads to System32 now";

    HANDLE readOnly = open(L"C:\\Games", FILE_READ_ATTRIBUTES, Backup);
    ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
    const auto readDacl = [&] {
        return GetSecurityInfo(readOnly,
                               SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION,
                               nullptr,
                               nullptr,
                               &dacl,
                               nullptr,
                               &descriptor);
    };
    EXPECT_EQ(readDacl(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "no READ_CONTROL";
    CloseHandle(readOnly);
    EXPECT_EQ(readDacl(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << "closed";
}

// The service's folder descriptor, as the service writes it.
const wchar_t OwnFolderText[] = L"O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";

TEST_F(DirectoryHandlesTest, TextDescriptorsBecomeSelfRelativeBlocks) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ULONG size = 0;
    SetLastError(Sentinel);
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        OwnFolderText, SDDL_REVISION_1, &descriptor, &size));
    EXPECT_EQ(GetLastError(), Sentinel);
    const auto* header = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(descriptor);
    EXPECT_EQ(header->Control, SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED);
    // Header, Administrators (16 bytes), SYSTEM (12), and a list of two entries (8 + 20 + 24).
    EXPECT_EQ(size, sizeof(SECURITY_DESCRIPTOR_RELATIVE) + 16 + 12 + 8 + 20 + 24);
    const auto* dacl =
        reinterpret_cast<const ACL*>(static_cast<const BYTE*>(descriptor) + header->Dacl);
    EXPECT_EQ(dacl->AceCount, 2);
    LPSTR owner = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidA(static_cast<BYTE*>(descriptor) + header->Owner, &owner));
    EXPECT_STREQ(owner, "S-1-5-32-544");
    LocalFree(owner);
    LocalFree(descriptor);

    const struct {
        const wchar_t* text;
        DWORD revision;
        bool withOut;
        DWORD error;
    } failures[] = {
        {OwnFolderText, 2, true, ERROR_UNKNOWN_REVISION},
        {OwnFolderText, SDDL_REVISION_1, false, ERROR_INVALID_PARAMETER},
        {nullptr, SDDL_REVISION_1, true, ERROR_INVALID_PARAMETER},
        {L"D:(OA;;CC;;;SY)", SDDL_REVISION_1, true, ERROR_CALL_NOT_IMPLEMENTED},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.error);
        descriptor = nullptr;
        SetLastError(Sentinel);
        EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            failure.text, failure.revision, failure.withOut ? &descriptor : nullptr, nullptr));
        EXPECT_EQ(GetLastError(), failure.error);
        EXPECT_EQ(descriptor, nullptr);
    }
}

TEST_F(DirectoryHandlesTest, CreateDirectoryTakesItsDescriptorAndFollowsLinksOnTheWayOnly) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        OwnFolderText, SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    SetLastError(Sentinel);
    ASSERT_TRUE(CreateDirectoryW(L"C:\\Games\\Own", &attributes));
    EXPECT_EQ(GetLastError(), Sentinel);
    EXPECT_TRUE(Poco::File(hostRoot() + "/C/Games/Own").isDirectory());
    const std::string player = "S-1-5-21-2254011875-3712098642-1289462413-1001";
    machine().setAccessList("C:\\Games", {{true, player, FILE_ALL_ACCESS, 3}});
    EXPECT_EQ(machine().accessOf("C:\\Games\\Own", player).allowed, 0u) << "protected";
    EXPECT_EQ(machine().accessOf("C:\\Games\\Own", "S-1-5-32-545").allowed, 0x1200a9u);
    // Without one it inherits; through a link on the way it lands in the link's target.
    ASSERT_TRUE(CreateDirectoryW(L"C:\\Games\\Link\\New", nullptr));
    EXPECT_TRUE(Poco::File(hostRoot() + "/C/Windows/System32/New").isDirectory());
    EXPECT_EQ(machine().accessOf("C:\\Windows\\System32\\New", player).allowed, 0u);

    machine().setAccessList(
        "C:\\Games\\Mine", {{true, "S-1-5-32-545", FILE_GENERIC_READ, 3}}, true);
    const struct {
        const wchar_t* path;
        DWORD error;
    } failures[] = {
        {L"C:\\Games\\Own", ERROR_ALREADY_EXISTS},
        {L"C:\\Games\\Link", ERROR_ALREADY_EXISTS},  // the link itself, not its target
        {L"C:\\Games\\Mine\\game.exe", ERROR_ALREADY_EXISTS},
        {L"C:\\Gone\\New", ERROR_PATH_NOT_FOUND},
        {L"C:\\Games\\Mine\\New", ERROR_ACCESS_DENIED},  // SYSTEM may not add to it
        {L"", ERROR_PATH_NOT_FOUND},
        {L"\\\\host\\share\\New", ERROR_CALL_NOT_IMPLEMENTED},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.error);
        SetLastError(Sentinel);
        EXPECT_FALSE(CreateDirectoryW(failure.path, &attributes));
        EXPECT_EQ(GetLastError(), failure.error);
    }
    EXPECT_FALSE(Poco::File(hostRoot() + "/C/Games/Mine/New").exists());
    LocalFree(descriptor);
}

TEST_F(DirectoryHandlesTest, AHandleOpenedToTakeOwnershipSetsTheOwner) {
    HANDLE folder = open(L"C:\\Games\\Mine", WRITE_OWNER, BackupLink);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    const DWORD subAuthorities[] = {32, 545};
    std::vector<BYTE> users = {SID_REVISION, 2, 0, 0, 0, 0, 0, 5};
    users.resize(8 + sizeof(subAuthorities));
    std::memcpy(users.data() + 8, subAuthorities, sizeof(subAuthorities));
    EXPECT_EQ(SetSecurityInfo(folder,
                              SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION,
                              users.data(),
                              nullptr,
                              nullptr,
                              nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    CloseHandle(folder);
    // Users now own it: its owner may read and write its list, as SYSTEM no longer may unless
    // an entry lets it.
    machine().setAccessList("C:\\Games\\Mine", {}, true);
    SetLastError(Sentinel);
    EXPECT_EQ(open(L"C:\\Games\\Mine", WRITE_OWNER, BackupLink), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace

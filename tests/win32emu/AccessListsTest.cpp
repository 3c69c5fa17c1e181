// Access lists of files and keys: the descriptor's layout and accounting, the codes for missing
// objects, merging a grant (the one mode made), and inheritance reaching existing children.

#include "tests/support/EmulatedMachineTest.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>

#include <aclapi.h>
#include <algorithm>
#include <cstring>
#include <sddl.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;
using Win32Emu::AccessEntry;
using Win32Emu::RegistryView;

const std::string UserSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";

std::vector<BYTE> Sid(const std::string& text) {
    // Builds the binary SID with the emulated calls' own layout: S-1-5-21-a-b-c-d.
    std::vector<DWORD> parts;
    size_t at = text.find('-', 4) + 1;
    while (at != 0 && at < text.size()) {
        const size_t next = text.find('-', at);
        parts.push_back(static_cast<DWORD>(std::stoul(text.substr(at, next - at))));
        at = next == std::string::npos ? 0 : next + 1;
    }
    std::vector<BYTE> sid(8 + 4 * parts.size());
    sid[0] = SID_REVISION;
    sid[1] = static_cast<BYTE>(parts.size());
    sid[7] = static_cast<BYTE>(std::stoul(text.substr(4, text.find('-', 4) - 4)));
    std::memcpy(sid.data() + 8, parts.data(), 4 * parts.size());
    return sid;
}

std::string SidText(PSID sid) {
    LPSTR text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) {
        return "invalid";
    }
    std::string result = text;
    LocalFree(text);
    return result;
}

class AccessListsTest : public EmulatedMachineTest {
protected:
    void SetUp() override {
        EmulatedMachineTest::SetUp();
        Poco::File(hostRoot() + "/C/Games/Mine/levels").createDirectories();
        Poco::FileOutputStream(hostRoot() + "/C/Games/Mine/game.exe") << "MZ";
    }

    // Grants the user full control of `name` the way a Windows program does.
    DWORD grant(const std::wstring& name, SE_OBJECT_TYPE type) {
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        DWORD result = GetNamedSecurityInfoW(name.c_str(),
                                             type,
                                             DACL_SECURITY_INFORMATION,
                                             nullptr,
                                             nullptr,
                                             &dacl,
                                             nullptr,
                                             &descriptor);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        std::vector<BYTE> sid = Sid(UserSid);
        EXPLICIT_ACCESS_A access = {};
        access.grfAccessPermissions = GENERIC_ALL;
        access.grfAccessMode = GRANT_ACCESS;
        access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        access.Trustee.ptstrName = reinterpret_cast<LPSTR>(sid.data());
        PACL newAcl = nullptr;
        result = SetEntriesInAclA(1, &access, dacl, &newAcl);
        if (result == ERROR_SUCCESS) {
            std::wstring writable = name;
            result = SetNamedSecurityInfoW(
                &writable[0], type, DACL_SECURITY_INFORMATION, nullptr, nullptr, newAcl, nullptr);
        }
        LocalFree(newAcl);
        LocalFree(descriptor);
        return result;
    }
};

TEST_F(AccessListsTest, TheDescriptorIsOneCountedBlockHoldingWhatWasAsked) {
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SetLastError(0xdeadbeef);
    ASSERT_EQ(GetNamedSecurityInfoW(L"C:\\Games\\Mine",
                                    SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                        DACL_SECURITY_INFORMATION,
                                    &owner,
                                    &group,
                                    &dacl,
                                    nullptr,
                                    &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    EXPECT_EQ(machine().localAllocCount(), localAllocsAtStart + 1);
    const auto* header = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(descriptor);
    EXPECT_EQ(header->Control & (SE_SELF_RELATIVE | SE_DACL_PRESENT),
              SE_SELF_RELATIVE | SE_DACL_PRESENT);
    EXPECT_EQ(reinterpret_cast<BYTE*>(dacl), static_cast<BYTE*>(descriptor) + header->Dacl);
    EXPECT_EQ(SidText(owner), "S-1-5-32-544");
    EXPECT_EQ(SidText(group), "S-1-5-18");
    // Inherited from the drive's root: Administrators, SYSTEM full control, Users read,
    // Authenticated Users modify.
    ASSERT_EQ(dacl->AclRevision, ACL_REVISION);
    ASSERT_EQ(dacl->AceCount, 4);
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(dacl + 1);
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, INHERITED_ACE | OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_EQ(SidText(const_cast<DWORD*>(&ace->SidStart)), "S-1-5-32-544");
    EXPECT_EQ(LocalFree(descriptor), nullptr);
}

struct MissingCase {
    const wchar_t* name;
    SE_OBJECT_TYPE type;
    SECURITY_INFORMATION information;
    DWORD expected;
};

class MissingObjectTest : public AccessListsTest,
                          public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingObjectTest, GivesTheCodeWindowsGives) {
    const MissingCase& c = GetParam();
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_EQ(GetNamedSecurityInfoW(
                  c.name, c.type, c.information, nullptr, nullptr, &dacl, nullptr, &descriptor),
              c.expected);
    if (c.expected != ERROR_SUCCESS) {
        EXPECT_EQ(descriptor, nullptr);
    }
    LocalFree(descriptor);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Objects, MissingObjectTest, ::testing::Values(
    MissingCase{L"C:\\Games\\Mine\\levels", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, ERROR_SUCCESS},
    MissingCase{L"C:\\Games\\None", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, ERROR_FILE_NOT_FOUND},
    MissingCase{L"C:\\Games\\None\\x", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, ERROR_PATH_NOT_FOUND},
    MissingCase{L"\\\\server\\share", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, ERROR_CALL_NOT_IMPLEMENTED},
    MissingCase{L"C:\\Games\\Mine", SE_FILE_OBJECT, SACL_SECURITY_INFORMATION, ERROR_PRIVILEGE_NOT_HELD},
    MissingCase{L"MACHINE\\SOFTWARE\\Qovex\\Games", SE_REGISTRY_WOW64_32KEY, DACL_SECURITY_INFORMATION, ERROR_SUCCESS},
    MissingCase{L"MACHINE\\SOFTWARE\\Qovex\\Games", SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, ERROR_SUCCESS},
    MissingCase{L"MACHINE\\SOFTWARE\\Qovex\\Games", SE_REGISTRY_WOW64_64KEY, DACL_SECURITY_INFORMATION, ERROR_FILE_NOT_FOUND},
    MissingCase{L"MACHINE\\SOFTWARE\\Qovex\\None", SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, ERROR_FILE_NOT_FOUND},
    MissingCase{L"USERS\\S-1-5-18", SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, ERROR_SUCCESS},
    MissingCase{L"NOWHERE\\SOFTWARE", SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, ERROR_INVALID_PARAMETER}));
// clang-format on

TEST_F(AccessListsTest, AGrantMergesWithTheTrusteesEntryAndIsACountedBlock) {
    std::vector<BYTE> sid = Sid(UserSid);
    EXPLICIT_ACCESS_A access = {};
    access.grfAccessPermissions = FILE_GENERIC_READ;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.ptstrName = reinterpret_cast<LPSTR>(sid.data());
    PACL first = nullptr;
    ASSERT_EQ(SetEntriesInAclA(1, &access, nullptr, &first), static_cast<DWORD>(ERROR_SUCCESS));
    access.grfAccessPermissions = FILE_WRITE_DATA;
    PACL merged = nullptr;
    ASSERT_EQ(SetEntriesInAclA(1, &access, first, &merged), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(machine().localAllocCount(), localAllocsAtStart + 2);
    ASSERT_EQ(merged->AceCount, 1);
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(merged + 1);
    EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_WRITE_DATA));
    EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);

    // A different inheritance is an entry of its own.
    access.grfInheritance = NO_INHERITANCE;
    PACL separate = nullptr;
    ASSERT_EQ(SetEntriesInAclA(1, &access, merged, &separate), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(separate->AceCount, 2);

    PACL none = nullptr;
    EXPECT_EQ(SetEntriesInAclA(1, &access, merged, nullptr),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (const ACCESS_MODE mode : {SET_ACCESS, DENY_ACCESS, REVOKE_ACCESS}) {
        access.grfAccessMode = mode;
        EXPECT_EQ(SetEntriesInAclA(1, &access, merged, &none),
                  static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
        EXPECT_EQ(none, nullptr);
    }
    access.grfAccessMode = GRANT_ACCESS;
    access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    EXPECT_EQ(SetEntriesInAclA(1, &access, merged, &none),
              static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    merged->AclRevision = 9;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    EXPECT_EQ(SetEntriesInAclA(1, &access, merged, &none), static_cast<DWORD>(ERROR_INVALID_ACL));
    EXPECT_EQ(none, nullptr);
    LocalFree(first);
    LocalFree(merged);
    LocalFree(separate);
}

TEST_F(AccessListsTest, AnInheritableEntryReachesExistingChildrenAndKeepsTheOwner) {
    machine().setAccessList("C:\\Games\\Mine\\levels", {{false, "S-1-1-0", FILE_WRITE_DATA, 0}});
    machine().setOwner("C:\\Games\\Mine", "S-1-5-18");

    ASSERT_EQ(grant(L"C:\\Games\\Mine", SE_FILE_OBJECT), static_cast<DWORD>(ERROR_SUCCESS));

    const struct {
        std::string path;
        bool inherited;
        BYTE flags;
    } expected[] = {
        {"C:\\Games\\Mine", false, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
        {"C:\\Games\\Mine\\levels",
         true,
         INHERITED_ACE | OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE},
        {"C:\\Games\\Mine\\game.exe", true, INHERITED_ACE},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.path);
        const Win32Emu::SidAccess access = machine().accessOf(e.path, UserSid);
        EXPECT_EQ(access.allowed, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
        EXPECT_EQ(access.inherited, e.inherited);
        const auto list = machine().accessList(e.path);
        ASSERT_TRUE(list.has_value());
        const auto entry = std::find_if(
            list->begin(), list->end(), [](const AccessEntry& a) { return a.sid == UserSid; });
        ASSERT_NE(entry, list->end());
        EXPECT_EQ(entry->flags, e.flags);
    }
    // The child's own entry stays first.
    EXPECT_FALSE(machine().accessList("C:\\Games\\Mine\\levels")->front().allowed);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(L"C:\\Games\\Mine",
                                    SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION,
                                    &owner,
                                    nullptr,
                                    nullptr,
                                    nullptr,
                                    &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(SidText(owner), "S-1-5-18");
    LocalFree(descriptor);
    ASSERT_EQ(machine().accessChanges().size(), 1u);
    EXPECT_EQ(machine().accessChanges()[0].object, "C:\\Games\\Mine");
}

TEST_F(AccessListsTest, TheViewOfAKeyDecidesWhichKeyIsGranted) {
    machine().setWow64(false);
    machine().createRegistryKey("HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games");
    machine().setWow64(true);

    ASSERT_EQ(grant(L"MACHINE\\SOFTWARE\\Qovex\\Games", SE_REGISTRY_WOW64_32KEY),
              static_cast<DWORD>(ERROR_SUCCESS));

    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games";
    EXPECT_EQ(machine().accessOf(key, UserSid, RegistryView::Bits32).allowed,
              static_cast<ACCESS_MASK>(KEY_ALL_ACCESS));
    EXPECT_EQ(machine().accessOf(key, UserSid, RegistryView::Bits64).allowed, 0u);
}

TEST_F(AccessListsTest, FileAttributesTellFoldersFilesAndReparsePoints) {
    machine().setReparsePoint("C:\\Games\\Link", "C:\\Windows");
    const struct {
        const wchar_t* path;
        DWORD attributes;
        DWORD error;
    } cases[] = {
        {L"C:\\Games\\Mine", FILE_ATTRIBUTE_DIRECTORY, 0xdeadbeef},
        {L"C:\\Games\\Mine\\game.exe", FILE_ATTRIBUTE_ARCHIVE, 0xdeadbeef},
        {L"C:\\Games\\Link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, 0xdeadbeef},
        {L"C:\\Games\\None", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {L"C:\\Games\\None\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
        SetLastError(0xdeadbeef);
        EXPECT_EQ(GetFileAttributesW(c.path), c.attributes);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

TEST_F(AccessListsTest, AProfileGivesListsAndReparsePoints) {
    machine().loadProfileJson(R"({
        "security": { "C:\\Games": { "protected": true, "owner": "S-1-5-18",
                                     "entries": [ { "deny": "S-1-1-0", "mask": 2, "flags": 3 } ] } },
        "reparsePoints": { "C:\\Games\\Link": { "target": "C:\\Windows", "type": "symlink" } }
    })");
    const auto list = machine().accessList("C:\\Games");
    ASSERT_TRUE(list.has_value());
    ASSERT_EQ(list->size(), 1u) << "protected: nothing inherited";
    EXPECT_FALSE(list->front().allowed);
    EXPECT_EQ(GetFileAttributesW(L"C:\\Games\\Link") & FILE_ATTRIBUTE_REPARSE_POINT,
              static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_THROW(
        machine().loadProfileJson(R"({ "security": { "C:\\Games": { "entries": [ {} ] } } })"),
        Poco::DataFormatException);
}

}  // namespace

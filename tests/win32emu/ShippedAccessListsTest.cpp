// The access lists the built-in machine ships with, what a standard user may create under them,
// and CREATOR OWNER entries becoming the creator's as Windows makes them.

#include "tests/support/EmulatedMachineTest.h"

#include <Poco/File.h>

#include <aclapi.h>
#include <sddl.h>
#include <string>
#include <windows.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;

const std::string Other = "S-1-5-21-2254011875-3712098642-1289462413-1002";
const std::string CreatorOwner = "S-1-3-0";
const std::string AuthenticatedUsers = "S-1-5-11";
constexpr ACCESS_MASK Modify = 0x1301BF;

class ShippedAccessListsTest : public EmulatedMachineTest {
protected:
    void SetUp() override {
        EmulatedMachineTest::SetUp();
        for (const char* folder : {"ProgramData", "Program Files", "Users/Player"}) {
            Poco::File(hostRoot() + "/C/" + folder).createDirectories();
        }
    }

    std::string ownerOf(const std::string& path) {
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        const std::wstring wide(path.begin(), path.end());
        if (GetNamedSecurityInfoW(wide.c_str(),
                                  SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION,
                                  &owner,
                                  nullptr,
                                  nullptr,
                                  nullptr,
                                  &descriptor) != ERROR_SUCCESS) {
            return "?";
        }
        LPSTR text = nullptr;
        std::string result = ConvertSidToStringSidA(owner, &text) ? text : "?";
        LocalFree(text);
        LocalFree(descriptor);
        return result;
    }
};

TEST_F(ShippedAccessListsTest, AStandardUserCreatesOnlyWhereWindowsLetsUsers) {
    const struct {
        const char* path;
        bool folder;
        DWORD error;
    } cases[] = {
        {"C:\\ProgramData\\Planted", true, ERROR_SUCCESS},
        {"C:\\ProgramData\\planted.txt", false, ERROR_SUCCESS},
        {"C:\\Planted", true, ERROR_SUCCESS},
        {"C:\\planted.txt", false, ERROR_ACCESS_DENIED},
        {"C:\\Program Files (x86)\\Planted", true, ERROR_ACCESS_DENIED},
        {"C:\\Program Files\\Planted", true, ERROR_ACCESS_DENIED},
        {"C:\\Windows\\Planted", true, ERROR_ACCESS_DENIED},
        {"C:\\Windows\\system32\\planted.dll", false, ERROR_ACCESS_DENIED},
        {"C:\\Users\\Planted", true, ERROR_ACCESS_DENIED},
        {"C:\\Users\\Player\\Planted", true, ERROR_ACCESS_DENIED},
        {"C:\\Windows\\notepad.exe", false, ERROR_FILE_EXISTS},
        {"C:\\Missing\\Planted", true, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(machine().createAs(Other, c.path, c.folder), c.error);
        EXPECT_EQ(ownerOf(c.path) == Other, c.error == ERROR_SUCCESS);
    }
}

TEST_F(ShippedAccessListsTest, CreatorOwnerBecomesTheCreatorAndStaysAPlaceholder) {
    const std::string planted = "C:\\ProgramData\\Planted";
    ASSERT_EQ(machine().createAs(Other, planted), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(machine().createAs(Other, planted + "\\run.exe", false),
              static_cast<DWORD>(ERROR_SUCCESS));

    for (const std::string& object : {planted, planted + "\\run.exe"}) {
        SCOPED_TRACE(object);
        const Win32Emu::SidAccess own = machine().accessOf(object, Other);
        EXPECT_EQ(own.allowed, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
        EXPECT_TRUE(own.inherited);
        EXPECT_FALSE(own.inheritable);
    }
    // The placeholder grants nothing itself and reaches on only where there is something below.
    const Win32Emu::SidAccess folderPlaceholder = machine().accessOf(planted, CreatorOwner);
    EXPECT_EQ(folderPlaceholder.allowed, 0u);
    EXPECT_TRUE(folderPlaceholder.inheritable);
    EXPECT_FALSE(machine().accessOf(planted + "\\run.exe", CreatorOwner).inherited);
    // An administrator's folder there gives its creator, Administrators, the same.
    Poco::File(hostRoot() + "/C/ProgramData/Vendor").createDirectories();
    EXPECT_EQ(machine().accessOf("C:\\ProgramData\\Vendor", "S-1-5-32-544").allowed,
              static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_EQ(machine().accessOf("C:\\ProgramData\\Vendor", Other).allowed, 0u);
}

TEST_F(ShippedAccessListsTest, AFolderMadeAtTheDriveRootIsEveryUsersToModify) {
    Poco::File(hostRoot() + "/C/Games").createDirectories();
    EXPECT_EQ(machine().accessOf("C:\\Games", AuthenticatedUsers).allowed, Modify);
    EXPECT_EQ(machine().accessOf("C:\\", AuthenticatedUsers).allowed,
              static_cast<ACCESS_MASK>(FILE_APPEND_DATA));
    EXPECT_EQ(
        machine().accessOf("C:\\Program Files (x86)\\Qovex Games", AuthenticatedUsers).allowed, 0u);
}

}  // namespace

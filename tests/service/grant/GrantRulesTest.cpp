// The refusal rules for directory grants: each rule with a path it refuses and a neighbour it
// grants.

#include "service/grant/GrantRules.h"
#include "service/grant/MachineLocations.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace OrvaneClient {
namespace {

ProtectedLocations Machine() {
    ProtectedLocations locations;
    locations.windowsDirectory = "C:\\Windows";
    locations.installDirectory = "C:\\Program Files (x86)\\Orvane Client";
    locations.programFilesDirectories = {"C:\\Program Files (x86)", "C:\\Program Files"};
    locations.commonAppDataDirectory = "C:\\ProgramData";
    locations.profilesDirectory = "C:\\Users";
    locations.ownProfileDirectory = "C:\\Users\\Player";
    locations.serviceImageDirectories = {"C:\\Windows\\system32",
                                         "C:\\Program Files (x86)\\Common Files\\Vendor\\Update"};
    locations.clientDataDirectory = "C:\\ProgramData\\OrvaneClient";
    // Whole drives, so that each rule below is what refuses its row.
    locations.libraryRoots = {"C:\\", "D:\\"};
    return locations;
}

// The roots as an administrator lists them.
ProtectedLocations LibraryMachine() {
    ProtectedLocations locations = Machine();
    locations.libraryRoots = {"C:\\Program Files (x86)\\Qovex Games",
                              "C:\\Games",
                              "D:\\Library\\Games",
                              "C:\\Users\\Player\\Library"};
    return locations;
}

// Upper-case paths the probe reports as links; "C:\LOCKED" cannot be examined.
PathState Probe(const std::string& path) {
    static const std::set<std::string> links = {"C:\\GAMES\\LINK", "D:\\LINKED"};
    if (links.count(path) > 0) {
        return PathState::ReparsePoint;
    }
    if (path == "C:\\LOCKED") {
        return PathState::Unknown;
    }
    return path.find("MISSING") != std::string::npos ? PathState::Missing : PathState::Present;
}

struct Case {
    const char* rule;
    const char* directory;
    bool refused;
};

class GrantRulesTest : public ::testing::TestWithParam<Case> {};

TEST_P(GrantRulesTest, RefusesOnlyWhatHandsOverTheMachine) {
    const Case& c = GetParam();
    const std::optional<std::string> reason = JudgeGrant(c.directory, Machine(), Probe).refusal;
    EXPECT_EQ(reason.has_value(), c.refused) << c.directory << ": " << reason.value_or("granted");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rules, GrantRulesTest, ::testing::Values(
    Case{"form", "", true},
    Case{"form", "games\\mine", true},
    Case{"form", "C:games", true},
    Case{"form", "\\games", true},
    Case{"form", "\\\\server\\share\\games", true},
    Case{"form", "\\\\?\\C:\\Games", true},
    Case{"form", "\\\\.\\C:\\Games", true},
    Case{"form", "\\??\\C:\\Games", true},
    Case{"form", "\\\\?\\GLOBALROOT\\Device\\HarddiskVolume2\\Games", true},
    Case{"form", "\\Device\\Mup\\host\\share", true},
    Case{"form", "C:\\Games\\nul", true},
    Case{"form", "C:\\Games\\Mine", false},
    Case{"canonical", "C:\\Games\\..\\Windows", true},
    Case{"canonical", "C:\\Games\\.\\Mine", true},
    Case{"canonical", "C:\\Games\\\\Mine", true},
    Case{"canonical", "C:\\Windows.", true},
    Case{"canonical", "C:\\PROGRA~2\\ORVANE~1", true},
    Case{"canonical", "C:\\Games\\Mine:stream", true},
    Case{"canonical", "C:\\Games\\Mine\\", false},
    Case{"canonical", "C:/Games/Mine", false},
    Case{"drive root", "C:\\", true},
    Case{"drive root", "D:\\", true},
    Case{"drive root", "D:\\Games", false},
    Case{"windows", "C:\\Windows", true},
    Case{"windows", "c:\\windows\\Temp", true},
    Case{"windows", "C:\\Windows Games", false},
    Case{"install", "C:\\Program Files (x86)\\Orvane Client", true},
    Case{"install", "C:\\Program Files (x86)\\Orvane Client\\cache", true},
    Case{"install", "C:\\Program Files (x86)\\Orvane Client Games", false},
    Case{"program files", "C:\\Program Files (x86)", true},
    Case{"program files", "C:\\Program Files", true},
    Case{"program files", "C:\\Program Files\\Some Game", false},
    Case{"app data", "C:\\ProgramData", true},
    Case{"app data", "C:\\ProgramData\\Some Game", false},
    Case{"client data", "C:\\ProgramData\\OrvaneClient", true},
    Case{"client data", "C:\\ProgramData\\OrvaneClient\\logs", true},
    Case{"client data", "C:\\ProgramData\\OrvaneClientGames", false},
    Case{"profiles", "C:\\Users", true},
    Case{"profiles", "C:\\Users\\Admin\\Games", true},
    Case{"profiles", "C:\\Users\\Player\\Games", false},
    Case{"services", "C:\\Program Files (x86)\\Common Files\\Vendor\\Update", true},
    Case{"services", "C:\\Program Files (x86)\\Common Files", true},
    Case{"services", "C:\\Program Files (x86)\\Common Files\\Other", false},
    Case{"reparse", "C:\\Games\\Link\\Mine", true},
    Case{"reparse", "D:\\Linked", true},
    Case{"reparse", "C:\\Locked\\Mine", true},
    Case{"reparse", "C:\\Games\\Missing\\Link", false}));
// clang-format on

struct RootCase {
    const char* directory;
    const char* refusal;  // empty: granted
};

class GrantRulesRootsTest : public ::testing::TestWithParam<RootCase> {};

TEST_P(GrantRulesRootsTest, GrantsOnlyInsideTheRootsAndTheOwnProfile) {
    const RootCase& c = GetParam();
    const GrantVerdict verdict = JudgeGrant(c.directory, LibraryMachine(), Probe);
    EXPECT_EQ(verdict.refusal.value_or(""), c.refusal) << c.directory;
}

const char* const Outside = "outside the library roots and the user's profile";
const char* const Root = "a library root itself";

// clang-format off
INSTANTIATE_TEST_SUITE_P(AllowList, GrantRulesRootsTest, ::testing::Values(
    RootCase{"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp", Outside},
    RootCase{"E:\\Games", Outside},
    RootCase{"D:\\Library", Root},
    RootCase{"C:\\Games Extra", Outside},
    RootCase{"C:\\ProgramData\\OrvaneClient\\logs", "the client's data folder or a folder inside it"},
    RootCase{"C:\\Program Files (x86)\\Qovex Games", Root},
    RootCase{"C:\\Games\\", Root},
    RootCase{"D:\\Library\\Games", Root},
    RootCase{"C:\\Users\\Player", Root},
    RootCase{"C:\\Users\\Player\\Library\\Mine", ""},
    RootCase{"d:\\library\\games\\Mine", ""},
    RootCase{"C:\\Program Files (x86)\\Qovex Games\\Starfall", ""},
    RootCase{"C:\\Users\\Player\\Documents\\Games", ""}));
// clang-format on

TEST(GrantRulesApprovalTest, HandsBackTheCanonicalPathItApproved) {
    const struct {
        const char* directory;
        const char* approved;
    } cases[] = {
        {"C:\\Games\\Mine", "C:\\Games\\Mine"},
        {"c:/Games/Mine/", "C:\\Games\\Mine"},
        {"D:\\Games\\\xC3\xA9t\xC3\xA9", "D:\\Games\\\xC3\xA9t\xC3\xA9"},
        {"C:\\Windows", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.directory);
        EXPECT_EQ(JudgeGrant(c.directory, Machine(), Probe).approvedPath, c.approved);
    }
}

TEST(GrantRulesImageTest, FindsTheFolderOfEveryImagePathForm) {
    const struct {
        const char* imagePath;
        const char* directory;
    } cases[] = {
        {"\"C:\\Program Files\\A B\\svc.exe\" -k", "C:\\Program Files\\A B"},
        {"C:\\Program Files\\A B\\svc.exe /run", "C:\\Program Files\\A B"},
        {"%SystemRoot%\\system32\\svchost.exe -k netsvcs", "C:\\Windows\\system32"},
        {"\\SystemRoot\\System32\\drivers\\x.sys", "C:\\Windows\\System32\\drivers"},
        {"System32\\drivers\\tcpip.sys", "C:\\Windows\\System32\\drivers"},
        {"\\??\\D:\\Drivers\\ac.sys", "D:\\Drivers"},
        {"\\\\server\\share\\svc.exe", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.imagePath);
        EXPECT_EQ(ImageDirectory(c.imagePath, "C:\\Windows"), c.directory);
    }
}

}  // namespace
}  // namespace OrvaneClient

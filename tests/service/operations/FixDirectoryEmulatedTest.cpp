// Granting the console user full control of a directory and the client's keys, on the emulated
// machine: what is logged, what is answered, and what the access lists hold afterwards.

#include "service/operations/PrivilegedOperations.h"
#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/LogCapture.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Message.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Win32Emu {
bool operator==(const AccessEntry& left, const AccessEntry& right) {
    return left.allowed == right.allowed && left.sid == right.sid && left.mask == right.mask &&
           left.flags == right.flags;
}
}  // namespace Win32Emu

namespace OrvaneClient {

namespace {

using Testing::LogCapture;
using Win32Emu::AccessEntry;
using Win32Emu::RegistryView;

const std::string UserSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";
const std::string GamesKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games";
const std::string ClientKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient";
const std::string GameFolder = "C:\\Games\\Mine";
const std::string ParametersKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Orvane Client Service\\Parameters";
constexpr int Info = Poco::Message::PRIO_INFORMATION;
constexpr int Warning = Poco::Message::PRIO_WARNING;
constexpr int Error = Poco::Message::PRIO_ERROR;

class FixDirectoryTest : public Testing::EmulatedMachineTest {
protected:
    void SetUp() override {
        EmulatedMachineTest::SetUp();
        Poco::File(hostRoot() + "/C/Games/Mine/levels").createDirectories();
        Poco::FileOutputStream(hostRoot() + "/C/Games/Mine/game.exe") << "MZ";
        capture = std::make_unique<LogCapture>(Poco::Message::PRIO_INFORMATION);
    }
    void TearDown() override {
        capture.reset();
        EmulatedMachineTest::TearDown();
    }

    bool fix(const std::string& directory) {
        return operations.fixDirectoryPrivileges(directory.c_str(), directory.size());
    }
    // The list without the console user's entries.
    std::vector<AccessEntry> others(const std::string& object,
                                    RegistryView view = RegistryView::Process) {
        std::vector<AccessEntry> entries;
        for (const AccessEntry& entry : machine().accessList(object, view).value_or(entries)) {
            if (entry.sid != UserSid) {
                entries.push_back(entry);
            }
        }
        return entries;
    }
    void expectLines(const std::vector<std::pair<int, std::string>>& lines) {
        for (const auto& line : lines) {
            EXPECT_TRUE(capture->contains(line.first, line.second))
                << "missing [" << line.first << "] " << line.second << "\n"
                << capture->dump();
        }
    }

    std::unique_ptr<LogCapture> capture;
    PrivilegedOperations operations;
};

TEST_F(FixDirectoryTest, TheUserGetsInheritableFullControlAndNothingElseChanges) {
    // A key of the same name in the 64-bit view, which the 32-bit service must leave alone.
    machine().setWow64(false);
    machine().createRegistryKey(GamesKey);
    machine().setWow64(true);
    const auto folderBefore = others(GameFolder);
    const auto gamesBefore = others(GamesKey, RegistryView::Bits32);
    const auto native = machine().accessList(GamesKey, RegistryView::Bits64);

    EXPECT_TRUE(fix(GameFolder)) << capture->dump();

    expectLines({{Info, "Setting directory permissions for C:\\Games\\Mine OK"},
                 {Info, "Setting registry permissions for games OK"},
                 {Info, "Setting registry permissions for client OK"}});
    const Win32Emu::SidAccess folder = machine().accessOf(GameFolder, UserSid);
    EXPECT_EQ(folder.allowed, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    EXPECT_TRUE(folder.inheritable);
    EXPECT_FALSE(folder.inherited);
    for (const std::string& child : {GameFolder + "\\levels", GameFolder + "\\game.exe"}) {
        SCOPED_TRACE(child);
        const Win32Emu::SidAccess access = machine().accessOf(child, UserSid);
        EXPECT_EQ(access.allowed, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
        EXPECT_TRUE(access.inherited);
    }
    for (const std::string& key : {GamesKey, ClientKey}) {
        SCOPED_TRACE(key);
        const Win32Emu::SidAccess access = machine().accessOf(key, UserSid, RegistryView::Bits32);
        EXPECT_EQ(access.allowed, static_cast<ACCESS_MASK>(KEY_ALL_ACCESS));
        EXPECT_TRUE(access.inheritable);
    }
    EXPECT_EQ(others(GameFolder), folderBefore);
    EXPECT_EQ(others(GamesKey, RegistryView::Bits32), gamesBefore);
    EXPECT_EQ(machine().accessList(GamesKey, RegistryView::Bits64), native);
    EXPECT_EQ(machine().accessChanges().size(), 3u);
}

TEST_F(FixDirectoryTest, ANativeServiceGrantsTheKeysOfThe64BitView) {
    machine().setWow64(false);
    machine().createRegistryKey(GamesKey);
    machine().createRegistryKey(ClientKey);

    EXPECT_TRUE(fix(GameFolder)) << capture->dump();

    for (const std::string& key : {GamesKey, ClientKey}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(machine().accessOf(key, UserSid, RegistryView::Bits64).allowed,
                  static_cast<ACCESS_MASK>(KEY_ALL_ACCESS));
        EXPECT_EQ(machine().accessOf(key, UserSid, RegistryView::Bits32).allowed, 0u);
    }
}

struct FailureCase {
    const char* name;
    std::function<void(Win32Emu::Machine&)> arrange;
    std::string directory;
    bool result;
    std::vector<std::pair<int, std::string>> lines;
};

class FixDirectoryFailureTest : public FixDirectoryTest,
                                public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FixDirectoryFailureTest, EachGrantStandsAlone) {
    const FailureCase& c = GetParam();
    c.arrange(machine());
    EXPECT_EQ(fix(c.directory), c.result) << capture->dump();
    expectLines(c.lines);
}

const std::string DirectoryOk = "Setting directory permissions for C:\\Games\\Mine OK";
const std::string DirectoryFailed = "Setting directory permissions for C:\\Games\\Mine FAILED";
const std::string GamesOk = "Setting registry permissions for games OK";
const std::string ClientOk = "Setting registry permissions for client OK";

void Nothing(Win32Emu::Machine&) {}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, FixDirectoryFailureTest, ::testing::Values(
    FailureCase{"MissingDirectory", Nothing, "C:\\Games\\Missing", false,
        {{Error, "GetNamedSecurityInfo for obj name C:\\Games\\Missing Error 2"},
         {Warning, "Setting directory permissions for C:\\Games\\Missing FAILED"},
         {Info, GamesOk}, {Info, ClientOk}}},
    FailureCase{"MissingKey",
        [](Win32Emu::Machine& m) { m.deleteRegistryKey(GamesKey); }, GameFolder, false,
        {{Error, "GetNamedSecurityInfo for obj name MACHINE\\SOFTWARE\\Qovex\\Games Error 2"},
         {Warning, "Setting registry permissions for games FAILED"},
         {Info, DirectoryOk}, {Info, ClientOk}}},
    FailureCase{"BuildingTheList",
        [](Win32Emu::Machine& m) { m.failNext("SetEntriesInAclA", ERROR_INVALID_PARAMETER); },
        GameFolder, false,
        {{Error, "Calling SetEntriesInAcl Error 87; pszObjName=C:\\Games\\Mine, "
                 "grfAccessPermissions=268435456, grfAccessMode=1, grfInheritance=3, "
                 "Trustee.TrusteeForm=0, Trustee.TrusteeType=1; SID: GAMING-PC/Player"},
         {Warning, DirectoryFailed}, {Info, GamesOk}, {Info, ClientOk}}},
    FailureCase{"BuildingTheListAndNamingTheTrustee",
        [](Win32Emu::Machine& m) {
            m.failNext("SetEntriesInAclA", ERROR_INVALID_PARAMETER);
            m.failNext("LookupAccountSidW", ERROR_NONE_MAPPED);
        },
        GameFolder, false,
        {{Error, "LookupAccountSidW failed 1332"},
         {Error, "Calling SetEntriesInAcl Error 87; pszObjName=C:\\Games\\Mine, "
                 "grfAccessPermissions=268435456, grfAccessMode=1, grfInheritance=3, "
                 "Trustee.TrusteeForm=0, Trustee.TrusteeType=1; SID: ?"}}},
    FailureCase{"AlreadySet",
        [](Win32Emu::Machine& m) {
            m.failWhen("SetKernelObjectSecurity", GameFolder, ERROR_BAD_INHERITANCE_ACL);
        },
        GameFolder, true,
        {{Info, "Probably correct permissions for resource C:\\Games\\Mine is already set. "
                "Skipping."},
         {Info, DirectoryOk}}},
    FailureCase{"WritingTheList",
        [](Win32Emu::Machine& m) {
            m.failWhen("SetKernelObjectSecurity", GameFolder, ERROR_ACCESS_DENIED);
        },
        GameFolder, false,
        {{Error, "SetNamedSecurityInfo Error 5"}, {Warning, DirectoryFailed}, {Info, GamesOk}}},
    FailureCase{"AccountLookup",
        [](Win32Emu::Machine& m) { m.failNext("LookupAccountSidA", ERROR_NONE_MAPPED); },
        GameFolder, false,
        {{Warning, "LookupAccountSid failed: 1332"}, {Warning, DirectoryFailed},
         {Info, GamesOk}, {Info, ClientOk}}},
    FailureCase{"NoSid",
        [](Win32Emu::Machine& m) {
            // The account lookup reads the token twice; the user's SID is read on the fourth.
            m.injectFault(Win32Emu::Fault("GetTokenInformation", ERROR_ACCESS_DENIED).onOccurrence(4));
        },
        GameFolder, false,
        {{Warning, "GetTokenInformation failed with error 5"}, {Warning, DirectoryFailed},
         {Info, GamesOk}}},
    FailureCase{"NobodyAtTheConsole",
        [](Win32Emu::Machine& m) { m.removeProcess(2412); }, GameFolder, false,
        {{Warning, DirectoryFailed},
         {Warning, "Setting registry permissions for games FAILED"},
         {Warning, "Setting registry permissions for client FAILED"}}},
    FailureCase{"EmptyDirectory", Nothing, "", false,
        {{Warning, "Refusing to grant full control of : the path is empty"},
         {Warning, "Setting directory permissions for  FAILED"},
         {Info, GamesOk}, {Info, ClientOk}}},
    FailureCase{"WindowsDirectory", Nothing, "C:\\Windows", false,
        {{Warning, "Refusing to grant full control of C:\\Windows: the Windows directory or a "
                   "folder inside it"},
         {Warning, "Setting directory permissions for C:\\Windows FAILED"}, {Info, GamesOk}}},
    FailureCase{"JunctionToWindows",
        [](Win32Emu::Machine& m) { m.setReparsePoint("C:\\Games\\Mine", "C:\\Windows"); },
        GameFolder, false,
        {{Warning, "Refusing to grant full control of C:\\Games\\Mine: a folder on the path is a "
                   "junction or symbolic link"},
         {Warning, DirectoryFailed}, {Info, ClientOk}}},
    FailureCase{"ProfilesFolderUnknown",
        [](Win32Emu::Machine& m) { m.failNext("GetProfilesDirectoryW", ERROR_FILE_NOT_FOUND); },
        GameFolder, false,
        {{Warning, "Refusing to grant full control of C:\\Games\\Mine: the system's folders "
                   "cannot be determined"},
         {Warning, DirectoryFailed}, {Info, GamesOk}, {Info, ClientOk}}},
    FailureCase{"OwnProfile", Nothing, "C:\\Users\\Player\\Games", false,
        {{Error, "GetNamedSecurityInfo for obj name C:\\Users\\Player\\Games Error 3"}}},
    FailureCase{"StartUpFolder", Nothing,
        "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp", false,
        {{Warning, "Refusing to grant full control of C:\\ProgramData\\Microsoft\\Windows\\Start "
                   "Menu\\Programs\\StartUp: outside the library roots and the user's profile"}}},
    FailureCase{"LogsFolder", Nothing, "C:\\ProgramData\\OrvaneClient\\logs", false,
        {{Warning, "Refusing to grant full control of C:\\ProgramData\\OrvaneClient\\logs: the "
                   "client's data folder or a folder inside it"}}},
    FailureCase{"RootsReadOnEachRequest",
        [](Win32Emu::Machine& m) {
            m.setRegistryMultiString(ParametersKey, "LibraryRoots", {"D:\\Library"});
        },
        GameFolder, false,
        {{Warning, "Refusing to grant full control of C:\\Games\\Mine: outside the library roots "
                   "and the user's profile"}}},
    FailureCase{"JunctionInside",
        [](Win32Emu::Machine& m) {
            m.setReparsePoint(GameFolder + "\\levels\\j", "C:\\Windows\\System32");
        },
        GameFolder, false,
        {{Warning, "Refusing to grant full control of C:\\Games\\Mine: the folder holds a junction "
                   "or symbolic link (C:\\Games\\Mine\\levels\\j)"},
         {Warning, DirectoryFailed}, {Info, GamesOk}}},
    FailureCase{"DirectorySymbolicLinkInside",
        [](Win32Emu::Machine& m) { m.setReparsePoint(GameFolder + "\\s", "C:\\Windows", false); },
        GameFolder, false,
        {{Warning, "Refusing to grant full control of C:\\Games\\Mine: the folder holds a junction "
                   "or symbolic link (C:\\Games\\Mine\\s)"}}},
    FailureCase{"HardLinkedFileInside",
        [](Win32Emu::Machine& m) {
            m.setFile("C:\\Windows\\System32\\drivers\\etc\\hosts");
            m.setHardLink(GameFolder + "\\levels\\hosts", "C:\\Windows\\System32\\drivers\\etc\\hosts");
        },
        GameFolder, false,
        {{Warning, "Refusing to grant full control of C:\\Games\\Mine: the folder holds a file "
                   "with a hard link outside it (C:\\Windows\\System32\\drivers\\etc\\hosts)"}}},
    FailureCase{"FileWithAnUntoldName",
        [](Win32Emu::Machine& m) {
            Win32Emu::FileEntry linked;
            linked.links = 2;
            m.setFile(GameFolder + "\\levels\\hosts", linked);
        },
        GameFolder, false,
        {{Warning, "Refusing to grant full control of C:\\Games\\Mine: the folder's contents "
                   "cannot be examined (C:\\Games\\Mine\\levels\\hosts, error 1920)"}}},
    FailureCase{"RegistryLinkInsideTheGamesKey",
        [](Win32Emu::Machine& m) {
            m.setRegistryLink(GamesKey + "\\Sub", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes");
        },
        GameFolder, false,
        {{Warning, "Refusing to grant full control of HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games: the "
                   "key is or holds a registry link (HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games\\Sub)"},
         {Warning, "Setting registry permissions for games FAILED"},
         {Info, DirectoryOk}, {Info, ClientOk}}},
    FailureCase{"TheClientKeyIsALink",
        [](Win32Emu::Machine& m) {
            m.deleteRegistryKey(ClientKey);
            m.setRegistryLink(ClientKey, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes");
        },
        GameFolder, false,
        {{Warning, "Refusing to grant full control of HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient: "
                   "the key is or holds a registry link (HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient)"},
         {Warning, "Setting registry permissions for client FAILED"}, {Info, GamesOk}}},
    FailureCase{"InstallersRoot", Nothing, "C:\\Program Files (x86)\\Qovex Games", false,
        {{Warning, "Refusing to grant full control of C:\\Program Files (x86)\\Qovex Games: a "
                   "library root itself"},
         {Warning, "Setting directory permissions for C:\\Program Files (x86)\\Qovex Games FAILED"},
         {Info, GamesOk}, {Info, ClientOk}}},
    FailureCase{"GamesRoot", Nothing, "C:\\Games", false,
        {{Warning, "Refusing to grant full control of C:\\Games: a library root itself"}}},
    FailureCase{"AnotherProfile", Nothing, "C:\\Users\\Admin\\Games", false,
        {{Warning, "Refusing to grant full control of C:\\Users\\Admin\\Games: the profiles "
                   "folder or the profile of another user"}}}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });
// clang-format on

TEST_F(FixDirectoryTest, AFolderInARootAndOneInTheOwnProfileAreGranted) {
    // The first exists only through the files the machine lists in it.
    const std::string starfall = "C:\\Program Files (x86)\\Qovex Games\\Starfall";
    Poco::File(hostRoot() + "/C/Users/Player/Games").createDirectories();
    for (const std::string& folder : {starfall, std::string("C:\\Users\\Player\\Games")}) {
        SCOPED_TRACE(folder);
        EXPECT_TRUE(fix(folder)) << capture->dump();
        EXPECT_EQ(machine().accessOf(folder, UserSid).allowed,
                  static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    }
    EXPECT_TRUE(machine().accessOf(starfall + "\\Starfall.exe", UserSid).inherited);
}

TEST_F(FixDirectoryTest, AJunctionPlantedBetweenCheckAndGrantDoesNotReachItsTarget) {
    Poco::File(hostRoot() + "/C/Windows/System32").createDirectories();
    // Between reading the folder's list and writing the new one, the name is made a junction.
    machine().beforeCall("SetEntriesInAclA", [this] {
        machine().setReparsePoint(GameFolder, "C:\\Windows\\System32");
    });

    EXPECT_TRUE(fix(GameFolder)) << capture->dump();

    EXPECT_EQ(machine().accessOf("C:\\Windows\\System32", UserSid).allowed, 0u);
    EXPECT_FALSE(machine().accessOf("C:\\Windows\\System32", UserSid).inheritable);
}

TEST_F(FixDirectoryTest, OneRequestReadsTheInstalledServicesOnce) {
    // A second read within the request would be refused, and with it the folder.
    machine().injectFault(
        Win32Emu::Fault("RegOpenKeyExW", ERROR_ACCESS_DENIED)
            .withArgument("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services")
            .onOccurrence(2));

    EXPECT_TRUE(fix(GameFolder)) << capture->dump();

    EXPECT_EQ(machine().unfiredFaults().size(), 1u);
    machine().clearFaults();
}

TEST_F(FixDirectoryTest, ARefusedDirectoryKeepsItsList) {
    Poco::File(hostRoot() + "/C/Windows").createDirectories();
    const auto before = machine().accessList("C:\\Windows");

    EXPECT_FALSE(fix("C:\\Windows"));

    EXPECT_EQ(machine().accessList("C:\\Windows"), before);
    EXPECT_EQ(machine().accessChanges().size(), 2u) << "the two keys only";
}

}  // namespace
}  // namespace OrvaneClient

// The grant's walk on the emulated machine: links planted while it runs are never followed or
// written through, the folders players have are granted, and what every child holds afterwards
// is what Windows' own propagation would have written.

#include "service/operations/PrivilegedOperations.h"
#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/LogCapture.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Message.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

using Testing::LogCapture;
using Win32Emu::AccessEntry;

const std::string UserSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";
const std::string GameFolder = "C:\\Games\\Mine";
const std::string GamesKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games";
const std::string Hosts = "C:\\Windows\\System32\\drivers\\etc\\hosts";
const std::string System32 = "C:\\Windows\\System32";
const std::string ClassesKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
constexpr int Warning = Poco::Message::PRIO_WARNING;

bool SameEntries(const std::optional<std::vector<AccessEntry>>& left,
                 const std::optional<std::vector<AccessEntry>>& right) {
    if (left.has_value() != right.has_value()) {
        return false;
    }
    if (!left || left->size() != right->size()) {
        return !left;
    }
    for (size_t i = 0; i < left->size(); ++i) {
        const AccessEntry& a = (*left)[i];
        const AccessEntry& b = (*right)[i];
        if (a.allowed != b.allowed || a.sid != b.sid || a.mask != b.mask || a.flags != b.flags) {
            return false;
        }
    }
    return true;
}

class GrantWalkTest : public Testing::EmulatedMachineTest {
protected:
    void SetUp() override {
        EmulatedMachineTest::SetUp();
        Poco::File(hostRoot() + "/C/Games/Mine/levels/deep").createDirectories();
        Poco::FileOutputStream(hostRoot() + "/C/Games/Mine/game.exe") << "MZ";
        Poco::FileOutputStream(hostRoot() + "/C/Games/Mine/levels/one.map") << "1";
        Poco::File(hostRoot() + "/C/Windows/System32").createDirectories();
        machine().setFile(Hosts);
        machine().createRegistryKey(GamesKey + "\\Saves");
        machine().createRegistryKey(ClassesKey);
        capture = std::make_unique<LogCapture>(Poco::Message::PRIO_INFORMATION);
    }
    void TearDown() override {
        capture.reset();
        EmulatedMachineTest::TearDown();
    }
    bool fix() { return operations.fixDirectoryPrivileges(GameFolder.c_str(), GameFolder.size()); }
    bool userHasFullControl(const std::string& object) {
        return machine().accessOf(object, UserSid).allowed ==
               static_cast<ACCESS_MASK>(FILE_ALL_ACCESS);
    }

    std::unique_ptr<LogCapture> capture;
    PrivilegedOperations operations;
};

// What another process does while the grant runs, and what it must not reach.
struct RaceCase {
    const char* name;
    std::function<void(Win32Emu::Machine&)> plant;
    std::string target;  // a file, folder or key whose list must stay as it was
    std::string refusal;
};

class GrantRaceTest : public GrantWalkTest, public ::testing::WithParamInterface<RaceCase> {};

TEST_P(GrantRaceTest, WhatIsPlantedMidGrantIsRefusedAndNotReached) {
    const RaceCase& c = GetParam();
    const auto targetBefore = machine().accessList(c.target);
    c.plant(machine());

    EXPECT_FALSE(fix());

    EXPECT_TRUE(capture->contains(Warning, c.refusal)) << capture->dump();
    EXPECT_TRUE(SameEntries(machine().accessList(c.target), targetBefore)) << c.target;
    EXPECT_EQ(machine().accessOf(c.target, UserSid).allowed, 0u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, GrantRaceTest, ::testing::Values(
    RaceCase{"HardLinkAfterTheFirstChild",
        [](Win32Emu::Machine& m) {
            // The first child has been judged and is about to be written.
            m.beforeCall("SetKernelObjectSecurity", [&m] {
                m.setHardLink(GameFolder + "\\levels\\hosts", Hosts);
            });
        },
        Hosts,
        "Refusing to grant full control of C:\\Games\\Mine: the folder holds a file with a hard "
        "link outside it (C:\\Windows\\System32\\drivers\\etc\\hosts)"},
    RaceCase{"JunctionMidGrant",
        [](Win32Emu::Machine& m) {
            m.beforeCall("SetKernelObjectSecurity", [&m] {
                m.setReparsePoint(GameFolder + "\\levels\\deep\\j", System32);
            });
        },
        System32,
        "Refusing to grant full control of C:\\Games\\Mine: the folder holds a junction or "
        "symbolic link (C:\\Games\\Mine\\levels\\deep\\j)"},
    RaceCase{"RegistryLinkSubkeyMidGrant",
        [](Win32Emu::Machine& m) {
            m.beforeCall("RegSetKeySecurity", [&m] {
                m.setRegistryLink(GamesKey + "\\Zlink", ClassesKey);
            });
        },
        ClassesKey,
        "Refusing to grant full control of HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games: the key is "
        "or holds a registry link (HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games\\Zlink)"}),
    [](const ::testing::TestParamInfo<RaceCase>& info) { return info.param.name; });
// clang-format on

struct TagCase {
    const char* name;
    DWORD tag;
};

class ReparseTagTest : public GrantWalkTest, public ::testing::WithParamInterface<TagCase> {};

TEST_P(ReparseTagTest, AFileThatIsNoLinkIsGranted) {
    machine().setReparseTag(GameFolder + "\\game.exe", GetParam().tag);
    machine().setReparseTag(GameFolder + "\\levels", GetParam().tag);

    EXPECT_TRUE(fix()) << capture->dump();

    EXPECT_TRUE(userHasFullControl(GameFolder + "\\game.exe"));
    EXPECT_TRUE(userHasFullControl(GameFolder + "\\levels\\one.map"));
}

INSTANTIATE_TEST_SUITE_P(Tags,
                         ReparseTagTest,
                         ::testing::Values(TagCase{"Wof", IO_REPARSE_TAG_WOF},
                                           TagCase{"Dedup", IO_REPARSE_TAG_DEDUP},
                                           TagCase{"CloudPlaceholder", IO_REPARSE_TAG_CLOUD},
                                           TagCase{"AppExecLink", IO_REPARSE_TAG_APPEXECLINK}),
                         [](const ::testing::TestParamInfo<TagCase>& info) {
                             return info.param.name;
                         });

TEST_F(GrantWalkTest, HardLinksWhoseNamesAllLieInsideAreGranted) {
    machine().setHardLink(GameFolder + "\\levels\\deep\\game-copy.exe", GameFolder + "\\game.exe");

    EXPECT_TRUE(fix()) << capture->dump();

    EXPECT_TRUE(userHasFullControl(GameFolder + "\\game.exe"));
    EXPECT_TRUE(userHasFullControl(GameFolder + "\\levels\\deep\\game-copy.exe"));
}

TEST_F(GrantWalkTest, ATreeDeeperThanMaxPathIsGranted) {
    std::string folder = GameFolder;
    std::string host = hostRoot() + "/C/Games/Mine";
    while (folder.size() <= 300) {
        folder += "\\a-folder-of-the-game-data";
        host += "/a-folder-of-the-game-data";
    }
    Poco::File(host).createDirectories();
    Poco::FileOutputStream(host + "/last.pak") << "p";

    EXPECT_TRUE(fix()) << capture->dump();

    EXPECT_TRUE(userHasFullControl(folder + "\\last.pak"));
}

TEST_F(GrantWalkTest, AnAccountOfFortyCharactersIsGranted) {
    Win32Emu::Account account = *machine().account(UserSid);
    account.name = std::string(40, 'p');
    account.domain = std::string(20, 'D');
    machine().setAccount(account);

    EXPECT_TRUE(fix()) << capture->dump();

    EXPECT_TRUE(userHasFullControl(GameFolder));
}

// After the grant every child holds what Windows' own propagation from the folder would write:
// the folder's list set again through the propagating call changes nothing below it.
TEST_F(GrantWalkTest, EveryChildHoldsWhatPropagationWouldWrite) {
    const std::string creatorOwner = "S-1-3-0";
    const std::string everyone = "S-1-1-0";
    machine().setAccessList(
        GameFolder,
        {{true,
          creatorOwner,
          GENERIC_ALL,
          OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE},
         {true, everyone, FILE_GENERIC_READ, OBJECT_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE}});
    machine().setAccessList(GameFolder + "\\levels", {{false, everyone, FILE_WRITE_DATA, 0}});
    Poco::File(hostRoot() + "/C/Games/Mine/protected").createDirectories();
    Poco::FileOutputStream(hostRoot() + "/C/Games/Mine/protected/save.dat") << "s";
    machine().setAccessList(
        GameFolder + "\\protected", {{true, everyone, FILE_ALL_ACCESS, 3}}, true);
    machine().setOwner(GameFolder + "\\levels\\one.map", UserSid);
    const std::vector<std::string> children = {GameFolder + "\\game.exe",
                                               GameFolder + "\\levels",
                                               GameFolder + "\\levels\\one.map",
                                               GameFolder + "\\levels\\deep",
                                               GameFolder + "\\protected",
                                               GameFolder + "\\protected\\save.dat"};
    const auto protectedBefore = machine().accessList(GameFolder + "\\protected\\save.dat");

    ASSERT_TRUE(fix()) << capture->dump();

    std::vector<std::optional<std::vector<AccessEntry>>> granted;
    for (const std::string& child : children) {
        granted.push_back(machine().accessList(child));
    }
    std::vector<AccessEntry> own;
    const std::vector<AccessEntry> folder = machine().accessList(GameFolder).value();
    for (const AccessEntry& entry : folder) {
        if ((entry.flags & INHERITED_ACE) == 0) {
            own.push_back(entry);
        }
    }
    machine().setAccessList(GameFolder, own);
    for (size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(children[i]);
        EXPECT_TRUE(SameEntries(granted[i], machine().accessList(children[i])));
    }
    EXPECT_TRUE(userHasFullControl(GameFolder + "\\levels\\one.map"));
    EXPECT_EQ(machine().accessOf(GameFolder + "\\levels", everyone).denied,
              static_cast<ACCESS_MASK>(FILE_WRITE_DATA));
    EXPECT_FALSE(userHasFullControl(GameFolder + "\\protected"));
    EXPECT_TRUE(
        SameEntries(machine().accessList(GameFolder + "\\protected\\save.dat"), protectedBefore));
}

}  // namespace
}  // namespace OrvaneClient

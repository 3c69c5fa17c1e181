// launchProcess on the emulated machine: which token, environment, directory and flags the
// program gets, every log line, and everything released whatever happens.

#include "core/logfacade/LogFacade.h"
#include "core/windows/FileProbe.h"
#include "service/operations/PrivilegedOperations.h"
#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <Win32Emu/Machine.h>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

using Testing::LogCapture;
using Win32Emu::Machine;

constexpr int Error = Poco::Message::PRIO_ERROR;
constexpr int Warning = Poco::Message::PRIO_WARNING;
constexpr int Info = Poco::Message::PRIO_INFORMATION;
const char* const PlayerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";
const char* const Game = "C:\\Program Files (x86)\\Qovex Games\\Starfall\\Starfall.exe";

void MakeStandardUser(Machine& machine) {
    Win32Emu::Account player = *machine.account(PlayerSid);
    player.administrator = false;
    player.linkedToken = false;
    machine.setAccount(player);
}

class LaunchProcessTest : public Testing::EmulatedMachineTest {
protected:
    void SetUp() override {
        EmulatedMachineTest::SetUp();
        GetLoggingState().isSetUp = true;
        capture = std::make_unique<LogCapture>();
    }

    void TearDown() override {
        capture.reset();
        EmulatedMachineTest::TearDown();
    }

    bool launch(const std::string& path,
                const std::string& commandLine,
                const std::string& directory = std::string(),
                bool elevated = false) {
        return operations.launchProcess(
            path.c_str(), commandLine.c_str(), directory.c_str(), elevated, &processId);
    }

    // Closes what a failed CloseHandle left open, so that only the test's own faults remain.
    void closeLeftovers(const std::string& type) {
        for (const Win32Emu::OpenObject& object : machine().openHandles()) {
            if (object.type == type && object.createdBy == "CreateProcessAsUserW") {
                CloseHandle(reinterpret_cast<HANDLE>(object.value));
            }
        }
    }

    size_t linesAtOrAbove(int priority) const {
        size_t count = 0;
        for (const auto& line : capture->lines()) {
            count += line.priority <= priority ? 1 : 0;
        }
        return count;
    }

    std::unique_ptr<LogCapture> capture;
    PrivilegedOperations operations;
    uint32_t processId = 0;
};

struct Launched {
    const char* what;
    std::function<void(Machine&)> prepare;
    std::string path;
    std::string commandLine;
    std::string workingDir;
    bool elevated;
    std::string defaultDir;
    std::string usedDir;
    TOKEN_ELEVATION_TYPE elevation;
};

void PrintTo(const Launched& c, std::ostream* out) {
    *out << c.what;
}

class LaunchSucceedsTest : public LaunchProcessTest,
                           public ::testing::WithParamInterface<Launched> {};

TEST_P(LaunchSucceedsTest, TheProgramStartsAsAskedAndNothingIsKept) {
    const Launched& c = GetParam();
    if (c.prepare) {
        c.prepare(machine());
    }
    ASSERT_TRUE(launch(c.path, c.commandLine, c.workingDir, c.elevated)) << capture->dump();

    const std::vector<Win32Emu::LaunchRecord> launches = machine().launches();
    ASSERT_EQ(1u, launches.size());
    const Win32Emu::LaunchRecord& record = launches.front();
    EXPECT_EQ(record.processId, processId);
    EXPECT_EQ(c.path, record.applicationName);
    EXPECT_EQ(c.commandLine, record.commandLine);
    EXPECT_EQ(c.usedDir, record.currentDirectory);
    EXPECT_EQ(PlayerSid, record.userSid);
    EXPECT_EQ(1u, record.sessionId);
    EXPECT_EQ(c.elevation, record.elevation);
    EXPECT_EQ("WinSta0\\Default", record.desktop);
    EXPECT_EQ(0x420u, record.creationFlags);
    EXPECT_EQ(static_cast<DWORD>(sizeof(STARTUPINFOW)), record.startupInfoSize);
    EXPECT_FALSE(record.inheritHandles);
    // The block came from the console user's token, obtained before the launch token.
    EXPECT_EQ(PlayerSid, record.environmentUserSid);
    EXPECT_NE(0u, record.environmentTokenId);
    EXPECT_LT(record.environmentTokenId, record.tokenId);

    EXPECT_TRUE(capture->contains(Info, "Default working dir: " + c.defaultDir)) << capture->dump();
    EXPECT_TRUE(capture->contains(Info,
                                  "Created process as user. Process path: " + c.path +
                                      ", command line " + c.commandLine +
                                      ", working directory: " + c.usedDir))
        << capture->dump();
    EXPECT_EQ(0u, linesAtOrAbove(Warning)) << capture->dump();
}

INSTANTIATE_TEST_SUITE_P(
    LaunchProcess,
    LaunchSucceedsTest,
    ::testing::Values(Launched{"DefaultDirectory",
                               nullptr,
                               Game,
                               "Starfall.exe -windowed",
                               "",
                               false,
                               "C:\\Program Files (x86)\\Qovex Games\\Starfall\\",
                               "C:\\Program Files (x86)\\Qovex Games\\Starfall\\",
                               TokenElevationTypeLimited},
                      Launched{"GivenDirectoryUnchanged",
                               nullptr,
                               "C:\\Windows\\notepad.exe",
                               "notepad.exe",
                               "c:/program files (x86)/qovex games",
                               false,
                               "C:\\Windows\\",
                               "c:/program files (x86)/qovex games",
                               TokenElevationTypeLimited},
                      Launched{"CommandLineWithoutProgramName",
                               nullptr,
                               "C:\\Windows\\notepad.exe",
                               "readme.txt",
                               "",
                               false,
                               "C:\\Windows\\",
                               "C:\\Windows\\",
                               TokenElevationTypeLimited},
                      Launched{"RelativePathAgainstCurrentDirectory",
                               [](Machine& m) { m.setCurrentDirectory(L"C:\\Windows"); },
                               "system32\\cmd.exe",
                               "cmd.exe",
                               "",
                               false,
                               "C:\\Windows\\system32\\",
                               "C:\\Windows\\system32\\",
                               TokenElevationTypeLimited},
                      Launched{"BareNameInTheServiceDirectory",
                               nullptr,
                               "cmd.exe",
                               "cmd.exe /c ver",
                               "",
                               false,
                               "C:\\Windows\\system32\\",
                               "C:\\Windows\\system32\\",
                               TokenElevationTypeLimited},
                      Launched{"ElevatedAdministratorGetsTheFullToken",
                               nullptr,
                               Game,
                               "Starfall.exe",
                               "",
                               true,
                               "C:\\Program Files (x86)\\Qovex Games\\Starfall\\",
                               "C:\\Program Files (x86)\\Qovex Games\\Starfall\\",
                               TokenElevationTypeFull},
                      Launched{"ElevatedStandardUserGetsTheOrdinaryToken",
                               MakeStandardUser,
                               Game,
                               "Starfall.exe",
                               "",
                               true,
                               "C:\\Program Files (x86)\\Qovex Games\\Starfall\\",
                               "C:\\Program Files (x86)\\Qovex Games\\Starfall\\",
                               TokenElevationTypeDefault}),
    [](const ::testing::TestParamInfo<Launched>& info) { return info.param.what; });

struct Refused {
    const char* what;
    std::function<void(Machine&)> prepare;
    std::string path;
    // Lines that must appear, with their level.
    std::vector<std::pair<int, std::string>> lines;
};

void PrintTo(const Refused& c, std::ostream* out) {
    *out << c.what;
}

class LaunchFailsTest : public LaunchProcessTest, public ::testing::WithParamInterface<Refused> {};

TEST_P(LaunchFailsTest, NothingStartsAndTheReasonIsLogged) {
    const Refused& c = GetParam();
    if (c.prepare) {
        c.prepare(machine());
    }
    processId = 0xdeadbeef;
    EXPECT_FALSE(launch(c.path, "program.exe --flag"));
    EXPECT_EQ(0xdeadbeefu, processId);
    EXPECT_TRUE(machine().launches().empty());
    for (const auto& line : c.lines) {
        EXPECT_TRUE(capture->contains(line.first, line.second)) << capture->dump();
    }
}

INSTANTIATE_TEST_SUITE_P(
    LaunchProcess,
    LaunchFailsTest,
    ::testing::Values(
        Refused{"NobodyAtTheConsole",
                [](Machine& m) { m.setSessionUser(1, ""); },
                Game,
                {{Error, "Couldnt get query user token, error code 1008"}}},
        Refused{"NoLaunchToken",
                [](Machine& m) { m.failNext("DuplicateTokenEx", ERROR_NOT_ENOUGH_MEMORY); },
                Game,
                {{Error, "Couldn't duplicate linked token, error code 8"}}},
        Refused{"NoEnvironmentBlock",
                [](Machine& m) { m.failNext("CreateEnvironmentBlock", ERROR_ACCESS_DENIED); },
                Game,
                {{Error, "Couldn't create user environment block, error code 5"}}},
        Refused{"MissingExecutable",
                nullptr,
                "C:\\Games\\Gone\\gone.exe",
                {{Info, "Default working dir: C:\\Games\\Gone\\"},
                 {Info,
                  "Couldn't create process as user. Process path: C:\\Games\\Gone\\gone.exe, "
                  "command line program.exe --flag, working directory: C:\\Games\\Gone\\, error "
                  "code 3"},
                 {Warning,
                  "OrvaneService could not obtatin exclusive access on file: "
                  "C:\\Games\\Gone\\gone.exe."}}},
        Refused{"CreationFailsForAFreeExecutable",
                [](Machine& m) { m.failNext("CreateProcessAsUserW", ERROR_NOT_ENOUGH_MEMORY); },
                Game,
                {{Info,
                  std::string("Couldn't create process as user. Process path: ") + Game +
                      ", command line program.exe --flag, working directory: C:\\Program Files "
                      "(x86)\\Qovex Games\\Starfall\\, error code 8"},
                 {Info,
                  std::string("OrvaneService could obtatin exclusive access on file: ") + Game +
                      " successfully."}}}),
    [](const ::testing::TestParamInfo<Refused>& info) { return info.param.what; });

struct NonLocal {
    const char* what;
    const char* path;
    const char* directory;
    const char* reason;
};

class LaunchNonLocalTest : public LaunchProcessTest,
                           public ::testing::WithParamInterface<NonLocal> {};

TEST_P(LaunchNonLocalTest, IsRefusedBeforeAnyTokenOrFile) {
    const NonLocal& c = GetParam();
    // Either would fire if the launch reached a token or a file.
    machine().injectFault(Win32Emu::Fault("WTSQueryUserToken", ERROR_ACCESS_DENIED).always());
    machine().injectFault(Win32Emu::Fault("CreateFileW", ERROR_ACCESS_DENIED).always());
    processId = 0xdeadbeef;

    EXPECT_FALSE(launch(c.path, "payload.exe", c.directory));

    EXPECT_EQ(machine().unfiredFaults().size(), 2u);
    machine().clearFaults();
    EXPECT_EQ(0xdeadbeefu, processId);
    EXPECT_TRUE(machine().launches().empty());
    EXPECT_TRUE(
        capture->contains(Warning, std::string("Refusing to launch ") + c.path + ": " + c.reason))
        << capture->dump();
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(LaunchProcess, LaunchNonLocalTest, ::testing::Values(
    NonLocal{"UncPath", "\\\\198.51.100.7\\share\\payload.exe", "",
             "the process path is a UNC path"},
    NonLocal{"LongUncPath", "\\\\?\\UNC\\host\\share\\payload.exe", "",
             "the process path is a UNC path"},
    NonLocal{"Pipe", "\\\\.\\pipe\\name", "", "the process path is a device or namespace path"},
    NonLocal{"Namespace", "\\\\?\\C:\\Windows\\notepad.exe", "",
             "the process path is a device or namespace path"},
    NonLocal{"Stream", "C:\\Games\\run.exe:payload", "", "the process path names a stream"},
    NonLocal{"UncWorkingDirectory", Game, "\\\\host\\share", "the working directory is a UNC path"},
    NonLocal{"StreamWorkingDirectory", Game, "C:\\Games:x", "the working directory names a stream"},
    NonLocal{"ObjectManagerUnc", "\\??\\UNC\\host\\share\\x.exe", "",
             "the process path is an object manager name"},
    NonLocal{"ObjectManagerDrive", "\\??\\C:\\x.exe", "", "the process path is an object manager name"},
    NonLocal{"DeviceName", "\\Device\\Mup\\host\\x.exe", "",
             "the process path is rooted without a drive"},
    NonLocal{"GlobalRoot", "\\\\?\\GLOBALROOT\\Device\\Mup\\host\\x.exe", "",
             "the process path is a device or namespace path"},
    NonLocal{"DriveRelative", "C:x.exe", "", "the process path is relative to a drive's current directory"},
    NonLocal{"DosDevice", "C:\\Games\\COM1.exe", "", "the process path names a device"},
    NonLocal{"ObjectManagerWorkingDirectory", Game, "\\??\\UNC\\host\\share",
             "the working directory is an object manager name"},
    NonLocal{"DriveRelativeWorkingDirectory", Game, "D:games",
             "the working directory is relative to a drive's current directory"}),
    [](const ::testing::TestParamInfo<NonLocal>& info) { return info.param.what; });
// clang-format on

const char* const Rival = "S-1-5-21-2254011875-3712098642-1289462413-1002";
const char* const Setup = "C:\\Program Files (x86)\\Qovex Games\\Starfall\\StarfallSetup.exe";
const char* const Starfall = "C:\\Program Files (x86)\\Qovex Games\\Starfall";

void AddRival(Machine& machine) {
    Win32Emu::Account rival;
    rival.sid = Rival;
    rival.name = "Rival";
    rival.domain = "GAMING-PC";
    machine.setAccount(rival);
}

struct Elevated {
    const char* what;
    std::function<void(Machine&)> prepare;
    std::string path;
    std::string refusal;  // the warning; empty: started
    // Whether the same launch not elevated starts (the emulation follows no junction there).
    bool startsUnelevated = true;
};

void PrintTo(const Elevated& c, std::ostream* out) {
    *out << c.what;
}

class ElevatedLaunchTest : public LaunchProcessTest,
                           public ::testing::WithParamInterface<Elevated> {};

TEST_P(ElevatedLaunchTest, RunsOnlyWhatNobodyElseCanChange) {
    const Elevated& c = GetParam();
    AddRival(machine());
    if (c.prepare) {
        c.prepare(machine());
    }
    EXPECT_EQ(launch(c.path, "setup.exe", "", true), c.refusal.empty()) << capture->dump();
    if (c.refusal.empty()) {
        EXPECT_EQ(machine().launches().at(0).elevation, TokenElevationTypeFull);
        return;
    }
    EXPECT_TRUE(capture->contains(Warning, c.refusal)) << capture->dump();
    EXPECT_TRUE(machine().launches().empty());
    // Not elevated, the same launch is not checked.
    if (c.startsUnelevated) {
        EXPECT_TRUE(launch(c.path, "setup.exe", "", false)) << capture->dump();
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(LaunchProcess, ElevatedLaunchTest, ::testing::Values(
    Elevated{"FromProgramFiles", nullptr, Setup, ""},
    Elevated{"FromSystem32ByItsBareName", nullptr, "cmd.exe", ""},
    Elevated{"TheCallersOwnWriteAccess",
             [](Machine& m) { m.setAccessList(Setup, {{true, PlayerSid, FILE_ALL_ACCESS, 0}}); },
             Setup, ""},
    Elevated{"AFolderAnotherUserWasGranted",
             [](Machine& m) {
                 m.setAccessList(Starfall, {{true, Rival, GENERIC_ALL, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE}});
             },
             Setup,
             std::string("Refusing to launch ") + Setup + " elevated: GAMING-PC\\Rival can change " + Starfall},
    Elevated{"AFileAnotherUserCanWrite",
             [](Machine& m) { m.setAccessList(Setup, {{true, Rival, FILE_APPEND_DATA, 0}}); },
             Setup,
             std::string("Refusing to launch ") + Setup + " elevated: GAMING-PC\\Rival can change " + Setup},
    Elevated{"AFileAnotherUserOwns",
             [](Machine& m) { m.setOwner(Setup, Rival); },
             Setup,
             std::string("Refusing to launch ") + Setup + " elevated: GAMING-PC\\Rival can change " + Setup},
    Elevated{"AFolderMadeAtTheDriveRoot",
             [](Machine& m) { m.setFile("C:\\Tools\\setup.exe"); },
             "C:\\Tools\\setup.exe",
             "Refusing to launch C:\\Tools\\setup.exe elevated: NT AUTHORITY\\Authenticated Users can "
             "change C:\\Tools"},
    Elevated{"AJunctionOnTheWay",
             [](Machine& m) { m.setReparsePoint("C:\\Program Files (x86)\\Qovex Games\\Link", Starfall); },
             "C:\\Program Files (x86)\\Qovex Games\\Link\\StarfallSetup.exe",
             "Refusing to launch C:\\Program Files (x86)\\Qovex Games\\Link\\StarfallSetup.exe: "
             "C:\\Program Files (x86)\\Qovex Games\\Link is a junction or symbolic link", false}),
    [](const ::testing::TestParamInfo<Elevated>& info) { return info.param.what; });
// clang-format on

TEST_F(LaunchProcessTest, FailedReleasesAreLoggedAndTheLaunchStillSucceeds) {
    machine().injectFault(Win32Emu::Fault("CloseHandle", ERROR_INVALID_HANDLE).onObject("Thread"));
    machine().injectFault(Win32Emu::Fault("CloseHandle", ERROR_ACCESS_DENIED).onObject("Process"));
    machine().failNext("DestroyEnvironmentBlock", ERROR_INVALID_PARAMETER);

    EXPECT_TRUE(launch("C:\\Windows\\notepad.exe", "notepad.exe"));
    EXPECT_EQ(machine().launches().at(0).processId, processId);
    EXPECT_TRUE(capture->contains(Info, "Couldn't close thread handle, error code 6"));
    EXPECT_TRUE(capture->contains(Info, "Couldn't close process handle, error code 5"));
    EXPECT_TRUE(capture->contains(Warning, "Couldn't close environment block, error code 87"))
        << capture->dump();

    // A failed release leaves its object behind: the test owns those now.
    closeLeftovers("Thread");
    closeLeftovers("Process");
    ++environmentBlocksAtStart;
}

TEST_F(LaunchProcessTest, TheProbeTellsMissingFromHeldOpen) {
    Win32Emu::FileEntry held;
    held.heldOpen = true;
    machine().setFile("C:\\Games\\Setup.exe", held);
    Win32Emu::FileEntry unreadable;
    unreadable.unreadable = true;
    machine().setFile("C:\\Games\\Locked.exe", unreadable);
    machine().setFile("C:\\Games\\Free.exe");
    const struct {
        const char* path;
        bool exclusive;
        DWORD error;
    } cases[] = {
        {"C:\\Games\\Free.exe", true, 0xdeadbeef},
        {"C:\\Games\\Setup.exe", false, ERROR_SHARING_VIOLATION},
        {"C:\\Games\\Locked.exe", false, ERROR_ACCESS_DENIED},
        {"C:\\Games\\Missing.exe", false, ERROR_FILE_NOT_FOUND},
        {"C:\\Nowhere\\Missing.exe", false, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.exclusive, CanOpenFileExclusively(c.path));
        EXPECT_EQ(c.error, GetLastError());
    }
}

}  // namespace
}  // namespace OrvaneClient

#include "core/logfacade/LogFacade.h"
#include "core/logging/LoggerSetup.h"
#include "core/windows/Win32Api.h"
#include "tests/core/logging/LoggerSetupFixture.h"
#include "tests/core/util/ScopedEnvironmentVariable.h"

#include <Poco/DateTimeFormatter.h>
#include <Poco/File.h>
#include <Poco/LocalDateTime.h>
#include <Poco/Logger.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

const std::string LogStarted = "Log started. Application version: 0.1.0.412 (2014-08-12 16:20).";
const std::string OperatingSystem =
    "Operating system: Microsoft Windows 7 Professional Service Pack 1 (build 7601), 64-bit";

class LoggerSetupTest : public Testing::LoggerSetupFixture {};

TEST_F(LoggerSetupTest, AWarningReachesEveryOutputAndAnInformationLineAllButTheRemoteReceiver) {
    setUpLogging();
    EXPECT_EQ(GetLoggingState().defaultLoggerName, LoggerName);
    LogWarning("warning marker %d", 1);
    LogInfo("information marker %d", 2);
    LogWarning("warning marker %d", 3);

    // The start lines and the information line between the warnings never reach it.
    EXPECT_TRUE(receiver.receiveEndingWith(" warning marker 1"));
    EXPECT_TRUE(receiver.receiveEndingWith(" warning marker 3"));

    const std::string recent = recentMessages();
    const std::string console = consoleText();
    releaseGraph();
    const std::string file = readFile(logFilePath);
    for (const std::string& output : {recent, console, file}) {
        SCOPED_TRACE(output);
        EXPECT_EQ(countLines(output, "Information", LogStarted), 1u);
        EXPECT_EQ(countLines(output, "Information", OperatingSystem), 1u);
        EXPECT_EQ(countLines(output, "Warning", "warning marker 1"), 1u);
        EXPECT_EQ(countLines(output, "Information", "information marker 2"), 1u);
        EXPECT_EQ(countLines(output, "Warning", "warning marker 3"), 1u);
    }
    EXPECT_EQ(file.rfind(file.substr(0, 20) + "[orvane_service][Information]: " + LogStarted, 0),
              0u);
}

TEST_F(LoggerSetupTest, LinesCarryTheLocalTime) {
    // Five hours east of UTC, so a line stamped in UTC cannot pass for local time.
    const Testing::ScopedEnvironmentVariable zone("TZ", std::string("ORV-5"));
    setUpLogging();
    const std::string before =
        Poco::DateTimeFormatter::format(Poco::LocalDateTime(), "%Y-%m-%d %H:%M:%S");
    LogInfo("local time marker");
    const std::string after =
        Poco::DateTimeFormatter::format(Poco::LocalDateTime(), "%Y-%m-%d %H:%M:%S");
    const std::string recent = recentMessages();
    const std::string line = recent.substr(recent.rfind('\n', recent.size() - 2) + 1);
    ASSERT_EQ(countLines(line, "Information", "local time marker"), 1u) << recent;
    EXPECT_LE(before, line.substr(0, 19));
    EXPECT_GE(after, line.substr(0, 19));
}

TEST_F(LoggerSetupTest, ASecondSetupChangesNothing) {
    setUpLogging();
    const Poco::Channel* rootChannel = Poco::Logger::root().getChannel().get();

    SetupLogging("other_name", "C:\\Other\\logs\\Other.log", receiver.hostAndPort());

    EXPECT_EQ(Poco::Logger::root().getChannel().get(), rootChannel);
    EXPECT_EQ(GetLoggingState().defaultLoggerName, LoggerName);
    EXPECT_FALSE(isDirectory("C:\\Other\\logs"));
    releaseGraph();
    EXPECT_EQ(countLines(readFile(logFilePath), "Information", LogStarted), 1u);
}

// Something a user planted where the service's folders belong: nothing is written through it,
// nothing is removed, and every other output still gets every line.
struct PlantedFolder {
    const char* name;
    void (*plant)(Win32Emu::Machine& machine);
    const char* refusal;
    bool resetFirst = false;  // the folder is taken back before what it holds is refused
};

class PlantedFolderTest : public Testing::LoggerSetupFixture,
                          public ::testing::WithParamInterface<PlantedFolder> {};

const char UserSid[] = "S-1-5-21-2254011875-3712098642-1289462413-1001";
const char System32[] = "C:\\Windows\\System32";
const char DataFolder[] = "C:\\ProgramData\\OrvaneClient";
const char LogsFolder[] = "C:\\ProgramData\\OrvaneClient\\logs";

// A folder as a standard user makes it in C:\ProgramData: theirs, with an entry of their own.
void MakeUserFolder(Win32Emu::Machine& machine, const std::string& path) {
    Poco::File(machine.hostPath(path)).createDirectories();
    machine.setOwner(path, UserSid);
    machine.setAccessList(
        path, {{true, UserSid, FILE_ALL_ACCESS, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE}});
}

TEST_P(PlantedFolderTest, GetsNoLogFile) {
    Poco::File(machine().hostPath(System32)).createDirectories();
    GetParam().plant(machine());
    setUpLogging();
    LogWarning("warning without a log file");

    const std::string failure =
        "Not writing the log file " + logFilePath + ": " + GetParam().refusal;
    if (GetParam().resetFirst) {
        EXPECT_TRUE(receiver.receiveEndingWith("resetting its owner and access list"));
    }
    EXPECT_TRUE(receiver.receiveEndingWith(" " + failure));
    EXPECT_TRUE(receiver.receiveEndingWith(" warning without a log file"));
    for (const std::string& output : {recentMessages(), consoleText()}) {
        SCOPED_TRACE(output);
        EXPECT_EQ(countLines(output, "Error", failure), 1u);
        EXPECT_EQ(countLines(output, "Information", LogStarted), 1u);
        EXPECT_EQ(countLines(output, "Warning", "warning without a log file"), 1u);
    }
    releaseGraph();
    std::vector<std::string> outside;
    Poco::File(machine().hostPath(System32)).list(outside);
    EXPECT_EQ(outside, std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(
    LoggerSetupTest,
    PlantedFolderTest,
    ::testing::Values(
        PlantedFolder{"DataFolderIsAJunctionToASystemFolder",
                      [](Win32Emu::Machine& m) { m.setReparsePoint(DataFolder, System32); },
                      "C:\\ProgramData\\OrvaneClient is a junction or symbolic link"},
        PlantedFolder{"UserOwnedDataFolderHoldsALogsJunction",
                      [](Win32Emu::Machine& m) {
                          MakeUserFolder(m, DataFolder);
                          m.setReparsePoint(LogsFolder, System32);
                      },
                      "C:\\ProgramData\\OrvaneClient\\logs is a junction or symbolic link"},
        PlantedFolder{"AFileStandsWhereTheLogsFolderBelongs",
                      [](Win32Emu::Machine& m) {
                          Poco::File(m.hostPath(DataFolder)).createDirectories();
                          std::ofstream(m.hostPath(LogsFolder)) << "not a folder";
                      },
                      "C:\\ProgramData\\OrvaneClient\\logs is not a folder"},
        PlantedFolder{"AFileStandsWhereTheDataFolderBelongs",
                      [](Win32Emu::Machine& m) {
                          Poco::File(m.hostPath("C:\\ProgramData")).createDirectories();
                          std::ofstream(m.hostPath(DataFolder)) << "in the way";
                      },
                      "C:\\ProgramData\\OrvaneClient is not a folder"},
        PlantedFolder{"UserMadeLogsFolderHoldsAHardLinkedLogFile",
                      [](Win32Emu::Machine& m) {
                          MakeUserFolder(m, LogsFolder);
                          Win32Emu::FileEntry link;
                          link.links = 2;
                          m.setFile(std::string(LogsFolder) + "\\OrvaneService.log", link);
                      },
                      "C:\\ProgramData\\OrvaneClient\\logs\\OrvaneService.log has more than one "
                      "hard link",
                      true},
        PlantedFolder{"UserMadeLogsFolderHoldsALinkNamedLikeAnArchive",
                      [](Win32Emu::Machine& m) {
                          MakeUserFolder(m, LogsFolder);
                          m.setReparsePoint(
                              std::string(LogsFolder) + "\\OrvaneService.log.0", System32, false);
                      },
                      "C:\\ProgramData\\OrvaneClient\\logs\\OrvaneService.log.0 is a junction or "
                      "symbolic link",
                      true}),
    [](const ::testing::TestParamInfo<PlantedFolder>& info) { return info.param.name; });

TEST_F(LoggerSetupTest, AFileWhereTheLogsFolderBelongsIsLeftAlone) {
    writeFile(LogsFolder, "not a folder");
    setUpLogging();
    releaseGraph();
    EXPECT_EQ(readFile(LogsFolder), "not a folder");
}

std::string OwnerOf(const std::string& path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring widePath(path.begin(), path.end());
    if (GetNamedSecurityInfoW(widePath.c_str(),
                              SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION,
                              &owner,
                              nullptr,
                              nullptr,
                              nullptr,
                              &descriptor) != ERROR_SUCCESS) {
        return "(unreadable)";
    }
    LPSTR text = nullptr;
    const std::string result = ConvertSidToStringSidA(owner, &text) ? text : "(no SID)";
    LocalFree(text);
    LocalFree(descriptor);
    return result;
}

// A logs folder a user made before the service first ran, or one the service makes itself: the
// service's own afterwards, and written to.
TEST_F(LoggerSetupTest, TheLogsFolderBecomesTheServicesOwnAndIsWrittenTo) {
    for (const bool userMadeIt : {true, false}) {
        SCOPED_TRACE(userMadeIt ? "made by a user" : "made by the service");
        if (userMadeIt) {
            MakeUserFolder(machine(), LogsFolder);
        }
        const std::string warning =
            "The folder C:\\ProgramData\\OrvaneClient\\logs could be changed by others (its "
            "owner S-1-5-21-2254011875-3712098642-1289462413-1001): resetting its owner and "
            "access list";
        const size_t warningsBefore = countLines(recentMessages(), "Warning", warning);
        setUpLogging();
        const std::string recent = recentMessages();
        releaseGraph();

        EXPECT_EQ(OwnerOf(LogsFolder), "S-1-5-32-544");
        const Win32Emu::SidAccess user = machine().accessOf(LogsFolder, UserSid);
        EXPECT_EQ(user.allowed, 0u);
        const Win32Emu::SidAccess users = machine().accessOf(LogsFolder, "S-1-5-32-545");
        EXPECT_EQ(users.allowed,
                  static_cast<ACCESS_MASK>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
        EXPECT_FALSE(users.inherited);
        const std::string file = readFile(logFilePath);
        EXPECT_EQ(countLines(file, "Information", LogStarted), 1u);
        EXPECT_EQ(countLines(recent, "Warning", warning) - warningsBefore, userMadeIt ? 1u : 0u)
            << recent;
        // The administrator's record says so too.
        EXPECT_EQ(countLines(file, "Warning", warning), userMadeIt ? 1u : 0u) << file;

        resetLogging();
        Poco::File(machine().hostPath(DataFolder)).remove(true);
    }
}

TEST_F(LoggerSetupTest, TheLogFileIsArchivedOnTheFirstLineThatFindsItAtFiveMebibytes) {
    const std::string full(5 * 1024 * 1024, 'x');
    writeFile(logFilePath, full);
    setUpLogging();
    releaseGraph();

    EXPECT_EQ(readFile(logFilePath + ".0"), full);
    const std::string file = readFile(logFilePath);
    EXPECT_EQ(countLines(file, "Information", LogStarted), 1u);
    EXPECT_EQ(countLines(file, "Information", OperatingSystem), 1u);
    EXPECT_EQ(file.find('x'), std::string::npos);
}

}  // namespace
}  // namespace OrvaneClient

#include "core/logging/LogFacade.h"
#include "core/logging/LoggerSetup.h"
#include "tests/core/logging/LoggerSetupFixture.h"
#include "tests/core/util/ScopedEnvironmentVariable.h"

#include <Poco/DateTimeFormatter.h>
#include <Poco/LocalDateTime.h>
#include <Poco/Logger.h>
#include <gtest/gtest.h>

#include <string>

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

TEST_F(LoggerSetupTest, APlainFileWhereTheLogsDirectoryBelongsIsReplacedByTheDirectory) {
    writeFile("C:\\ProgramData\\OrvaneClient\\logs", "not a directory");
    setUpLogging();
    releaseGraph();
    EXPECT_TRUE(isDirectory("C:\\ProgramData\\OrvaneClient\\logs"));
    EXPECT_EQ(countLines(readFile(logFilePath), "Information", LogStarted), 1u);
}

TEST_F(LoggerSetupTest, WithoutALogDirectoryTheOtherOutputsStillGetEveryLine) {
    // A file where the client's data directory belongs: the logs directory cannot be made.
    writeFile("C:\\ProgramData\\OrvaneClient", "in the way");
    setUpLogging();
    LogWarning("warning without a log file");

    const std::string failure =
        "Could not create directory for file "
        "C:\\ProgramData\\OrvaneClient\\logs\\OrvaneService.log: Error creating directory.";
    EXPECT_TRUE(receiver.receiveEndingWith(" " + failure));
    EXPECT_TRUE(receiver.receiveEndingWith(" warning without a log file"));
    for (const std::string& output : {recentMessages(), consoleText()}) {
        SCOPED_TRACE(output);
        EXPECT_EQ(countLines(output, "Error", failure), 1u);
        EXPECT_EQ(countLines(output, "Information", LogStarted), 1u);
        EXPECT_EQ(countLines(output, "Warning", "warning without a log file"), 1u);
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

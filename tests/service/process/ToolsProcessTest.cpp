// What the tools report is what happened: orvane-sc start, orvane-client's account of who
// started the service, orvane-soak right after a start, and every tool's command line.

#include "tests/service/process/ProcessTestPaths.h"
#include "tests/support/OrvaneScSession.h"

#include <Poco/File.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <future>
#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

using namespace std::chrono_literals;
using Testing::ClientEnvironment;
using Testing::ClientPath;
using Testing::OrvaneScSession;
using Testing::ServicePath;

std::string Tool(const std::string& name) {
    const char* binaryDir = std::getenv("ORVANE_BINARY_DIR");
    return std::string(binaryDir != nullptr ? binaryDir : ".") + "/tools/" + name + "/" + name;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ServedToolsTest : public ::testing::Test {
protected:
    void SetUp() override {
        while (const std::optional<std::string> line = session.readLine(20s)) {
            if (line->rfind("install ", 0) == 0) {
                return;
            }
        }
        FAIL() << "orvane-sc serve did not install the service: " << session.errorOutput();
    }
    void TearDown() override {
        session.signal(SIGINT);
        EXPECT_EQ(session.waitForExit(20s), 0);
    }
    OrvaneScSession::CommandResult client(const std::vector<std::string>& arguments) {
        std::vector<std::string> command = {ClientPath};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return OrvaneScSession::runProgram(command, ClientEnvironment(session.root()), 40s);
    }

    OrvaneScSession session{ServicePath, {}, "", OrvaneScSession::defaultScPath(), "serve"};
};

TEST_F(ServedToolsTest, AStartThatEndsBeforeRunningExitsWithTheServicesCode) {
    Poco::Net::ServerSocket holder(Poco::Net::SocketAddress("127.0.0.1", 9977), 1);
    const auto start = session.command({"start"}, 40s);
    // 1066 with the service's own error 3: the port is held.
    EXPECT_EQ(start.exitCode, 3) << start.output << start.errorOutput;
    EXPECT_TRUE(Contains(start.output, "state=STOPPED(1)") && Contains(start.output, "exit=1066"))
        << start.output;
    EXPECT_TRUE(Contains(start.errorOutput, "stopped before it was running")) << start.errorOutput;
    EXPECT_FALSE(Contains(start.output, "started")) << start.output;
}

TEST_F(ServedToolsTest, OnlyTheClientWhoseStartStartedTheServiceSaysSo) {
    // Two clients against the stopped service: one start, whoever makes it.
    auto first = std::async(std::launch::async, [this] { return client({"library-info"}); });
    const auto second = client({"library-info"});
    const auto firstResult = first.get();
    int claims = 0;
    for (const auto* reply : {&firstResult, &second}) {
        EXPECT_EQ(reply->exitCode, 0) << reply->output << reply->errorOutput;
        claims += Contains(reply->output, "started by this request") ? 1 : 0;
    }
    EXPECT_EQ(claims, 1) << firstResult.output << second.output;

    // Running now, but on the product's port only: a wrong port is said at once, no start.
    const auto wrongPort = client({"--port", "9978", "library-info"});
    EXPECT_EQ(wrongPort.exitCode, 3);
    EXPECT_TRUE(Contains(wrongPort.errorOutput, "is running, but does not listen there"))
        << wrongPort.errorOutput;
    EXPECT_FALSE(Contains(wrongPort.errorOutput, "started")) << wrongPort.errorOutput;
}

TEST(ToolsProcessTest, TheSoakRightAfterTheStartWaitsForTheServicesFirstAnswer) {
    OrvaneScSession session(ServicePath);
    const auto soak = OrvaneScSession::runProgram(
        {Tool("orvane-soak"), "--seconds", "1", "--clients", "2"}, {}, 60s);
    EXPECT_EQ(soak.exitCode, 0) << soak.output << soak.errorOutput;
    EXPECT_TRUE(Contains(soak.output, "service stayed up: yes")) << soak.output;
    session.signal(SIGTERM);
    EXPECT_EQ(session.waitForExit(20s), 0);
}

struct CommandLineCase {
    const char* name;
    std::string tool;
    std::vector<std::string> arguments;
    int exitCode;
    // On stdout for help, on stderr for a usage error.
    std::string says;
};

class ToolCommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

// Help does nothing else (no bench runs, no tree is made); a bad argument is named, with the
// usage, never an uncaught exception.
TEST_P(ToolCommandLineTest, AnswersHelpAndNamesWhatIsWrong) {
    const CommandLineCase& row = GetParam();
    std::vector<std::string> command = {Tool(row.tool)};
    command.insert(command.end(), row.arguments.begin(), row.arguments.end());
    const auto result = OrvaneScSession::runProgram(command, {"WIN32EMU_ROOT=/nonexistent"}, 20s);
    EXPECT_EQ(result.exitCode, row.exitCode) << result.output << result.errorOutput;
    const std::string& text = row.exitCode == 0 ? result.output : result.errorOutput;
    EXPECT_TRUE(Contains(text, row.says)) << text;
    EXPECT_TRUE(Contains(result.output + result.errorOutput, "sage: ")) << "no usage";
    if (row.exitCode == 0) {
        EXPECT_EQ(result.errorOutput, "");
    }
    EXPECT_FALSE(Poco::File("--help").exists());
}

const CommandLineCase CommandLineCases[] = {
    {"BenchHelp", "orvane-bench", {"--help"}, 0, "ROUND_TRIPS"},
    {"BenchShortHelp", "orvane-bench", {"-h"}, 0, "ROUND_TRIPS"},
    {"BenchUnknownOption", "orvane-bench", {"--rounds"}, 2, "unknown option --rounds"},
    {"BenchTooFew", "orvane-bench", {"7"}, 2, "ROUND_TRIPS must be a whole number from 8"},
    {"BenchNotANumber", "orvane-bench", {"1e3"}, 2, "not '1e3'"},
    {"GrantBenchHelp", "orvane-grant-bench", {"--help"}, 0, "FOLDERS"},
    {"GrantBenchHelpAfterAFolder", "orvane-grant-bench", {"C:\\Games\\B2", "-h"}, 0, "FOLDERS"},
    {"GrantBenchFoldersNotANumber",
     "orvane-grant-bench",
     {"C:\\Games\\B2", "abc"},
     2,
     "FOLDERS must be a whole number from 1 to 100000, not 'abc'"},
    {"GrantBenchNoFolders", "orvane-grant-bench", {"C:\\Games\\B2", "0", "0"}, 2, "not '0'"},
    {"GrantBenchFilesNegative",
     "orvane-grant-bench",
     {"C:\\Games\\B2", "1", "-1"},
     2,
     "unknown option -1"},
    {"GrantBenchFolderNotOnADrive", "orvane-grant-bench", {"games"}, 2, "FOLDER must be"},
    {"SoakHelp", "orvane-soak", {"--help"}, 0, "--clients C"},
    {"SoakSecondsNotANumber", "orvane-soak", {"--seconds", "x"}, 2, "--seconds must be"},
    {"SoakClientsTooMany", "orvane-soak", {"--clients", "65"}, 2, "--clients must be"},
    {"SoakPortTooHigh", "orvane-soak", {"--port", "65536"}, 2, "--port must be"},
    {"SoakMissingValue", "orvane-soak", {"--log"}, 2, "--log needs a value"},
    {"SoakUnknownOption", "orvane-soak", {"--minutes", "1"}, 2, "unknown option --minutes"},
    {"ScHelpAfterACommand", "orvane-sc", {"run", "--help"}, 0, "orvane-sc serve"},
    {"ScUnknownCommand", "orvane-sc", {"begin"}, 2, "unknown command begin"},
    {"ScUnknownOption", "orvane-sc", {"stop", "--exe", "x"}, 2, "unknown option --exe for stop"},
    {"ClientHelp", "orvane-client", {"-h"}, 0, "Exit codes:"},
    {"ClientPortNotANumber", "orvane-client", {"--port", "http", "library-info"}, 2, "'http'"},
};

INSTANTIATE_TEST_SUITE_P(EachTool,
                         ToolCommandLineTest,
                         ::testing::ValuesIn(CommandLineCases),
                         [](const ::testing::TestParamInfo<CommandLineCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace OrvaneClient

// The real OrvaneService executable, started by hand and under orvane-sc, on the product's
// port 9977 and its 30-second inactivity timeout. The tests hold a CTest resource lock on the
// port; the inactivity test is labelled "slow".

#include "tests/service/process/ProcessTestPaths.h"
#include "tests/support/OrvaneScSession.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/TemporaryFile.h>
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

namespace OrvaneClient {
namespace {

using namespace std::chrono_literals;
using Testing::ClientPath;
using Testing::OrvaneScSession;
using Testing::ServicePath;
using Clock = std::chrono::steady_clock;

// Exit codes as the host sees the service's int return (-12 and -13 modulo 256).
constexpr int ExitStatusNotStartedAsService = 244;
constexpr int ExitStatusCannotListen = 243;

// Holds 127.0.0.1:9977 the way another instance would.
Poco::Net::ServerSocket HoldServicePort() {
    Poco::Net::ServerSocket holder;
    holder.bind(Poco::Net::SocketAddress("127.0.0.1", 9977), true, false);
    holder.listen(1);
    return holder;
}

class OrvaneServiceProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        root.keep();
        root.createDirectories();
    }
    void TearDown() override { root.remove(true); }

    OrvaneScSession::CommandResult runByHand() {
        return OrvaneScSession::runProgram({ServicePath}, {"WIN32EMU_ROOT=" + root.path()}, 20s);
    }

    Poco::TemporaryFile root;
};

TEST_F(OrvaneServiceProcessTest, StartedByHandLogsAndExitsWithMinusTwelve) {
    const auto result = runByHand();
    EXPECT_EQ(result.exitCode, ExitStatusNotStartedAsService) << result.errorOutput;

    const std::string log = OrvaneScSession::readServiceLog(root.path());
    EXPECT_NE(log.find("[orvane_service][Information]: Log started. Application version: "
                       "0.1.0.412 (2014-08-12 16:20).\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[orvane_service][Information]: Operating system: Microsoft Windows 11 "
                       "Professional (build 22631), 64-bit\n"),
              std::string::npos);
    EXPECT_NE(log.find("[orvane_service][Information]: OrvaneService should be started as a "
                       "service\n"),
              std::string::npos);
}

TEST_F(OrvaneServiceProcessTest, RunsUnderTheScmAnswersAndStopsPromptly) {
    OrvaneScSession session(ServicePath);
    ASSERT_TRUE(session.waitForStatus("START_PENDING", 20s).has_value()) << session.errorOutput();
    const auto running = session.waitForStatus("RUNNING", 10s);
    ASSERT_TRUE(running.has_value()) << session.errorOutput();
    EXPECT_EQ(running->accepted, 1u);

    const auto reply =
        OrvaneScSession::runProgram({ClientPath, "library-info", "--port", "9977", "--oseq", "7"},
                                    Testing::ClientEnvironment(session.root()),
                                    20s);
    EXPECT_EQ(reply.exitCode, 0) << reply.output << reply.errorOutput;
    EXPECT_NE(reply.output.find("C:\\Program Files (x86)\\Orvane Client"), std::string::npos)
        << reply.output;

    const auto stopResult = session.command({"stop"});
    EXPECT_EQ(stopResult.exitCode, 0) << stopResult.errorOutput;
    const auto stopPending = session.waitForStatus("STOP_PENDING", 10s);
    ASSERT_TRUE(stopPending.has_value());
    const auto stopPendingSeen = Clock::now();
    ASSERT_TRUE(session.waitForStatus("STOPPED", 10s).has_value());
    // 100 ms of polling plus a 50 ms join; generous for a loaded machine.
    EXPECT_LT(Clock::now() - stopPendingSeen, 1s);
    EXPECT_EQ(session.waitForExit(10s), 0);

    const std::string log = OrvaneScSession::readServiceLog(session.root());
    for (const char* line : {"OrvaneService starting",
                             "Started to listen on port 9977",
                             "Received LibraryInfoRequest 7",
                             "OrvaneService stopped"}) {
        SCOPED_TRACE(line);
        EXPECT_NE(log.find(std::string("[Information]: ") + line + "\n"), std::string::npos) << log;
    }
}

TEST_F(OrvaneServiceProcessTest, SigtermStopsTheServiceWithExitCodeZero) {
    OrvaneScSession session(ServicePath);
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();
    session.signal(SIGTERM);
    ASSERT_TRUE(session.waitForStatus("STOP_PENDING", 10s).has_value());
    ASSERT_TRUE(session.waitForStatus("STOPPED", 10s).has_value());
    EXPECT_EQ(session.waitForExit(10s), 0);
}

TEST_F(OrvaneServiceProcessTest, PortHeldElsewhereExitsInTheDocumentedWay) {
    Poco::Net::ServerSocket holder = HoldServicePort();

    const auto byHand = runByHand();
    EXPECT_EQ(byHand.exitCode, ExitStatusCannotListen) << byHand.errorOutput;
    EXPECT_NE(
        OrvaneScSession::readServiceLog(root.path())
            .find("[orvane_service][Error]: OrvaneService cannot listen for client connections, "
                  "exiting: "),
        std::string::npos);

    OrvaneScSession session(ServicePath);
    const auto stopped = session.waitForStatus("STOPPED", 20s);
    ASSERT_TRUE(stopped.has_value()) << session.errorOutput();
    EXPECT_EQ(stopped->exitCode, 1066u);
    EXPECT_EQ(stopped->specificExitCode, 3u);
    EXPECT_EQ(session.waitForExit(10s), ExitStatusCannotListen);
}

TEST_F(OrvaneServiceProcessTest, SlowInactivityTimeoutStopsTheService) {
    OrvaneScSession session(ServicePath);
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();
    const auto runningSeen = Clock::now();

    ASSERT_TRUE(session.waitForStatus("STOP_PENDING", 45s).has_value());
    EXPECT_GE(Clock::now() - runningSeen, 29s);
    // Too late: the SCM refuses it or the service ignores it; either way no further report.
    session.command({"stop"});
    ASSERT_TRUE(session.waitForStatus("STOPPED", 10s).has_value());
    EXPECT_EQ(session.waitForExit(10s), 0);

    std::vector<std::string> states;
    for (const std::string& line : session.lines()) {
        if (const auto status = OrvaneScSession::parseStatus(line)) {
            states.push_back(status->state);
        }
    }
    EXPECT_EQ(states,
              (std::vector<std::string>{"START_PENDING", "RUNNING", "STOP_PENDING", "STOPPED"}));
    EXPECT_NE(OrvaneScSession::readServiceLog(session.root())
                  .find("OrvaneService inactivity timeout exceeded, terminating"),
              std::string::npos);
}

}  // namespace
}  // namespace OrvaneClient

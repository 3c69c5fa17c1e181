// The real OrvaneService executable, started by hand and under orvane-sc, on the product's
// port 9977 and its 30-second inactivity timeout. The tests hold a CTest resource lock on the
// port; the inactivity test is labelled "slow".

#include "tests/service/process/ProcessTestPaths.h"
#include "tests/support/OrvaneScSession.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/TemporaryFile.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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
    EXPECT_NE(log.find("[orvane_service][Information]: Operating system: Microsoft Windows 7 "),
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

TEST_F(OrvaneServiceProcessTest, StopEndsTheProcessAndFreesThePortWhileClientsNeverRead) {
    OrvaneScSession session(ServicePath);
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();
    // A header-only library-info request (sort 1, type 1), pipelined and never read back.
    const std::string request("\x00\x04\x08\x01\x10\x01", 6);
    std::string batch;
    for (int i = 0; i < 65536; ++i) {
        batch += request;
    }
    std::vector<std::unique_ptr<Poco::Net::StreamSocket>> clients;
    std::vector<std::thread> senders;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(
            std::make_unique<Poco::Net::StreamSocket>(Poco::Net::SocketAddress::IPv4));
        Poco::Net::StreamSocket& client = *clients.back();
        client.setReceiveBufferSize(4096);
        client.connect(Poco::Net::SocketAddress("127.0.0.1", 9977));
        client.setSendTimeout(Poco::Timespan(5, 0));
        senders.emplace_back([&client, &batch] {
            try {
                for (int round = 0; round < 4; ++round) {
                    client.sendBytes(batch.data(), static_cast<int>(batch.size()));
                }
            } catch (const Poco::Exception&) {
                // Closed by the stop, or no longer read.
            }
        });
    }
    // A fresh connection is still answered.
    EXPECT_EQ(OrvaneScSession::runProgram({ClientPath, "library-info", "--port", "9977"},
                                          Testing::ClientEnvironment(session.root()),
                                          10s)
                  .exitCode,
              0);

    const auto stopRequested = Clock::now();
    EXPECT_EQ(session.command({"stop"}).exitCode, 0);
    const auto stopPending = session.waitForStatus("STOP_PENDING", 10s);
    ASSERT_TRUE(stopPending.has_value());
    EXPECT_LE(stopPending->waitHint, 2000u);
    EXPECT_EQ(session.waitForExit(10s), 0);
    EXPECT_LT(Clock::now() - stopRequested, 2s + 500ms);
    EXPECT_NO_THROW(HoldServicePort());
    for (std::thread& sender : senders) {
        sender.join();
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

// The service as `orvane-sc serve` keeps it: stopped until a client asks, started by the
// client's first request and again after each stop; and a squatter on the port while it is
// stopped gets nothing private.

#include "tests/service/process/ProcessTestPaths.h"
#include "tests/support/OrvaneScSession.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>

namespace OrvaneClient {
namespace {

using namespace std::chrono_literals;
using Testing::ClientEnvironment;
using Testing::ClientPath;
using Testing::OrvaneScSession;
using Testing::ServicePath;

bool WaitForLine(OrvaneScSession& session, const std::string& prefix) {
    while (const std::optional<std::string> line = session.readLine(20s)) {
        if (line->rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

TEST(OnDemandProcessTest, EachRequestAfterAStopStartsTheServiceAgain) {
    OrvaneScSession session(ServicePath, {}, "", OrvaneScSession::defaultScPath(), "serve");
    ASSERT_TRUE(WaitForLine(session, "install ")) << session.errorOutput();

    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const auto reply = OrvaneScSession::runProgram(
            {ClientPath, "library-info"}, ClientEnvironment(session.root()), 40s);
        EXPECT_EQ(reply.exitCode, 0) << reply.output << reply.errorOutput;
        EXPECT_NE(reply.output.find("C:\\Program Files (x86)\\Orvane Client"), std::string::npos)
            << reply.output;
        EXPECT_NE(reply.output.find(", the service; started by this request"), std::string::npos)
            << reply.output;
        // Running now: the next request is answered by the same process, without a start.
        const auto again = OrvaneScSession::runProgram(
            {ClientPath, "auth-info"}, ClientEnvironment(session.root()), 20s);
        EXPECT_EQ(again.exitCode, 0) << again.output << again.errorOutput;
        EXPECT_EQ(again.output.find("started by this request"), std::string::npos) << again.output;

        EXPECT_EQ(session.command({"stop"}).exitCode, 0);
        ASSERT_TRUE(WaitForLine(session, "exit code=0")) << session.errorOutput();
    }
    session.signal(SIGINT);
    EXPECT_EQ(session.waitForExit(20s), 0);
}

TEST(OnDemandProcessTest, ASquatterWhileTheServiceIsStoppedIsRefusedAuthInfo) {
    OrvaneScSession session(ServicePath, {}, "", OrvaneScSession::defaultScPath(), "serve");
    ASSERT_TRUE(WaitForLine(session, "install ")) << session.errorOutput();
    // Any local process may listen on the port while the service is stopped.
    Poco::Net::ServerSocket squatter(Poco::Net::SocketAddress("127.0.0.1", 9977), 8);

    const auto reply = OrvaneScSession::runProgram(
        {ClientPath, "auth-info"}, ClientEnvironment(session.root()), 20s);
    EXPECT_EQ(reply.exitCode, Testing::ClientExitNotTheService)
        << reply.output << reply.errorOutput;
    EXPECT_NE(reply.errorOutput.find("refused to send auth-info to 127.0.0.1:9977"),
              std::string::npos)
        << reply.errorOutput;
    EXPECT_EQ(reply.output, "");
    session.signal(SIGINT);
    EXPECT_EQ(session.waitForExit(20s), 0);
}

}  // namespace
}  // namespace OrvaneClient

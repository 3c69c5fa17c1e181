#include "service/ServiceServer.h"
#include "tests/service/ServerTestBase.h"

#include <Poco/Message.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Thread.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace OrvaneClient::Testing {
namespace {

constexpr int Info = Poco::Message::PRIO_INFORMATION;
const std::string InactivityLine = "OrvaneService inactivity timeout exceeded, terminating";

// Milliseconds until the server's reactor thread has ended, or -1 after `limit`.
long MillisecondsUntilStopped(const ServiceServer& server, long limit) {
    const Poco::Timestamp start;
    while (server.isRunning()) {
        if (start.elapsed() > limit * 1000) {
            return -1;
        }
        Poco::Thread::sleep(1);
    }
    return static_cast<long>(start.elapsed() / 1000);
}

class ServiceServerTest : public ServerTestBase {};

TEST_F(ServiceServerTest, ListensOnLoopbackOnlyAndLogsTheBoundPort) {
    startServer();
    EXPECT_EQ(server->address().host(), Poco::Net::IPAddress("127.0.0.1"));
    ASSERT_NE(server->port(), 0);
    EXPECT_TRUE(
        capture.contains(Info, "Started to listen on port " + std::to_string(server->port())));
}

TEST_F(ServiceServerTest, SecondServerOnTheSameEndpointCannotBind) {
    startServer();
    const Poco::Net::SocketAddress taken("127.0.0.1", server->port());
    FakeOrvaneService otherService;
    EXPECT_THROW(ServiceServer(otherService, taken), Poco::Net::NetException);

    // The first server is unaffected and gets every connection.
    for (uint32_t i = 0; i < 4; ++i) {
        auto client = connect();
        expectNextAnswerIsFor(*client, i);
    }
}

TEST_F(ServiceServerTest, RebindsWhileOldConnectionsLingerInTimeWait) {
    startServer();
    const Poco::UInt16 port = server->port();
    auto client = connect();
    expectNextAnswerIsFor(*client, 1);
    // The server closes first (on shutdown), so the closed connection waits on its port.
    server->stop();
    ASSERT_TRUE(client->closedByServerWithin(Poco::Timespan(5, 0)));
    server.reset();

    ASSERT_NO_THROW(server = std::make_unique<ServiceServer>(
                        service, Poco::Net::SocketAddress("127.0.0.1", port)));
    server->start();
    auto next = connect();
    expectNextAnswerIsFor(*next, 2);
}

TEST_F(ServiceServerTest, ConnectionsBeforeStartWaitInTheBacklog) {
    server = std::make_unique<ServiceServer>(service, Poco::Net::SocketAddress("127.0.0.1", 0));
    ServiceTestClient client(server->port());
    client.send(RequestPacket(1, 5));
    EXPECT_FALSE(client.readableWithin(Poco::Timespan(0, 100000)));

    server->start();
    const std::optional<ReceivedPacket> reply = client.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->rseq(), 5u);
}

TEST_F(ServiceServerTest, IdleConnectionIsClosedAndTheServiceStoppedOnInactivity) {
    startServer(Poco::Timespan(0, 200000));
    auto client = connect();

    EXPECT_TRUE(client->closedByServerWithin(Poco::Timespan(5, 0))) << capture.dump();
    ASSERT_TRUE(service.waitForStop(5000));
    ASSERT_GE(MillisecondsUntilStopped(*server, 5000), 0);
    EXPECT_EQ(service.stopCalls(), 1);
    expectLinesInOrder({{Info, "ServiceServer connected"},
                        {Info, InactivityLine},
                        {Info, "ServiceConnectionHandler disconnecting"}});
    EXPECT_EQ(capture.count(Info, InactivityLine), 1u);
    EXPECT_TRUE(capture.startingWith("Socket reactor discarded").empty()) << capture.dump();
}

TEST_F(ServiceServerTest, StopsOnInactivityWithoutAnyClient) {
    startServer(Poco::Timespan(0, 200000));
    ASSERT_TRUE(service.waitForStop(5000));
    ASSERT_GE(MillisecondsUntilStopped(*server, 5000), 0);
    EXPECT_EQ(service.stopCalls(), 1);
    EXPECT_TRUE(capture.contains(Info, InactivityLine));
}

TEST_F(ServiceServerTest, RequestsWithinTheTimeoutKeepTheServiceAlive) {
    const long timeoutMilliseconds = 400;
    startServer(Poco::Timespan(0, timeoutMilliseconds * 1000));
    auto client = connect();

    // Four timeouts' worth of requests, one every 50 ms. A busy machine may hold this thread up
    // for longer than the timeout; the service may stop only after such a silence.
    const Poco::Timestamp start;
    Poco::Timestamp lastSent;
    Poco::Timestamp::TimeDiff longestSilence = 0;
    uint32_t oseq = 0;
    while (start.elapsed() < 4 * timeoutMilliseconds * 1000) {
        longestSilence = std::max(longestSilence, lastSent.elapsed());
        lastSent.update();
        expectNextAnswerIsFor(*client, ++oseq);
        if (service.stopCalls() != 0) {
            ASSERT_GE(longestSilence, timeoutMilliseconds * 1000)
                << "stopped after " << start.elapsed() / 1000 << " ms of requests";
            GTEST_SKIP() << "the machine held the client up for " << longestSilence / 1000
                         << " ms, longer than the timeout";
        }
        Poco::Thread::sleep(50);
    }
    EXPECT_TRUE(server->isRunning());

    // Once the client falls silent, inactivity stops the service after all.
    EXPECT_TRUE(service.waitForStop(5000));
    EXPECT_TRUE(client->closedByServerWithin(Poco::Timespan(5, 0)));
}

TEST_F(ServiceServerTest, StopEndsTheReactorWaitPromptly) {
    startServer();  // a 30-second wait for socket activity
    auto client = connect();
    expectNextAnswerIsFor(*client, 1);
    // Let the loop settle into its wait again.
    EXPECT_FALSE(client->readableWithin(Poco::Timespan(0, 50000)));

    const Poco::Timestamp start;
    server->stop();
    const long stoppedAfter = MillisecondsUntilStopped(*server, 5000);
    ASSERT_GE(stoppedAfter, 0) << "reactor thread still running 5 s after stop";
    // Far sooner than the 30-second wait it interrupts, however busy the machine.
    EXPECT_LT(start.elapsed() / 1000, 10000) << "stop took " << start.elapsed() / 1000 << " ms";

    // Shutdown closed the open connection from the service's side; stop is not the service's.
    EXPECT_TRUE(client->closedByServerWithin(Poco::Timespan(5, 0)));
    EXPECT_TRUE(capture.contains(Info, "ServiceConnectionHandler disconnecting"));
    EXPECT_EQ(service.stopCalls(), 0);
    EXPECT_FALSE(capture.contains(Info, InactivityLine));
    EXPECT_TRUE(capture.startingWith("Socket reactor discarded").empty()) << capture.dump();
}

TEST_F(ServiceServerTest, DestroyingARunningServerEndsItsThreadPromptly) {
    startServer();
    auto client = connect();
    expectNextAnswerIsFor(*client, 1);

    const Poco::Timestamp start;
    server.reset();
    EXPECT_LT(start.elapsed() / 1000, 10000);
    EXPECT_TRUE(client->closedByServerWithin(Poco::Timespan(5, 0)));
}

TEST_F(ServiceServerTest, ServerThatNeverStartedIsDestroyedAtOnce) {
    server = std::make_unique<ServiceServer>(service, Poco::Net::SocketAddress("127.0.0.1", 0));
    ServiceTestClient waiting(server->port());
    const Poco::Timestamp start;
    server->stop();
    server.reset();
    EXPECT_LT(start.elapsed() / 1000, 10000);
    EXPECT_TRUE(waiting.closedByServerWithin(Poco::Timespan(5, 0)));
    EXPECT_EQ(service.stopCalls(), 0);
}

}  // namespace
}  // namespace OrvaneClient::Testing

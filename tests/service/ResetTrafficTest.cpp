// Clients that send a request and then vanish with a reset are traffic, not inactivity.

#include "tests/service/ServerTestBase.h"

#include <Poco/Exception.h>
#include <Poco/Message.h>
#include <Poco/Thread.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace OrvaneClient::Testing {
namespace {

constexpr int Info = Poco::Message::PRIO_INFORMATION;
const std::string InactivityLine = "OrvaneService inactivity timeout exceeded, terminating";

class ResetTrafficTest : public ServerTestBase {};

// A monitor keeps asking throughout: the reset connections must never make a pass count as
// inactivity. (The timeout stays above a second: when churning clients fill the backlog, the
// system drops connection attempts and retries them a second later, which is no inactivity of
// the service's making.)
TEST_F(ResetTrafficTest, RequestsEndedByResetsKeepTheServiceAliveUntilTrafficStops) {
    const long timeoutMilliseconds = 1500;
    startServer(Poco::Timespan(0, timeoutMilliseconds * 1000));
    const Poco::UInt16 port = server->port();

    std::atomic<bool> sending{true};
    std::atomic<int> resets{0};
    std::atomic<int> refused{0};
    std::atomic<bool> monitorFailed{false};
    std::thread monitor([&] {
        try {
            ServiceTestClient connection(port);
            for (uint32_t oseq = 0; sending; ++oseq) {
                connection.send(RequestPacket(1, oseq));
                if (!connection.receive()) {
                    monitorFailed = true;
                    return;
                }
                Poco::Thread::sleep(100);
            }
        } catch (const Poco::Exception&) {
            monitorFailed = true;
        }
    });
    std::vector<std::thread> clients;
    for (uint32_t client = 0; client < 16; ++client) {
        clients.emplace_back([&, client] {
            const std::string whole = RequestPacket(1, client);
            for (int round = 0; sending; ++round) {
                try {
                    ServiceTestClient connection(port);
                    // Whole requests (answered into a reset) and partial ones (never complete).
                    connection.send(round % 2 == 0 ? whole : whole.substr(0, 3));
                    connection.socket.setLinger(true, 0);
                    connection.close();
                    ++resets;
                } catch (const Poco::Exception&) {
                    ++refused;  // the server is gone: the failure this test looks for
                    return;
                }
            }
        });
    }

    // Several timeouts' worth of traffic; none of it may count as inactivity.
    const Poco::Timestamp start;
    while (start.elapsed() < 3 * timeoutMilliseconds * 1000 && service.stopCalls() == 0) {
        Poco::Thread::sleep(10);
    }
    const long stoppedAfter = static_cast<long>(start.elapsed() / 1000);
    sending = false;
    for (std::thread& client : clients) {
        client.join();
    }
    monitor.join();
    EXPECT_FALSE(monitorFailed);
    EXPECT_EQ(service.stopCalls(), 0)
        << "stopped after " << stoppedAfter << " ms of traffic, " << resets << " resets";
    EXPECT_EQ(refused, 0);
    EXPECT_GT(resets, 50);

    // Once the traffic stops, inactivity stops the service after all, once.
    ASSERT_TRUE(service.waitForStop(5000)) << capture.dump();
    EXPECT_EQ(capture.count(Info, InactivityLine), 1u);
}

}  // namespace
}  // namespace OrvaneClient::Testing

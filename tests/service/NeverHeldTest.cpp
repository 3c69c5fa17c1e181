#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "service/OrvaneServiceSocketAcceptor.h"
#include "service/ServiceServer.h"
#include "tests/service/ServerTestBase.h"

#include <Poco/Message.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Thread.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace OrvaneClient::Testing {
namespace {

namespace desktop = orvane::protocols::desktop_service;
constexpr int Warning = Poco::Message::PRIO_WARNING;

// A client that pipelines header-only library-info requests and never reads: its replies fill
// the socket buffers (the tests make each reply about 4 KB long). Sends stop when the server closes
// the connection or stops reading.
class NonReadingClient {
public:
    static constexpr int Rounds = 4;
    static constexpr uint32_t RequestsPerRound = 4096;

    explicit NonReadingClient(Poco::UInt16 port) : socket(Poco::Net::SocketAddress::IPv4) {
        socket.setReceiveBufferSize(4096);
        socket.connect(Poco::Net::SocketAddress("127.0.0.1", port));
        // Bounds the test on a server that stops reading: the send gives up instead of hanging.
        socket.setSendTimeout(Poco::Timespan(3, 0));
        sender = std::thread([this] {
            std::string batch;
            for (uint32_t oseq = 0; oseq < RequestsPerRound; ++oseq) {
                batch += RequestPacket(desktop::LIBRARY_INFO_REQUEST, oseq);
            }
            try {
                for (int round = 0; round < Rounds; ++round) {
                    socket.sendBytes(batch.data(), static_cast<int>(batch.size()));
                }
            } catch (const Poco::Exception&) {
                // Closed by the server, or no longer read by it.
            }
        });
    }
    ~NonReadingClient() {
        sender.join();
        socket.close();
    }
    std::string endpointText() const { return socket.address().toString(); }

    Poco::Net::StreamSocket socket;
    std::thread sender;
};

size_t CountStartingWith(const LogCapture& capture, const std::string& prefix) {
    return capture.startingWith(prefix).size();
}

std::string DumpAtLeast(const LogCapture& capture, int priority) {
    std::string text;
    for (const CapturedLine& line : capture.lines()) {
        if (line.priority <= priority) {
            text += line.text + "\n";
        }
    }
    return text;
}

class NeverHeldTest : public ServerTestBase {
protected:
    void SetUp() override { service.setLibraryLocation("C:\\" + std::string(4000, 'L')); }

    void sendFixDirectory(ServiceTestClient& client, uint32_t oseq) {
        desktop::FixDirectoryPrivilegesRequest request;
        request.set_directory("C:\\Games\\Large");
        client.send(RequestPacket(
            desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST, oseq, request.SerializeAsString()));
    }
    // A fresh connection answers library-info within `seconds`.
    bool freshConnectionAnswered(long seconds) {
        ServiceTestClient client(server->port());
        std::optional<ReceivedPacket> reply;
        try {
            client.send(RequestPacket(desktop::LIBRARY_INFO_REQUEST, 99));
            reply = client.receive(Poco::Timespan(seconds, 0));
        } catch (const Poco::Net::ConnectionResetException&) {
            // Closed at once: over the cap.
        }
        return reply && reply->header.type() == desktop::LIBRARY_INFO_RESPONSE &&
               reply->rseq() == 99;
    }
};

TEST_F(NeverHeldTest, ClientsThatNeverReadHoldNobodyAndAreClosedWhenStalled) {
    startServer(Poco::Timespan(ServiceReactorTimeoutSeconds, 0), Poco::Timespan(0, 300 * 1000));
    std::vector<std::unique_ptr<NonReadingClient>> flooders;
    for (int i = 0; i < 4; ++i) {
        flooders.push_back(std::make_unique<NonReadingClient>(server->port()));
    }
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(freshConnectionAnswered(2)) << capture.dump().substr(0, 2000);
    }
    for (const auto& flooder : flooders) {
        const std::string prefix =
            "Closing connection " + flooder->endpointText() + ": it took none of its ";
        const Poco::Timestamp start;
        while (CountStartingWith(capture, prefix) == 0 && start.elapsed() < 10 * 1000 * 1000) {
            Poco::Thread::sleep(5);
        }
        const std::vector<CapturedLine> lines = capture.startingWith(prefix);
        ASSERT_EQ(lines.size(), 1u) << prefix << DumpAtLeast(capture, Warning);
        EXPECT_EQ(lines[0].priority, Warning);
    }
    // Reading stopped with the queue over its bound: far fewer requests were taken than sent.
    EXPECT_LT(CountStartingWith(capture, "Received LibraryInfoRequest"),
              4u * NonReadingClient::RequestsPerRound * NonReadingClient::Rounds / 4u);
}

// A connection the service stopped reading keeps data pending. Polled for reading still, it
// would make every pass of the loop ready at once: the reactor thread would spin and never see
// the service idle.
TEST_F(NeverHeldTest, AConnectionNotReadLetsTheServiceGoIdle) {
    startServer(Poco::Timespan(0, 300 * 1000), Poco::Timespan(3600, 0));
    NonReadingClient flooder(server->port());
    EXPECT_TRUE(waitForLine(Poco::Message::PRIO_INFORMATION,
                            "OrvaneService inactivity timeout exceeded, terminating",
                            10000))
        << DumpAtLeast(capture, Warning);
}

TEST_F(NeverHeldTest, StopFreesThePortWhateverClientsDo) {
    startServer();
    const Poco::UInt16 port = server->port();
    std::vector<std::unique_ptr<NonReadingClient>> flooders;
    for (int i = 0; i < 4; ++i) {
        flooders.push_back(std::make_unique<NonReadingClient>(port));
    }
    // Once the monitor is answered the flooders' replies are queued, not blocking the loop.
    ASSERT_TRUE(freshConnectionAnswered(2));

    const auto started = std::chrono::steady_clock::now();
    server->stop(started + std::chrono::milliseconds(1000));
    EXPECT_TRUE(server->waitForWork(started + std::chrono::milliseconds(1000)));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
    EXPECT_FALSE(server->isRunning());
    FakeOrvaneService other;
    EXPECT_NO_THROW(ServiceServer(other, Poco::Net::SocketAddress("127.0.0.1", port)));
}

TEST_F(NeverHeldTest, LongRequestHoldsOnlyItsOwnConnection) {
    startServer();
    service.setFixDirectoryResult(true);
    service.holdFixDirectory();
    auto granting = connect();
    sendFixDirectory(*granting, 1);
    ASSERT_TRUE(service.waitForFixDirectoryCalls(1, 5000));
    // Its own next request waits: nothing more is read from it while its request runs.
    granting->send(RequestPacket(desktop::LIBRARY_INFO_REQUEST, 2));

    auto other = connect();
    for (uint32_t oseq = 10; oseq < 13; ++oseq) {
        expectNextAnswerIsFor(*other, oseq);
    }
    EXPECT_FALSE(granting->readableWithin(Poco::Timespan(0, 100 * 1000)));

    service.releaseFixDirectory();
    const std::optional<ReceivedPacket> first = granting->receive();
    ASSERT_TRUE(first) << capture.dump();
    EXPECT_EQ(first->header.type(), desktop::FIX_DIRECTORY_PRIVILEGES_RESPONSE);
    EXPECT_EQ(first->rseq(), 1u);
    EXPECT_EQ(first->code(), 200);
    const std::optional<ReceivedPacket> second = granting->receive();
    ASSERT_TRUE(second) << capture.dump();
    EXPECT_EQ(second->header.type(), desktop::LIBRARY_INFO_RESPONSE);
    EXPECT_EQ(second->rseq(), 2u);
}

TEST_F(NeverHeldTest, StopAbandonsARequestStillRunningAndFreesThePort) {
    startServer();
    const Poco::UInt16 port = server->port();
    service.holdFixDirectory();
    auto granting = connect();
    sendFixDirectory(*granting, 1);
    ASSERT_TRUE(service.waitForFixDirectoryCalls(1, 5000));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    server->stop(deadline);
    EXPECT_FALSE(server->waitForWork(deadline));
    EXPECT_TRUE(server->hasAbandonedWork());
    EXPECT_TRUE(granting->closedByServerWithin(Poco::Timespan(2, 0)));
    FakeOrvaneService other;
    EXPECT_NO_THROW(ServiceServer(other, Poco::Net::SocketAddress("127.0.0.1", port)));

    // The worker finishes on its own; destroying the server waits for it and frees its handler.
    service.releaseFixDirectory();
    server.reset();
}

TEST_F(NeverHeldTest, ConnectionsBeyondTheCapAreClosedAtOnce) {
    startServer();
    std::vector<std::unique_ptr<ServiceTestClient>> open;
    for (int i = 0; i < OrvaneServiceSocketAcceptor::MaxOpenConnections; ++i) {
        open.push_back(connect());
    }
    // Each is served: all of them are open on the server's side.
    for (uint32_t i = 0; i < open.size(); ++i) {
        expectNextAnswerIsFor(*open[i], i);
    }
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        auto beyond = connect();
        try {
            beyond->send(RequestPacket(desktop::LIBRARY_INFO_REQUEST, 1000));
        } catch (const Poco::Net::ConnectionResetException&) {
            // Closed before the request went out.
        }
        EXPECT_TRUE(beyond->closedByServerWithin(Poco::Timespan(5, 0)));
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - started);
    const size_t lines = CountStartingWith(capture, "Closing connection 127.0.0.1:");
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 1u + static_cast<size_t>(seconds.count()));

    // A closed connection makes room again.
    open.front()->close();
    const Poco::Timestamp start;
    bool served = false;
    while (!served && start.elapsed() < 5 * 1000 * 1000) {
        served = freshConnectionAnswered(1);
    }
    EXPECT_TRUE(served);
}

}  // namespace
}  // namespace OrvaneClient::Testing

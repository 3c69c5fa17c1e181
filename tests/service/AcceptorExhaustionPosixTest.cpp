#include "tests/service/ServerTestBase.h"

#include <Poco/Exception.h>
#include <Poco/Message.h>
#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/SocketDefs.h>
#include <Poco/Net/StreamSocket.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace OrvaneClient::Testing {
namespace {

// Lowers the descriptor limit to the lowest free descriptor number, so that no descriptor can
// be opened until it is restored; restores it on every path.
class DescriptorShortage {
public:
    DescriptorShortage() {
        if (getrlimit(RLIMIT_NOFILE, &saved) != 0) {
            return;
        }
        const int lowestFree = dup(0);
        if (lowestFree < 0) {
            return;
        }
        close(lowestFree);
        rlimit lowered = saved;
        lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
        active = setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~DescriptorShortage() { end(); }
    void end() {
        if (active) {
            setrlimit(RLIMIT_NOFILE, &saved);
            active = false;
        }
    }
    bool isActive() const { return active; }

private:
    rlimit saved{};
    bool active = false;
};

class AcceptorExhaustionTest : public ServerTestBase {};

TEST_F(AcceptorExhaustionTest, OutOfDescriptorsPausesAcceptsAndRecovers) {
    startServer();
    // While descriptors are short, nothing may meet a type for the first time: the sanitizers'
    // type checks need a descriptor then. So one connection takes the reactor through
    // accepting, dispatching and disconnecting first, and the accept failure's exception type
    // is met here.
    {
        auto first = connect();
        expectNextAnswerIsFor(*first, 1);
    }
    ASSERT_TRUE(
        waitForLine(Poco::Message::PRIO_INFORMATION, "ServiceConnectionHandler disconnecting"));
    // The line comes before the close: once another connection is answered on the one reactor
    // thread, the first one's descriptor is free, so the shortage below leaves no hole.
    auto probe = connect();
    expectNextAnswerIsFor(*probe, 2);
    const Poco::IOException sample("sample", POCO_EMFILE);
    const Poco::Exception& sampleAsBase = sample;
    EXPECT_EQ(sampleAsBase.code(), POCO_EMFILE);
    // The pause ends by a reactor timer, which wakes the loop with a datagram.
    Poco::Net::DatagramSocket datagramSample(Poco::Net::SocketAddress("127.0.0.1", 0), false);
    const char wakeUpByte = 0;
    datagramSample.sendTo(&wakeUpByte, 1, datagramSample.address());
    capture.clear();

    // The client's descriptor exists before the shortage; connecting needs no new one.
    Poco::Net::StreamSocket client(Poco::Net::SocketAddress::IPv4);
    sockaddr_in serverAddress{};
    serverAddress.sin_family = AF_INET;
    serverAddress.sin_port = htons(server->port());
    serverAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int clientDescriptor = client.impl()->sockfd();

    DescriptorShortage shortage;
    ASSERT_TRUE(shortage.isActive());
    const bool connected = ::connect(clientDescriptor,
                                     reinterpret_cast<const sockaddr*>(&serverAddress),
                                     sizeof(serverAddress)) == 0;
    const bool warned =
        waitForLine(Poco::Message::PRIO_WARNING,
                    "Cannot accept connections, out of resources (I/O error: Too many open files); "
                    "retrying every 100 ms");
    // Several back-off periods pass without the connection being accepted.
    const bool accepted =
        waitForLine(Poco::Message::PRIO_INFORMATION, "ServiceServer connected", 350);
    shortage.end();
    ASSERT_TRUE(connected);
    ASSERT_TRUE(warned) << capture.dump();
    EXPECT_FALSE(accepted);

    // One warning for the episode, and no busy loop of errors through the error handler.
    EXPECT_EQ(capture.startingWith("Cannot accept connections").size(), 1u) << capture.dump();
    EXPECT_TRUE(capture.startingWith("Socket reactor discarded exception").empty());

    // The connection waited in the backlog and is served once descriptors are free again.
    ServiceTestClient served(client);
    expectNextAnswerIsFor(served, 7);
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_INFORMATION, "Accepting connections again"));
}

}  // namespace
}  // namespace OrvaneClient::Testing

// A reactor pass in which a socket is ready with an error alone is activity, not inactivity: a
// connection reset while the poll looks at it can show up that way for one pass.

#include "service/OrvaneServiceSocketReactor.h"
#include "tests/support/FakeOrvaneService.h"

#include <Poco/Clock.h>
#include <Poco/Exception.h>
#include <Poco/NObserver.h>
#include <Poco/Net/DatagramSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Thread.h>
#include <gtest/gtest.h>

#include <atomic>

namespace OrvaneClient::Testing {
namespace {

// Takes the pending error off the socket, as a handler reading it would.
class ErrorDrain {
public:
    explicit ErrorDrain(Poco::Net::DatagramSocket& socket) : socket(socket) {}
    void onError(const Poco::AutoPtr<Poco::Net::ErrorNotification>&) {
        char byte;
        try {
            socket.receiveBytes(&byte, 1);
        } catch (const Poco::Exception&) {
            // The refused datagram's error: expected, and now consumed.
        }
        ++passes;
    }
    std::atomic<int> passes{0};

private:
    Poco::Net::DatagramSocket& socket;
};

TEST(ReactorErrorPassTest, AnErrorOnlyPassDoesNotCountAsInactivity) {
    // A connected datagram socket whose datagram was refused: ready with an error, no data.
    Poco::Net::SocketAddress closedPort;
    {
        Poco::Net::DatagramSocket placeholder(Poco::Net::SocketAddress("127.0.0.1", 0), false);
        closedPort = placeholder.address();
    }
    Poco::Net::DatagramSocket refused(Poco::Net::SocketAddress("127.0.0.1", 0), false);
    refused.connect(closedPort);
    refused.sendBytes("x", 1);
    ASSERT_TRUE(refused.poll(Poco::Timespan(2, 0), Poco::Net::Socket::SELECT_ERROR));

    FakeOrvaneService service;
    const long timeoutMilliseconds = 600;
    OrvaneServiceSocketReactor reactor(&service, Poco::Timespan(0, timeoutMilliseconds * 1000));
    ErrorDrain drain(refused);
    const Poco::NObserver<ErrorDrain, Poco::Net::ErrorNotification> observer(drain,
                                                                             &ErrorDrain::onError);
    reactor.addEventHandler(refused, observer);

    const Poco::Clock started;
    Poco::Thread thread;
    thread.start(reactor);
    const bool stopped = service.waitForStop(10 * timeoutMilliseconds);
    const Poco::Clock::ClockDiff elapsed = started.elapsed();
    reactor.stop();
    reactor.interruptWait();
    thread.join();
    reactor.removeEventHandler(refused, observer);

    EXPECT_EQ(drain.passes, 1);
    ASSERT_TRUE(stopped);
    // The error pass came at once; the stop only after a whole quiet timeout.
    EXPECT_GE(elapsed, timeoutMilliseconds * 1000 * 9 / 10);
    EXPECT_EQ(service.stopCalls(), 1);
}

}  // namespace
}  // namespace OrvaneClient::Testing

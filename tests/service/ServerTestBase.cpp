#include "tests/service/ServerTestBase.h"

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"

#include <Poco/Net/SocketAddress.h>
#include <Poco/Thread.h>
#include <Poco/Timestamp.h>

namespace OrvaneClient::Testing {

void ServerTestBase::startServer(Poco::Timespan reactorTimeout, Poco::Timespan stallTimeout) {
    server = std::make_unique<ServiceServer>(
        service, Poco::Net::SocketAddress("127.0.0.1", 0), reactorTimeout, stallTimeout);
    server->start();
}

std::unique_ptr<ServiceTestClient> ServerTestBase::connect() {
    return std::make_unique<ServiceTestClient>(server->port());
}

void ServerTestBase::expectNextAnswerIsFor(ServiceTestClient& client, uint32_t oseq) {
    client.send(RequestPacket(orvane::protocols::desktop_service::LIBRARY_INFO_REQUEST, oseq));
    const std::optional<ReceivedPacket> reply = client.receive();
    ASSERT_TRUE(reply) << "no answer on the connection\n" << capture.dump();
    EXPECT_EQ(reply->header.type(), 2u);
    EXPECT_EQ(reply->rseq(), oseq);
}

bool ServerTestBase::waitForLine(int priority, const std::string& text, long milliseconds) {
    const Poco::Timestamp start;
    while (!capture.contains(priority, text)) {
        if (start.elapsed() > milliseconds * 1000) {
            return false;
        }
        Poco::Thread::sleep(2);
    }
    return true;
}

void ServerTestBase::expectLinesInOrder(const std::vector<std::pair<int, std::string>>& expected) {
    const std::vector<CapturedLine> lines = capture.lines();
    size_t position = 0;
    for (const auto& [priority, text] : expected) {
        while (position < lines.size() &&
               !(lines[position].priority == priority && lines[position].text == text)) {
            ++position;
        }
        if (position == lines.size()) {
            ADD_FAILURE() << "missing, or out of order: [" << priority << "] " << text << "\n"
                          << capture.dump();
            return;
        }
        ++position;
    }
}

}  // namespace OrvaneClient::Testing

// Clients that send what no client should: the server goes on serving everybody else.

#include "tests/service/ServerTestBase.h"

#include <Poco/Exception.h>
#include <Poco/Thread.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace OrvaneClient::Testing {
namespace {

class HostileInputTest : public ServerTestBase {};

size_t CountLines(const LogCapture& capture, int priority, const std::string& prefix) {
    size_t count = 0;
    for (const CapturedLine& line : capture.lines()) {
        count += line.priority == priority && line.text.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

// Random bytes in random pieces on many connections, each ended by a close or a reset. Under the
// sanitizer build this also proves that no piece of garbage is read or written out of bounds.
TEST_F(HostileInputTest, GarbageOnManyConnectionsNeverStopsTheService) {
    startServer();
    auto witness = connect();
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> pieceLength(1, 3000);
    const auto eventually = [](const auto& condition) {
        const Poco::Timestamp start;
        while (!condition()) {
            if (start.elapsed() > 60 * Poco::Timestamp::resolution()) {
                return false;
            }
            Poco::Thread::sleep(2);
        }
        return true;
    };
    // A connection is done with once its handler has gone, or once the reactor gave up on a socket
    // that was reset before a handler could be made for it.
    const auto finished = [this] {
        return CountLines(capture, Poco::Message::PRIO_INFORMATION,
                          "ServiceConnectionHandler disconnecting") +
               CountLines(capture, Poco::Message::PRIO_ERROR, "Socket reactor discarded exception");
    };

    for (int connection = 0; connection < 24; ++connection) {
        SCOPED_TRACE(connection);
        const size_t warningsBefore = CountLines(capture, Poco::Message::PRIO_WARNING, "");
        auto hostile = connect();
        for (int piece = 0; piece < 6; ++piece) {
            std::string bytes(static_cast<size_t>(pieceLength(random)), '\0');
            for (char& value : bytes) {
                value = static_cast<char>(byte(random));
            }
            try {
                hostile->send(bytes);
            } catch (const Poco::Exception&) {
                break;  // the service closed this connection, as it may for an oversized packet
            }
        }
        // A reset may discard what the peer had not read yet (Windows does, and Wine's server
        // takes the pending error when it polls), so only an orderly close promises that the
        // garbage is read.
        const bool reset = connection % 2 == 0;
        if (reset) {
            hostile->socket.setLinger(true, 0);
        }
        hostile->close();
        expectNextAnswerIsFor(*witness, static_cast<uint32_t>(connection));
        if (!reset) {
            // Bad input that was read is never silent.
            EXPECT_TRUE(eventually([&] {
                return CountLines(capture, Poco::Message::PRIO_WARNING, "") > warningsBefore;
            })) << capture.dump();
        }
    }
    // Every connection ends, whatever it sent and however it went.
    EXPECT_TRUE(eventually([&] { return finished() >= 24u; })) << capture.dump();
    EXPECT_TRUE(server->isRunning());
    expectNextAnswerIsFor(*witness, 24);
}

TEST_F(HostileInputTest, AStalledPartialPacketDoesNotHoldUpOtherClients) {
    startServer();
    auto stalled = connect();
    const std::string whole = RequestPacket(1, 43);
    // The prefix and the first header bytes of a packet whose rest comes much later.
    stalled->send(whole.substr(0, 4));

    auto other = connect();
    expectNextAnswerIsFor(*other, 41);
    expectNextAnswerIsFor(*other, 42);

    // Completed late, the stalled packet is still answered.
    stalled->send(whole.substr(4));
    const auto reply = stalled->receive();
    ASSERT_TRUE(reply.has_value()) << capture.dump();
    EXPECT_EQ(reply->rseq(), 43u);
}

}  // namespace
}  // namespace OrvaneClient::Testing

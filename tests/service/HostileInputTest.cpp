// Clients that send what no client should: the server goes on serving everybody else.

#include "tests/service/ServerTestBase.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace OrvaneClient::Testing {
namespace {

class HostileInputTest : public ServerTestBase {};

// Random bytes in random pieces on many connections, each ended by a close or a reset. Under the
// sanitizer build this also proves that no piece of garbage is read or written out of bounds.
TEST_F(HostileInputTest, GarbageOnManyConnectionsNeverStopsTheService) {
    startServer();
    auto witness = connect();
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> pieceLength(1, 3000);

    for (int connection = 0; connection < 24; ++connection) {
        SCOPED_TRACE(connection);
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
        if (connection % 2 == 0) {
            hostile->socket.setLinger(true, 0);  // a reset instead of an orderly close
        }
        hostile->close();
        expectNextAnswerIsFor(*witness, static_cast<uint32_t>(connection));
    }
    EXPECT_TRUE(server->isRunning());
    // Bad input is never silent.
    size_t warnings = 0;
    for (const CapturedLine& line : capture.lines()) {
        warnings += line.priority == Poco::Message::PRIO_WARNING ? 1 : 0;
    }
    EXPECT_GE(warnings, 24u) << capture.dump();
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

#include "core/messaging/ProtobufReader.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPair.h"

#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

using qovex::protocols::pb::Header;
using Testing::HexBytes;
using Testing::LogCapture;
using Testing::LoopbackPair;
using Testing::SendAll;
using Testing::ToHex;
using Testing::WaitForAvailable;

constexpr int TimeoutSeconds = 1;

// Framing written out by hand, so the reader is not checked against the sender's own view.
std::string Frame(const std::string& headerBytes, const std::string& body = std::string()) {
    std::string packet;
    packet.push_back(static_cast<char>(headerBytes.size() >> 8));
    packet.push_back(static_cast<char>(headerBytes.size() & 0xFF));
    return packet + headerBytes + body;
}

std::string RequestPacket(uint32_t type, uint32_t oseq, const std::string& body) {
    Header header;
    header.set_sort(1);
    header.set_type(type);
    header.set_size(static_cast<uint32_t>(body.size()));
    header.set_oseq(oseq);
    return Frame(header.SerializeAsString(), body);
}

std::string LaunchBody() {
    orvane::protocols::desktop_service::LaunchElevatedRequest request;
    request.set_process_path("C:\\Games\\Title\\run.exe");
    request.set_command_line_args("-windowed");
    request.set_working_dir("C:\\Games\\Title");
    request.set_elevated(true);
    return request.SerializeAsString();
}

std::string AsString(const std::vector<char>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

class ProtobufReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Markers that must survive every call that hands out no packet.
        header.set_sort(77);
        header.set_type(77);
        content = {'m', 'a', 'r', 'k'};
    }

    // Sends `bytes`, waits until all of them are readable so the reader's single receive takes
    // them together, and reads.
    ReadResult sendAndRead(const std::string& bytes) {
        SendAll(pair.client, bytes);
        EXPECT_TRUE(WaitForAvailable(pair.server, static_cast<int>(bytes.size())));
        return reader.readWholePacket(header, content, TimeoutSeconds);
    }

    void expectUntouched() {
        EXPECT_EQ(header.type(), 77u);
        EXPECT_EQ(AsString(content), "mark");
    }

    LogCapture capture;
    LoopbackPair pair;
    ProtobufReader reader{pair.server};
    Header header;
    std::vector<char> content;
};

TEST_F(ProtobufReaderTest, PacketArrivingOneBytePerReceiveIsReadyOnItsLastByte) {
    const std::string body = LaunchBody();
    const std::string packet = RequestPacket(5, 11, body);

    for (size_t i = 0; i + 1 < packet.size(); ++i) {
        SCOPED_TRACE("byte " + std::to_string(i));
        ASSERT_EQ(sendAndRead(packet.substr(i, 1)), ReadResult::NeedMoreData);
        expectUntouched();
    }
    ASSERT_EQ(sendAndRead(packet.substr(packet.size() - 1)), ReadResult::PacketReady);
    EXPECT_EQ(header.type(), 5u);
    EXPECT_EQ(header.oseq(), 11u);
    EXPECT_EQ(AsString(content), body);
    EXPECT_TRUE(capture.lines().empty()) << capture.dump();
}

TEST_F(ProtobufReaderTest, PacketSplitAtEveryPointIsReassembled) {
    const std::string body = LaunchBody();
    const std::string packet = RequestPacket(5, 300, body);

    for (size_t split = 1; split < packet.size(); ++split) {
        SCOPED_TRACE("split after " + std::to_string(split) + " bytes");
        header.Clear();
        ASSERT_EQ(sendAndRead(packet.substr(0, split)), ReadResult::NeedMoreData);
        ASSERT_EQ(sendAndRead(packet.substr(split)), ReadResult::PacketReady);
        EXPECT_EQ(header.oseq(), 300u);
        EXPECT_EQ(AsString(content), body);
    }
}

TEST_F(ProtobufReaderTest, SecondPacketOfOneReceiveWaitsForTheNextCall) {
    const std::string first = RequestPacket(1, 1, "");
    const std::string second = RequestPacket(5, 2, LaunchBody());
    const std::string third = RequestPacket(3, 3, "");

    ASSERT_EQ(sendAndRead(first + second), ReadResult::PacketReady);
    EXPECT_EQ(header.oseq(), 1u);
    EXPECT_TRUE(content.empty());

    // Each call receives before it looks at the buffer: with nothing more on the way it times
    // out, and the buffered packet must survive that.
    EXPECT_EQ(reader.readWholePacket(header, content, TimeoutSeconds), ReadResult::ReadError);
    EXPECT_EQ(header.oseq(), 1u);

    ASSERT_EQ(sendAndRead(third), ReadResult::PacketReady);
    EXPECT_EQ(header.oseq(), 2u);
    EXPECT_EQ(AsString(content), LaunchBody());

    ASSERT_EQ(sendAndRead(HexBytes("00")), ReadResult::PacketReady);
    EXPECT_EQ(header.oseq(), 3u);
}

TEST_F(ProtobufReaderTest, PartialNextPacketStaysAtTheFrontOfTheBuffer) {
    const std::string first = RequestPacket(7,
                                            1,
                                            "\x0A\x03"
                                            "C:\\");
    const std::string second = RequestPacket(5, 2, LaunchBody());

    ASSERT_EQ(sendAndRead(first + second.substr(0, 5)), ReadResult::PacketReady);
    EXPECT_EQ(header.type(), 7u);
    EXPECT_EQ(AsString(content),
              "\x0A\x03"
              "C:\\");

    ASSERT_EQ(sendAndRead(second.substr(5)), ReadResult::PacketReady);
    EXPECT_EQ(header.type(), 5u);
    EXPECT_EQ(header.oseq(), 2u);
    EXPECT_EQ(AsString(content), LaunchBody());
}

TEST_F(ProtobufReaderTest, HeaderWithoutSizeEndsThePacketRightBehindIt) {
    // The form of an error reply: sort 1, type 4, rseq 3, code 404, and no size.
    const std::string reply = HexBytes("00 0B 08 01 10 04 A0 06 03 A8 06 94 03");
    const std::string next = RequestPacket(1, 9, "");

    ASSERT_EQ(sendAndRead(reply + next.substr(0, 4)), ReadResult::PacketReady);
    EXPECT_EQ(header.type(), 4u);
    EXPECT_FALSE(header.has_size());
    EXPECT_EQ(header.GetExtension(qovex::protocols::pb::Response::rseq), 3u);
    EXPECT_EQ(header.GetExtension(qovex::protocols::pb::Response::code),
              qovex::protocols::pb::Response::NOT_FOUND);
    EXPECT_TRUE(content.empty());

    ASSERT_EQ(sendAndRead(next.substr(4)), ReadResult::PacketReady);
    EXPECT_EQ(header.oseq(), 9u);
}

TEST_F(ProtobufReaderTest, HeaderThatDoesNotParseDropsEverythingBuffered) {
    struct Case {
        const char* name;
        std::string prefixAndHeader;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"zero header length", HexBytes("00 00"), "Parse error while reading message of size 0"},
        {"no type", HexBytes("00 02 08 01"), "Parse error while reading message of size 2"},
        {"no sort", HexBytes("00 02 10 01"), "Parse error while reading message of size 2"},
        {"malformed", HexBytes("00 03 FF FF FF"), "Parse error while reading message of size 3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        capture.clear();
        SetUp();
        // A valid packet behind the bad header is dropped with it.
        ASSERT_EQ(sendAndRead(c.prefixAndHeader + RequestPacket(1, 5, "")),
                  ReadResult::HeaderParseError);
        expectUntouched();
        EXPECT_TRUE(capture.contains(Poco::Message::PRIO_WARNING, c.line)) << capture.dump();
        EXPECT_EQ(capture.lines().size(), 1u) << capture.dump();

        // The next byte received starts a new packet.
        ASSERT_EQ(sendAndRead(RequestPacket(3, 6, "")), ReadResult::PacketReady);
        EXPECT_EQ(header.oseq(), 6u);
    }
}

TEST_F(ProtobufReaderTest, HeaderWithAnySortValueIsAccepted) {
    Header sent;
    sent.set_sort(12345);
    sent.set_type(1);
    ASSERT_EQ(sendAndRead(Frame(sent.SerializeAsString())), ReadResult::PacketReady);
    EXPECT_EQ(header.sort(), 12345u);
}

TEST_F(ProtobufReaderTest, PacketOfExactlyTheBufferSizeIsReady) {
    // Header sort 1, type 5, size 4991 (varint FF 26): 7 bytes, so 2 + 7 + 4991 = 5000.
    const std::string body(4991, 'b');
    const std::string packet = Frame(HexBytes("08 01 10 05 18 FF 26"), body);
    ASSERT_EQ(packet.size(), ProtobufReader::ReceiveBufferSize);

    ASSERT_EQ(sendAndRead(packet), ReadResult::PacketReady);
    EXPECT_EQ(content.size(), 4991u);

    // The buffer is reusable afterwards.
    ASSERT_EQ(sendAndRead(RequestPacket(1, 2, "")), ReadResult::PacketReady);
    EXPECT_EQ(header.oseq(), 2u);
}

TEST_F(ProtobufReaderTest, PacketLongerThanTheBufferClosesAsSoonAsItsLengthIsKnown) {
    // Only the header has arrived; the announced body would not fit.
    ASSERT_EQ(sendAndRead(HexBytes("00 07 08 01 10 05 18 80 27")), ReadResult::ConnectionClosed);
    expectUntouched();
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_WARNING,
                                 "Packet of header length 7 and size 4992 exceeds the receive "
                                 "buffer of 5000 bytes, closing connection"))
        << capture.dump();

    // A size near 2^32 must not wrap around into a small packet.
    capture.clear();
    ASSERT_EQ(sendAndRead(HexBytes("00 0A 08 01 10 05 18 FF FF FF FF 0F") + "body"),
              ReadResult::ConnectionClosed);
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_WARNING,
                                 "Packet of header length 10 and size 4294967295 exceeds the "
                                 "receive buffer of 5000 bytes, closing connection"))
        << capture.dump();
}

TEST_F(ProtobufReaderTest, HeaderLongerThanTheBufferClosesAtOnce) {
    ASSERT_EQ(sendAndRead(HexBytes("13 87 08 01")), ReadResult::ConnectionClosed);
    expectUntouched();
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_WARNING,
                                 "Packet header of length 4999 exceeds the receive buffer of 5000 "
                                 "bytes, closing connection"))
        << capture.dump();
}

TEST_F(ProtobufReaderTest, PeerClosingIsConnectionClosed) {
    // Half a packet is buffered when the peer goes away.
    ASSERT_EQ(sendAndRead(RequestPacket(1, 1, "").substr(0, 3)), ReadResult::NeedMoreData);
    pair.client.shutdownSend();

    EXPECT_EQ(reader.readWholePacket(header, content, TimeoutSeconds),
              ReadResult::ConnectionClosed);
    expectUntouched();
    EXPECT_TRUE(
        capture.contains(Poco::Message::PRIO_INFORMATION, "Connection closed by remote host"))
        << capture.dump();
}

TEST_F(ProtobufReaderTest, PeerResetIsConnectionClosedWithTheNetworkError) {
    if (Testing::ResetReadsAsOrderlyEnd()) {
        GTEST_SKIP() << "this system reports a reset as an orderly end";
    }
    Testing::ResetConnection(pair.client);

    EXPECT_EQ(reader.readWholePacket(header, content, TimeoutSeconds),
              ReadResult::ConnectionClosed);
    expectUntouched();
    const auto lines =
        capture.startingWith("NetException during ProtobufReader::readWholePacket: ");
    ASSERT_EQ(lines.size(), 1u) << capture.dump();
    EXPECT_EQ(lines[0].priority, Poco::Message::PRIO_ERROR);
    // The library's message is empty for a reset: the line names the exception instead.
    EXPECT_EQ(lines[0].text,
              "NetException during ProtobufReader::readWholePacket: Connection reset by peer");
    EXPECT_FALSE(
        capture.contains(Poco::Message::PRIO_INFORMATION, "Connection closed by remote host"));
}

TEST_F(ProtobufReaderTest, ReceiveTimeoutIsReadErrorAndKeepsWhatWasBuffered) {
    const std::string packet = RequestPacket(1, 4, "");
    ASSERT_EQ(sendAndRead(packet.substr(0, 4)), ReadResult::NeedMoreData);

    EXPECT_EQ(reader.readWholePacket(header, content, TimeoutSeconds), ReadResult::ReadError);
    expectUntouched();
    const auto lines = capture.startingWith("Exception during ProtobufReader::readWholePacket: ");
    ASSERT_EQ(lines.size(), 1u) << capture.dump();
    EXPECT_EQ(lines[0].priority, Poco::Message::PRIO_ERROR);
    EXPECT_EQ(lines[0].text, "Exception during ProtobufReader::readWholePacket: Timeout");

    ASSERT_EQ(sendAndRead(packet.substr(4)), ReadResult::PacketReady);
    EXPECT_EQ(header.oseq(), 4u);
}

}  // namespace
}  // namespace OrvaneClient

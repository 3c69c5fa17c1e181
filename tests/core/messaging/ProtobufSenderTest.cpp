#include "core/messaging/ProtobufReader.h"
#include "core/messaging/ProtobufSender.h"
#include "tests/support/LogCapture.h"
#include "tests/support/LoopbackPair.h"

#include <Poco/Exception.h>
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

namespace desktop = orvane::protocols::desktop_service;
using qovex::protocols::pb::Header;
using qovex::protocols::pb::Response;
using Testing::HexBytes;
using Testing::LogCapture;
using Testing::LoopbackPair;
using Testing::ReceiveUpTo;
using Testing::ToHex;

Header Request(uint32_t type, std::optional<uint32_t> oseq) {
    Header header;
    header.set_sort(1);
    header.set_type(type);
    if (oseq) {
        header.set_oseq(*oseq);
    }
    return header;
}

class ProtobufSenderTest : public ::testing::Test {
protected:
    // Everything the peer has received within a short wait, up to `count` bytes.
    std::string received(size_t count) {
        return ToHex(ReceiveUpTo(pair.client, count, Poco::Timespan(2, 0)));
    }

    LogCapture capture;
    LoopbackPair pair;
    ProtobufSender sender{pair.server};
};

TEST_F(ProtobufSenderTest, LibraryInfoResponseIsFramedByteForByte) {
    ASSERT_TRUE(sender.sendLibraryInfoResponse(7u, "C:\\Orv"));

    EXPECT_EQ(received(23),
              "00 0D 08 01 10 02 18 08 A0 06 07 A8 06 C8 01 "
              "0A 06 43 3A 5C 4F 72 76");
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_INFORMATION,
                                 "Sending message of type 2 [Sequence Number: -1], rseq 7 "
                                 "completed OK"))
        << capture.dump();
}

TEST_F(ProtobufSenderTest, AuthErrorReplyIsFramedByteForByte) {
    ASSERT_TRUE(sender.sendErrorReply(Request(3, 3u), Response::NOT_FOUND));

    EXPECT_EQ(received(13), "00 0B 08 01 10 04 A0 06 03 A8 06 94 03");
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_INFORMATION,
                                 "Sending response of type 4 [Sequence Number: 3], rseq 3 "
                                 "completed OK"))
        << capture.dump();
}

TEST_F(ProtobufSenderTest, AnswersToARequestWithoutOseqCarryRseqZero) {
    ASSERT_TRUE(sender.sendErrorReply(Request(7, std::nullopt), Response::OK));
    ASSERT_TRUE(sender.sendLaunchElevatedResponse(std::nullopt, 1234));

    // 08 01 10 08 A0 06 00 A8 06 C8 01, then the launch response with pid 1234 (D2 09).
    EXPECT_EQ(received(13 + 18),
              "00 0B 08 01 10 08 A0 06 00 A8 06 C8 01 "
              "00 0D 08 01 10 06 18 03 A0 06 00 A8 06 C8 01 08 D2 09");
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_INFORMATION,
                                 "Sending response of type 8 [Sequence Number: -1], rseq 0 "
                                 "completed OK"))
        << capture.dump();
    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_INFORMATION,
                                 "Sending message of type 6 [Sequence Number: -1], rseq 0 "
                                 "completed OK"))
        << capture.dump();
}

TEST_F(ProtobufSenderTest, ErrorReplyMapsEachRequestTypeToItsResponseType) {
    const std::vector<std::pair<uint32_t, const char*>> cases = {
        {1, "00 0B 08 01 10 02 A0 06 0A A8 06 F4 03"},
        {3, "00 0B 08 01 10 04 A0 06 0A A8 06 F4 03"},
        {5, "00 0B 08 01 10 06 A0 06 0A A8 06 F4 03"},
        {7, "00 0B 08 01 10 08 A0 06 0A A8 06 F4 03"},
    };
    for (const auto& [requestType, expected] : cases) {
        SCOPED_TRACE("request type " + std::to_string(requestType));
        EXPECT_TRUE(sender.sendErrorReply(Request(requestType, 10u), Response::INTERNAL_ERROR));
        EXPECT_EQ(received(13), expected);
    }
}

TEST_F(ProtobufSenderTest, ErrorReplyToATypeWithoutResponseSendsNothing) {
    for (const uint32_t type : {0u, 2u, 9u}) {
        SCOPED_TRACE("request type " + std::to_string(type));
        capture.clear();
        EXPECT_FALSE(sender.sendErrorReply(Request(type, 5u), Response::NOT_IMPLEMENTED));
        EXPECT_TRUE(
            capture.contains(Poco::Message::PRIO_WARNING,
                             "Unknown header type during sendErrorReply: " + std::to_string(type)))
            << capture.dump();
        EXPECT_EQ(capture.lines().size(), 1u) << capture.dump();

        // Whatever reaches the peer next must be this marker packet and nothing before it.
        ASSERT_TRUE(sender.sendLibraryInfoRequest(66u));
        EXPECT_EQ(received(13), "00 0B 08 01 10 01 18 00 20 42 A0 06 00");
    }
}

TEST_F(ProtobufSenderTest, EmptyLocationStillHasATwoByteBody) {
    ASSERT_TRUE(sender.sendLibraryInfoResponse(1u, ""));
    EXPECT_EQ(received(17), "00 0D 08 01 10 02 18 02 A0 06 01 A8 06 C8 01 0A 00");
}

TEST_F(ProtobufSenderTest, CodeOutsideTheEnumIsWrittenUnchanged) {
    sender.sendMessage(std::nullopt, 4u, 4, std::string(), 999u);
    // A8 06 E7 07: field 101, varint 999, right behind rseq as for a known code.
    EXPECT_EQ(received(15), "00 0D 08 01 10 04 18 00 A0 06 04 A8 06 E7 07");
}

TEST_F(ProtobufSenderTest, RequestsReachAReaderWithTheirFields) {
    ProtobufReader reader(pair.client);
    Header header;
    std::vector<char> content;

    ASSERT_TRUE(sender.sendLibraryInfoRequest(1u));
    ASSERT_EQ(reader.readWholePacket(header, content, 2), ReadResult::PacketReady);
    EXPECT_EQ(header.type(), 1u);
    EXPECT_EQ(header.oseq(), 1u);
    EXPECT_TRUE(header.has_size());
    EXPECT_EQ(header.size(), 0u);
    EXPECT_TRUE(header.HasExtension(Response::rseq));
    EXPECT_EQ(header.GetExtension(Response::rseq), 0u);
    EXPECT_FALSE(header.HasExtension(Response::code));
    EXPECT_TRUE(content.empty());

    ASSERT_TRUE(sender.sendLaunchElevatedRequest(2u, "C:\\a\\b.exe", "-x", "C:\\a", true));
    ASSERT_EQ(reader.readWholePacket(header, content, 2), ReadResult::PacketReady);
    EXPECT_EQ(header.type(), 5u);
    EXPECT_EQ(header.oseq(), 2u);
    desktop::LaunchElevatedRequest launch;
    ASSERT_TRUE(ProtobufReader::parseLaunchElevatedRequest(content, header, launch));
    EXPECT_EQ(launch.process_path(), "C:\\a\\b.exe");
    EXPECT_EQ(launch.command_line_args(), "-x");
    EXPECT_EQ(launch.working_dir(), "C:\\a");
    EXPECT_TRUE(launch.elevated());

    ASSERT_TRUE(sender.sendFixDirectoryPrivilegesRequest(std::nullopt, "D:\\Games"));
    ASSERT_EQ(reader.readWholePacket(header, content, 2), ReadResult::PacketReady);
    EXPECT_EQ(header.type(), 7u);
    EXPECT_FALSE(header.has_oseq());
    desktop::FixDirectoryPrivilegesRequest directory;
    ASSERT_TRUE(ProtobufReader::parseFixDirectoryPrivilegesRequest(content, header, directory));
    EXPECT_EQ(directory.directory(), "D:\\Games");

    EXPECT_TRUE(capture.contains(Poco::Message::PRIO_INFORMATION,
                                 "Sending message of type 5 [Sequence Number: 2], rseq 0 "
                                 "completed OK"))
        << capture.dump();
}

TEST_F(ProtobufSenderTest, ResponsesReachAReaderWithTheirFields) {
    ProtobufReader reader(pair.client);
    Header header;
    std::vector<char> content;

    ASSERT_TRUE(sender.sendAuthInfoResponse(8u, "token-\xE2\x82\xAC"));
    ASSERT_EQ(reader.readWholePacket(header, content, 2), ReadResult::PacketReady);
    EXPECT_EQ(header.type(), 4u);
    EXPECT_FALSE(header.has_oseq());
    EXPECT_EQ(header.GetExtension(Response::rseq), 8u);
    EXPECT_EQ(header.GetExtension(Response::code), Response::OK);
    desktop::AuthInfoResponse auth;
    ASSERT_TRUE(auth.ParseFromArray(content.data(), static_cast<int>(content.size())));
    EXPECT_EQ(auth.refresh_token(), "token-\xE2\x82\xAC");

    ASSERT_TRUE(sender.sendLaunchElevatedResponse(9u, 0xFFFFFFFFu));
    ASSERT_EQ(reader.readWholePacket(header, content, 2), ReadResult::PacketReady);
    desktop::LaunchElevatedResponse launched;
    ASSERT_TRUE(ProtobufReader::parseLaunchElevatedResponse(content, header, launched));
    EXPECT_EQ(launched.pid(), 0xFFFFFFFFu);

    ASSERT_TRUE(sender.sendLibraryInfoResponse(10u, "C:\\Program Files\\Orvane"));
    ASSERT_EQ(reader.readWholePacket(header, content, 2), ReadResult::PacketReady);
    desktop::LibraryInfoResponse library;
    ASSERT_TRUE(ProtobufReader::parseLibraryInfoResponse(content, header, library));
    EXPECT_EQ(library.location(), "C:\\Program Files\\Orvane");
}

TEST_F(ProtobufSenderTest, FailedWriteIsLoggedAndReportedAsFalse) {
    struct Case {
        const char* linePrefix;
        std::function<bool()> send;
    };
    const std::vector<Case> cases = {
        {"error sending LibraryInfoResponse: ",
         [&] { return sender.sendLibraryInfoResponse(1u, "C:\\"); }},
        {"error sending AuthInfoResponse: ", [&] { return sender.sendAuthInfoResponse(1u, "t"); }},
        {"error sending LaunchElevatedResponse: ",
         [&] { return sender.sendLaunchElevatedResponse(1u, 5); }},
        {"error sending error reply: ",
         [&] { return sender.sendErrorReply(Request(7, 1u), Response::OK); }},
        {"error sending LibraryInfoRequest: ", [&] { return sender.sendLibraryInfoRequest(1u); }},
        {"error sending LaunchElevatedRequest: ",
         [&] { return sender.sendLaunchElevatedRequest(1u, "a", "", "", false); }},
        {"error sending FixDirectoryPrivilegesRequest: ",
         [&] { return sender.sendFixDirectoryPrivilegesRequest(1u, "C:\\"); }},
    };
    pair.server.close();

    for (const Case& c : cases) {
        SCOPED_TRACE(c.linePrefix);
        capture.clear();
        EXPECT_FALSE(c.send());
        const auto lines = capture.startingWith(c.linePrefix);
        ASSERT_EQ(lines.size(), 1u) << capture.dump();
        EXPECT_EQ(lines[0].priority, Poco::Message::PRIO_ERROR);
        EXPECT_GT(lines[0].text.size(), std::string(c.linePrefix).size()) << "no reason given";
        EXPECT_TRUE(capture.startingWith("Sending ").empty()) << capture.dump();
    }
    EXPECT_THROW(sender.sendMessage(1u, std::nullopt, 1, std::string(), std::nullopt),
                 Poco::Exception);
}

}  // namespace
}  // namespace OrvaneClient

#include "core/messaging/ProtobufReader.h"
#include "tests/support/LogCapture.h"

#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

namespace desktop = orvane::protocols::desktop_service;
using qovex::protocols::pb::Header;
using Testing::LogCapture;

struct ParseCase {
    const char* messageName;
    // Runs the typed parse function into a fresh message; `fields` gets its text form.
    std::function<bool(const std::vector<char>&, const Header&, std::string& fields)> parse;
    std::string validBody;
    // Parses as protocol-buffer data but lacks a required field.
    std::string incompleteBody;
};

template <typename Message, bool (*Parse)(const std::vector<char>&, const Header&, Message&)>
bool ParseInto(const std::vector<char>& content, const Header& header, std::string& fields) {
    Message message;
    const bool parsed = Parse(content, header, message);
    fields = message.ShortDebugString();
    return parsed;
}

std::vector<ParseCase> ParseCases() {
    desktop::FixDirectoryPrivilegesRequest directory;
    directory.set_directory("C:\\Games\\Title");

    desktop::LaunchElevatedRequest launch;
    launch.set_process_path("C:\\Games\\Title\\run.exe");
    launch.set_command_line_args("");
    launch.set_working_dir("C:\\Games\\Title");
    launch.set_elevated(false);
    desktop::LaunchElevatedRequest launchWithoutElevated = launch;
    launchWithoutElevated.clear_elevated();

    desktop::LaunchElevatedResponse launched;
    launched.set_pid(4242);

    desktop::LibraryInfoResponse library;
    library.set_location("C:\\Program Files\\Orvane");

    // A field the message does not have (number 9), so nothing required is present.
    const std::string unrelatedField = "\x48\x01";

    return {
        {"FixDirectoryPrivilegesRequest",
         ParseInto<desktop::FixDirectoryPrivilegesRequest,
                   ProtobufReader::parseFixDirectoryPrivilegesRequest>,
         directory.SerializeAsString(),
         unrelatedField},
        {"LaunchElevatedRequest",
         ParseInto<desktop::LaunchElevatedRequest, ProtobufReader::parseLaunchElevatedRequest>,
         launch.SerializePartialAsString(),
         launchWithoutElevated.SerializePartialAsString()},
        {"LaunchElevatedResponse",
         ParseInto<desktop::LaunchElevatedResponse, ProtobufReader::parseLaunchElevatedResponse>,
         launched.SerializeAsString(),
         unrelatedField},
        {"LibraryInfoResponse",
         ParseInto<desktop::LibraryInfoResponse, ProtobufReader::parseLibraryInfoResponse>,
         library.SerializeAsString(),
         unrelatedField},
    };
}

Header HeaderWithSize(uint32_t size) {
    Header header;
    header.set_sort(1);
    header.set_type(5);
    header.set_size(size);
    return header;
}

std::vector<char> Bytes(const std::string& text) {
    return std::vector<char>(text.begin(), text.end());
}

TEST(ProtobufReaderParse, ValidBodyParsesAndBytesBeyondSizeAreIgnored) {
    for (const ParseCase& c : ParseCases()) {
        SCOPED_TRACE(c.messageName);
        LogCapture capture;
        std::string fields;
        // Trailing bytes that would break the parse if they were read.
        const std::vector<char> content = Bytes(c.validBody + "\xFF\xFF");
        EXPECT_TRUE(c.parse(content, HeaderWithSize(uint32_t(c.validBody.size())), fields));
        EXPECT_FALSE(fields.empty());
        EXPECT_TRUE(capture.lines().empty()) << capture.dump();
    }
}

TEST(ProtobufReaderParse, HeaderWithoutBodyIsRefusedBeforeParsing) {
    for (const ParseCase& c : ParseCases()) {
        SCOPED_TRACE(c.messageName);
        LogCapture capture;
        std::string fields;
        // A whole valid body is there, but the header says there is none.
        EXPECT_FALSE(c.parse(Bytes(c.validBody), HeaderWithSize(0), fields));
        EXPECT_TRUE(capture.contains(
            Poco::Message::PRIO_WARNING,
            std::string("Failed parsing ") + c.messageName + " because header.size()==0"))
            << capture.dump();
        EXPECT_EQ(capture.lines().size(), 1u) << capture.dump();
    }
}

TEST(ProtobufReaderParse, ContentShorterThanTheHeaderSaysIsRefused) {
    for (const ParseCase& c : ParseCases()) {
        SCOPED_TRACE(c.messageName);
        LogCapture capture;
        std::string fields;
        const std::vector<char> content = Bytes(c.validBody);
        const uint32_t size = uint32_t(c.validBody.size() + 1);
        EXPECT_FALSE(c.parse(content, HeaderWithSize(size), fields));
        EXPECT_TRUE(
            capture.contains(Poco::Message::PRIO_WARNING,
                             std::string("Failed parsing ") + c.messageName +
                                 " because header.size()==" + std::to_string(size) +
                                 " and contentBuffer.size()==" + std::to_string(content.size())))
            << capture.dump();
        EXPECT_EQ(capture.lines().size(), 1u) << capture.dump();
    }
}

TEST(ProtobufReaderParse, MalformedOrIncompleteBodyFailsWithTheFunctionsOwnLine) {
    for (const ParseCase& c : ParseCases()) {
        for (const std::string& body : {std::string("\xFF\xFF\xFF"), c.incompleteBody}) {
            SCOPED_TRACE(std::string(c.messageName) + " body of " + std::to_string(body.size()) +
                         " bytes");
            LogCapture capture;
            std::string fields;
            EXPECT_FALSE(c.parse(Bytes(body), HeaderWithSize(uint32_t(body.size())), fields));
            EXPECT_TRUE(capture.contains(Poco::Message::PRIO_WARNING,
                                         std::string("Failed parsing ") + c.messageName))
                << capture.dump();
            EXPECT_EQ(capture.lines().size(), 1u) << capture.dump();
        }
    }
}

}  // namespace
}  // namespace OrvaneClient

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "tests/service/ServerTestBase.h"
#include "tests/support/LoopbackPair.h"

#include <Poco/Message.h>
#include <Poco/Timespan.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace OrvaneClient::Testing {
namespace {

namespace desktop = orvane::protocols::desktop_service;
using qovex::protocols::pb::Header;

constexpr int Info = Poco::Message::PRIO_INFORMATION;
constexpr int Warning = Poco::Message::PRIO_WARNING;
constexpr int Error = Poco::Message::PRIO_ERROR;

// A directory with non-ASCII text: its byte length differs from its character count.
const std::string Directory =
    "C:\\Games\\T\xC3\xAFtle \xC3\x9C"
    "ber";

std::string LaunchBody(const std::string& path,
                       const std::string& args,
                       const std::string& dir,
                       bool elevated) {
    desktop::LaunchElevatedRequest request;
    request.set_process_path(path);
    request.set_command_line_args(args);
    request.set_working_dir(dir);
    request.set_elevated(elevated);
    return request.SerializeAsString();
}

std::string FixBody(const std::string& directory) {
    desktop::FixDirectoryPrivilegesRequest request;
    request.set_directory(directory);
    return request.SerializeAsString();
}

// What the service must answer: nothing, or a packet of this type and code whose body (none
// when `checkBody` is empty) passes the check.
struct Answer {
    uint32_t type;
    int code;
    std::function<void(const std::string& body)> checkBody;
};

struct DispatchCase {
    const char* name;
    std::function<void(FakeOrvaneService&)> configure;
    std::string request;
    uint32_t expectedRseq;
    std::optional<Answer> answer;
    // The handler's lines for this request, in order, the "Received" line first.
    std::vector<std::pair<int, std::string>> lines;
    // Lines that must not appear at all.
    std::vector<std::string> absent;
    std::function<void(const FakeOrvaneService&)> checkService;
};

void PrintTo(const DispatchCase& dispatchCase, std::ostream* out) {
    *out << dispatchCase.name;
}

std::function<void(const std::string&)> LibraryBody(const std::string& location) {
    return [location](const std::string& body) {
        desktop::LibraryInfoResponse response;
        ASSERT_TRUE(response.ParseFromString(body));
        EXPECT_EQ(response.location(), location);
    };
}

std::function<void(const std::string&)> AuthBody(const std::string& token) {
    return [token](const std::string& body) {
        desktop::AuthInfoResponse response;
        ASSERT_TRUE(response.ParseFromString(body));
        EXPECT_EQ(response.refresh_token(), token);
    };
}

std::function<void(const std::string&)> LaunchResponseBody(uint32_t pid) {
    return [pid](const std::string& body) {
        desktop::LaunchElevatedResponse response;
        ASSERT_TRUE(response.ParseFromString(body));
        EXPECT_EQ(response.pid(), pid);
    };
}

std::vector<DispatchCase> DispatchCases() {
    const std::string location = "C:\\Program Files\\Orvane Client";
    auto setLocation = [location](FakeOrvaneService& service) {
        service.setLibraryLocation(location);
    };
    return {
        {"LibraryInfo",
         setLocation,
         RequestPacket(1, 7),
         7,
         Answer{2, 200, LibraryBody(location)},
         {{Info, "Received LibraryInfoRequest 7"}},
         {},
         // One more for the follow-up request.
         [](const FakeOrvaneService& s) { EXPECT_EQ(s.libraryLocationCalls(), 2); }},
        {"LibraryInfoWithoutOseq",
         setLocation,
         RequestPacket(1, std::nullopt),
         0,
         Answer{2, 200, LibraryBody(location)},
         {{Info, "Received LibraryInfoRequest -"}},
         {},
         nullptr},
        {"LibraryInfoBodyIgnored",
         setLocation,
         RequestPacket(1, 8, "\x0A\x03xyz"),
         8,
         Answer{2, 200, LibraryBody(location)},
         {{Info, "Received LibraryInfoRequest 8"}},
         {},
         nullptr},
        {"AuthInfoTokenFound",
         [](FakeOrvaneService& s) { s.setRefreshToken("refresh-token-1"); },
         RequestPacket(3, 3),
         3,
         Answer{4, 200, AuthBody("refresh-token-1")},
         {{Info, "Received AuthInfoRequest 3"}},
         {},
         [](const FakeOrvaneService& s) { EXPECT_EQ(s.refreshTokenCalls(), 1); }},
        {"AuthInfoEmptyToken",
         [](FakeOrvaneService& s) { s.setRefreshToken(""); },
         RequestPacket(3, 4),
         4,
         Answer{4, 200, AuthBody("")},
         {{Info, "Received AuthInfoRequest 4"}},
         {},
         nullptr},
        {"AuthInfoNoToken",
         [](FakeOrvaneService& s) { s.setRefreshToken(std::nullopt); },
         RequestPacket(3, 3),
         3,
         Answer{4, 404, nullptr},
         {{Info, "Received AuthInfoRequest 3"}},
         {},
         nullptr},
        {"LaunchStarted",
         [](FakeOrvaneService& s) { s.setLaunchResult(true, 4242); },
         RequestPacket(
             5, 11, LaunchBody("C:\\Games\\T\xC3\xAFtle\\run.exe", "-a \"b c\"", "", true)),
         11,
         Answer{6, 200, LaunchResponseBody(4242)},
         {{Info, "Received LaunchElevatedRequest 11"},
          {Info, "LaunchElevatedRequest complete: 1"},
          {Info, "LaunchElevatedRequest response sent"}},
         {},
         [](const FakeOrvaneService& s) {
             const std::vector<LaunchCall> calls = s.launchCalls();
             ASSERT_EQ(calls.size(), 1u);
             EXPECT_EQ(calls[0].processPath, "C:\\Games\\T\xC3\xAFtle\\run.exe");
             EXPECT_EQ(calls[0].commandLineArgs, "-a \"b c\"");
             EXPECT_EQ(calls[0].workingDir, "");
             EXPECT_TRUE(calls[0].elevated);
         }},
        {"LaunchNotStarted",
         [](FakeOrvaneService& s) { s.setLaunchResult(false, 0); },
         RequestPacket(5, 12, LaunchBody("C:\\x.exe", "", "C:\\", false)),
         12,
         Answer{6, 500, nullptr},
         {{Info, "Received LaunchElevatedRequest 12"},
          {Info, "LaunchElevatedRequest complete: 0"},
          {Info, "LaunchElevatedRequest response sent"}},
         {},
         [](const FakeOrvaneService& s) {
             const std::vector<LaunchCall> calls = s.launchCalls();
             ASSERT_EQ(calls.size(), 1u);
             EXPECT_EQ(calls[0].workingDir, "C:\\");
             EXPECT_FALSE(calls[0].elevated);
         }},
        {"LaunchBodyMissingField",
         [](FakeOrvaneService& s) { s.setLaunchResult(true, 1); },
         // process_path alone: the other required fields are missing.
         RequestPacket(5, 13, "\x0A\x01x"),
         13,
         std::nullopt,
         {{Info, "Received LaunchElevatedRequest 13"},
          {Warning, "Failed parsing LaunchElevatedRequest 13"}},
         {"LaunchElevatedRequest complete", "LaunchElevatedRequest response sent"},
         [](const FakeOrvaneService& s) { EXPECT_TRUE(s.launchCalls().empty()); }},
        {"FixDirectoryGranted",
         [](FakeOrvaneService& s) { s.setFixDirectoryResult(true); },
         RequestPacket(7, 21, FixBody(Directory)),
         21,
         Answer{8, 200, nullptr},
         {{Info, "Received FixDirectoryPrivilegesRequest 21"},
          {Info, "FixDirectoryPrivilegesRequest complete: 1"},
          {Info, "FixDirectoryPrivilegesRequest response sent"}},
         {},
         [](const FakeOrvaneService& s) {
             const std::vector<FixDirectoryCall> calls = s.fixDirectoryCalls();
             ASSERT_EQ(calls.size(), 1u);
             EXPECT_EQ(calls[0].directory, Directory);
             EXPECT_EQ(calls[0].length, Directory.size());
         }},
        {"FixDirectoryGrantFailed",
         [](FakeOrvaneService& s) { s.setFixDirectoryResult(false); },
         RequestPacket(7, std::nullopt, FixBody("C:\\Games")),
         0,
         Answer{8, 500, nullptr},
         {{Info, "Received FixDirectoryPrivilegesRequest -"},
          {Info, "FixDirectoryPrivilegesRequest complete: 0"},
          {Info, "FixDirectoryPrivilegesRequest response sent"}},
         {},
         nullptr},
        {"FixDirectoryBodyMalformed",
         [](FakeOrvaneService& s) { s.setFixDirectoryResult(true); },
         RequestPacket(7, 22, "\xFF\xFF\xFF"),
         22,
         std::nullopt,
         {{Info, "Received FixDirectoryPrivilegesRequest 22"},
          {Warning, "Failed parsing FixDirectoryPrivilegesRequest"}},
         {"FixDirectoryPrivilegesRequest complete", "FixDirectoryPrivilegesRequest response sent"},
         [](const FakeOrvaneService& s) { EXPECT_TRUE(s.fixDirectoryCalls().empty()); }},
    };
}

class DispatchTest : public ServerTestBase, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchTest, AnswersAndLogsAsTheRequestDemands) {
    const DispatchCase& dispatchCase = GetParam();
    dispatchCase.configure(service);
    startServer();
    auto client = connect();

    client->send(dispatchCase.request);
    if (dispatchCase.answer) {
        const std::optional<ReceivedPacket> reply = client->receive();
        ASSERT_TRUE(reply) << capture.dump();
        const Header& header = reply->header;
        EXPECT_EQ(header.sort(), 1u);
        EXPECT_EQ(header.type(), dispatchCase.answer->type);
        EXPECT_FALSE(header.has_oseq());
        ASSERT_TRUE(header.HasExtension(qovex::protocols::pb::Response::rseq));
        EXPECT_EQ(reply->rseq(), dispatchCase.expectedRseq);
        ASSERT_TRUE(header.HasExtension(qovex::protocols::pb::Response::code));
        EXPECT_EQ(reply->code(), dispatchCase.answer->code);
        if (dispatchCase.answer->checkBody) {
            EXPECT_EQ(header.size(), reply->body.size());
            dispatchCase.answer->checkBody(reply->body);
        } else {
            EXPECT_FALSE(header.has_size());
            EXPECT_TRUE(reply->body.empty());
        }
    } else {
        // A request sent before the server has read this one would land in the same receive
        // and wait there for further data.
        ASSERT_TRUE(waitForLine(dispatchCase.lines.back().first, dispatchCase.lines.back().second))
            << capture.dump();
    }
    // Also proves that an unanswered request left nothing on the wire before this answer. By
    // the time it arrives, every line of the request above has been written.
    expectNextAnswerIsFor(*client, 99);

    expectLinesInOrder(dispatchCase.lines);
    for (const std::string& text : dispatchCase.absent) {
        EXPECT_TRUE(capture.startingWith(text).empty()) << text << "\n" << capture.dump();
    }
    if (dispatchCase.checkService) {
        dispatchCase.checkService(service);
    }
    EXPECT_FALSE(capture.contains(Info, "ServiceConnectionHandler disconnecting"));
}

INSTANTIATE_TEST_SUITE_P(SummaryTable,
                         DispatchTest,
                         ::testing::ValuesIn(DispatchCases()),
                         [](const ::testing::TestParamInfo<DispatchCase>& info) {
                             return std::string(info.param.name);
                         });

class ConnectionHandlerTest : public ServerTestBase {};

TEST_F(ConnectionHandlerTest, UnknownTypesAreLoggedAndLeftUnanswered) {
    startServer();
    auto client = connect();
    for (const uint32_t type : {0u, 2u, 9u}) {
        SCOPED_TRACE("type " + std::to_string(type));
        capture.clear();
        client->send(RequestPacket(type, 40 + type));
        EXPECT_TRUE(waitForLine(Warning,
                                "Received unknown message " + std::to_string(40 + type) + " type " +
                                    std::to_string(type)))
            << capture.dump();
        expectNextAnswerIsFor(*client, 100 + type);
    }
    // Without oseq the sequence text is "-".
    capture.clear();
    client->send(RequestPacket(200, std::nullopt));
    EXPECT_TRUE(waitForLine(Warning, "Received unknown message - type 200"));
    expectNextAnswerIsFor(*client, 300);
    EXPECT_EQ(service.libraryLocationCalls(), 4);
}

TEST_F(ConnectionHandlerTest, LaunchRequestWithSizeZeroIsNotAnswered) {
    service.setLaunchResult(true, 1);
    startServer();
    auto client = connect();
    Header header;
    header.set_sort(1);
    header.set_type(desktop::LAUNCH_ELEVATED_REQUEST);
    header.set_size(0);
    header.set_oseq(5);
    client->send(FramePacket(header));
    ASSERT_TRUE(waitForLine(Warning, "Failed parsing LaunchElevatedRequest 5")) << capture.dump();
    expectNextAnswerIsFor(*client, 6);

    expectLinesInOrder({{Info, "Received LaunchElevatedRequest 5"},
                        {Warning, "Failed parsing LaunchElevatedRequest because header.size()==0"},
                        {Warning, "Failed parsing LaunchElevatedRequest 5"}});
    EXPECT_TRUE(service.launchCalls().empty());
}

TEST_F(ConnectionHandlerTest, SecondRequestOfOneReceiveWaitsForFurtherData) {
    startServer();
    auto client = connect();
    client->send(RequestPacket(1, 1) + RequestPacket(1, 2));

    std::optional<ReceivedPacket> reply = client->receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->rseq(), 1u);
    // One packet per readable notification: the second stays buffered until more bytes come.
    EXPECT_FALSE(client->readableWithin(Poco::Timespan(0, 200000)));

    client->send(RequestPacket(1, 3));
    reply = client->receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->rseq(), 2u);
    reply = client->receive(Poco::Timespan(0, 200000));
    EXPECT_FALSE(reply);
    EXPECT_EQ(service.libraryLocationCalls(), 2);
}

TEST_F(ConnectionHandlerTest, ClientClosingEndsTheHandler) {
    startServer();
    auto client = connect();
    expectNextAnswerIsFor(*client, 1);
    client->close();

    ASSERT_TRUE(waitForLine(Info, "ServiceConnectionHandler disconnecting")) << capture.dump();
    expectLinesInOrder({{Info, "ServiceServer connected"},
                        {Info, "Connection closed by remote host"},
                        {Info, "ServiceConnectionHandler disconnecting"}});

    // The server goes on serving other connections; ending this one raised nothing.
    auto another = connect();
    expectNextAnswerIsFor(*another, 2);
    EXPECT_TRUE(capture.startingWith("Socket reactor discarded").empty()) << capture.dump();
}

TEST_F(ConnectionHandlerTest, ResetConnectionEndsTheHandler) {
    startServer();
    auto client = connect();
    expectNextAnswerIsFor(*client, 1);
    ResetConnection(client->socket);
    EXPECT_TRUE(waitForLine(Info, "ServiceConnectionHandler disconnecting")) << capture.dump();
    auto another = connect();
    expectNextAnswerIsFor(*another, 2);
    EXPECT_TRUE(capture.startingWith("Socket reactor discarded").empty()) << capture.dump();
}

struct EscapedException {
    const char* name;
    FakeOrvaneService::Failure failure;
    const char* logged;
};

void PrintTo(const EscapedException& escaped, std::ostream* out) {
    *out << escaped.name;
}

class EscapedExceptionTest : public ServerTestBase,
                             public ::testing::WithParamInterface<EscapedException> {};

TEST_P(EscapedExceptionTest, IsLoggedAndTheConnectionKeepsServing) {
    startServer();
    auto client = connect();
    service.setFailure(GetParam().failure);
    client->send(RequestPacket(1, 30));
    ASSERT_TRUE(waitForLine(Error, GetParam().logged)) << capture.dump();
    EXPECT_FALSE(client->readableWithin(Poco::Timespan(0, 50000)));

    service.setFailure(FakeOrvaneService::Failure::None);
    // The failed request got no answer; the next one is answered on the same connection.
    expectNextAnswerIsFor(*client, 31);
    EXPECT_FALSE(capture.contains(Info, "ServiceConnectionHandler disconnecting"));
}

INSTANTIATE_TEST_SUITE_P(
    ServiceFailures,
    EscapedExceptionTest,
    ::testing::Values(
        EscapedException{"PocoException",
                         FakeOrvaneService::Failure::PocoException,
                         "Socket reactor discarded exception: Runtime exception: fake service "
                         "failure"},
        EscapedException{"StdException",
                         FakeOrvaneService::Failure::StdException,
                         "Socket reactor discarded exception: fake service failure"}),
    [](const ::testing::TestParamInfo<EscapedException>& info) {
        return std::string(info.param.name);
    });

}  // namespace
}  // namespace OrvaneClient::Testing

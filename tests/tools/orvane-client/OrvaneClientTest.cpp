#include "core/messaging/ProtobufReader.h"
#include "core/messaging/ProtobufSender.h"
#include "core/messaging/ServiceClient.h"
#include "tests/support/LoopbackPair.h"
#include "tools/orvane-client/ClientApplication.h"
#include "tools/orvane-client/ClientExitCode.h"

#include <Poco/Exception.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace OrvaneClient {
namespace {

namespace desktop = orvane::protocols::desktop_service;
using qovex::protocols::pb::Header;
using qovex::protocols::pb::Response;

std::optional<uint32_t> Rseq(const Header& request) {
    return request.has_oseq() ? std::optional<uint32_t>(request.oseq()) : std::nullopt;
}

// Accepts one connection on 127.0.0.1, reads one request and lets `answer` reply to it, then
// keeps the connection until the client closes it. Everything is bounded by a deadline.
class LoopbackResponder {
public:
    using Answer = std::function<void(Poco::Net::StreamSocket& socket,
                                      ProtobufSender& sender,
                                      const Header& request,
                                      const std::vector<char>& body)>;

    explicit LoopbackResponder(Answer answer) : answer(std::move(answer)) {
        listener.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true, false);
        listener.listen(1);
        thread = std::thread([this] { serve(); });
    }

    ~LoopbackResponder() { join(); }

    std::string port() const { return std::to_string(listener.address().port()); }

    // Waits for the responder to finish; the request is then readable.
    void join() {
        if (thread.joinable()) {
            thread.join();
        }
    }

    bool gotRequest = false;
    Header request;
    std::vector<char> body;

private:
    void serve() {
        const Poco::Timespan limit(5, 0);
        if (!listener.poll(limit, Poco::Net::Socket::SELECT_READ)) {
            return;
        }
        Poco::Net::StreamSocket socket = listener.acceptConnection();
        ProtobufReader reader(socket);
        ProtobufSender sender(socket);
        const Poco::Timestamp start;
        ReadResult result = ReadResult::NeedMoreData;
        while (result == ReadResult::NeedMoreData && start.elapsed() < limit.totalMicroseconds()) {
            result = reader.readWholePacket(request, body, 1);
        }
        if (result != ReadResult::PacketReady) {
            return;
        }
        gotRequest = true;
        answer(socket, sender, request, body);

        // Hold the connection until the client lets go, so a missing answer is a timeout on
        // the client's side and not a close.
        char scratch[256];
        try {
            while (start.elapsed() < limit.totalMicroseconds()) {
                if (socket.poll(Poco::Timespan(0, 100000), Poco::Net::Socket::SELECT_READ) &&
                    socket.receiveBytes(scratch, sizeof(scratch), 0) <= 0) {
                    break;
                }
            }
        } catch (const Poco::Exception&) {
            // The client is gone, or the answer closed the socket.
        }
    }

    Answer answer;
    Poco::Net::ServerSocket listener;
    std::thread thread;
};

struct ClientRun {
    int exitCode;
    std::string out;
    std::string err;
};

// The process the client takes for the service's: `servicePid` (0: the service is stopped).
ServiceClientSettings ServiceRunsAs(DWORD servicePid) {
    ServiceClientSettings settings;
    settings.serviceProcess = [servicePid](std::string& problem) {
        if (servicePid == 0) {
            problem = "the service is not running";
        }
        return servicePid;
    };
    return settings;
}

// This process as the TCP table names the owner of a connection it accepted; 0 where the table
// names no owner for such rows.
DWORD ThisProcess() {
    Poco::Net::ServerSocket listener(Poco::Net::SocketAddress("127.0.0.1", 0));
    Poco::Net::StreamSocket client(listener.address());
    const Poco::Net::StreamSocket accepted = listener.acceptConnection();
    std::string problem;
    return ServiceClient::AcceptingProcess(client, problem);
}

// By default the responder plays the service.
ClientRun RunAgainst(LoopbackResponder& responder,
                     std::vector<std::string> arguments,
                     std::optional<ServiceClientSettings> settings = std::nullopt) {
    if (!settings) {
        // What is sent and answered, not who listens (the squatter table below): unverified,
        // wherever the suite runs.
        settings = ServiceRunsAs(ThisProcess());
        arguments.insert(arguments.begin(), "--trust-any-listener");
    }
    arguments.insert(arguments.begin(), {"--port", responder.port()});
    std::ostringstream out;
    std::ostringstream err;
    const int exitCode = RunClient(arguments, out, err, *settings);
    responder.join();
    return {exitCode, out.str(), err.str()};
}

// One request type and what the client makes of each kind of answer.
struct ReplyCase {
    const char* name;
    std::vector<std::string> arguments;
    uint32_t requestType;
    LoopbackResponder::Answer answer;
    int exitCode;
    std::vector<std::string> outLines;
    std::string errText;
};

void PrintTo(const ReplyCase& replyCase, std::ostream* os) {
    *os << replyCase.name;
}

class OrvaneClientReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(OrvaneClientReplyTest, PrintsTheDecodedReplyAndExitsWithItsCode) {
    const ReplyCase& c = GetParam();
    LoopbackResponder responder(c.answer);
    const ClientRun run = RunAgainst(responder, c.arguments);

    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    ASSERT_TRUE(responder.gotRequest);
    EXPECT_EQ(responder.request.type(), c.requestType);
    EXPECT_EQ(responder.request.oseq(), 7u);
    // Who answered comes first, when anybody did (the squatter table checks what it says).
    std::string expectedOut;
    std::string out = run.out;
    if (!c.outLines.empty()) {
        EXPECT_EQ(out.rfind("answered by    ", 0), 0u) << out;
        out.erase(0, out.find('\n') + 1);
    }
    for (const std::string& line : c.outLines) {
        expectedOut += line + "\n";
    }
    EXPECT_EQ(out, expectedOut);
    if (c.errText.empty()) {
        EXPECT_EQ(run.err, "");
    } else {
        EXPECT_NE(run.err.find(c.errText), std::string::npos) << run.err;
    }
}

const ReplyCase ReplyCases[] = {
    {"LibraryInfo",
     {"--oseq", "7", "library-info"},
     desktop::LIBRARY_INFO_REQUEST,
     [](auto&, ProtobufSender& sender, const Header& request, auto&) {
         sender.sendLibraryInfoResponse(Rseq(request), "C:\\Program Files\\Orvane");
     },
     ClientExitCode::Success,
     {"reply          LIBRARY_INFO_RESPONSE (2)",
      "rseq           7",
      "code           OK (200)",
      "location       C:\\Program Files\\Orvane"},
     ""},
    {"AuthInfo",
     {"--oseq", "7", "auth-info"},
     desktop::AUTH_INFO_REQUEST,
     [](auto&, ProtobufSender& sender, const Header& request, auto&) {
         sender.sendAuthInfoResponse(Rseq(request), "eyJ0b2tlbiI6MX0");
     },
     ClientExitCode::Success,
     {"reply          AUTH_INFO_RESPONSE (4)",
      "rseq           7",
      "code           OK (200)",
      "refresh_token  eyJ0b2tlbiI6MX0"},
     ""},
    {"AuthInfoNotFound",
     {"--oseq", "7", "auth-info"},
     desktop::AUTH_INFO_REQUEST,
     [](auto&, ProtobufSender& sender, const Header& request, auto&) {
         sender.sendErrorReply(request, Response::NOT_FOUND);
     },
     ClientExitCode::ErrorReply,
     {"reply          AUTH_INFO_RESPONSE (4)",
      "rseq           7",
      "code           NOT_FOUND (404)"},
     "the service answered NOT_FOUND (404)"},
    {"Launch",
     {"--oseq", "7", "launch", "C:\\Games\\run.exe"},
     desktop::LAUNCH_ELEVATED_REQUEST,
     [](auto&, ProtobufSender& sender, const Header& request, auto&) {
         sender.sendLaunchElevatedResponse(Rseq(request), 4242);
     },
     ClientExitCode::Success,
     {"reply          LAUNCH_ELEVATED_RESPONSE (6)",
      "rseq           7",
      "code           OK (200)",
      "pid            4242"},
     ""},
    {"LaunchFailed",
     {"--oseq", "7", "launch", "C:\\Games\\run.exe"},
     desktop::LAUNCH_ELEVATED_REQUEST,
     [](auto&, ProtobufSender& sender, const Header& request, auto&) {
         sender.sendErrorReply(request, Response::INTERNAL_ERROR);
     },
     ClientExitCode::ErrorReply,
     {"reply          LAUNCH_ELEVATED_RESPONSE (6)",
      "rseq           7",
      "code           INTERNAL_ERROR (500)"},
     "the service answered INTERNAL_ERROR (500)"},
    {"FixDirectory",
     {"--oseq", "7", "fix-dir", "C:\\Games"},
     desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST,
     [](auto&, ProtobufSender& sender, const Header& request, auto&) {
         sender.sendErrorReply(request, Response::OK);
     },
     ClientExitCode::Success,
     {"reply          FIX_DIRECTORY_PRIVILEGES_RESPONSE (8)",
      "rseq           7",
      "code           OK (200)"},
     ""},
    {"CodeUnknownToTheSchemaIsNotASuccess",
     {"--oseq", "7", "library-info"},
     desktop::LIBRARY_INFO_REQUEST,
     [](auto&, ProtobufSender& sender, auto&, auto&) {
         sender.sendMessage(std::nullopt, 7u, desktop::LIBRARY_INFO_RESPONSE, "", 999u);
     },
     ClientExitCode::ErrorReply,
     {"reply          LIBRARY_INFO_RESPONSE (2)",
      "rseq           7",
      "code           unknown code (999)"},
     "the service answered unknown code (999)"},
    {"WrongType",
     {"--oseq", "7", "library-info"},
     desktop::LIBRARY_INFO_REQUEST,
     [](auto&, ProtobufSender& sender, const Header& request, auto&) {
         sender.sendAuthInfoResponse(Rseq(request), "token");
     },
     ClientExitCode::UnexpectedReplyType,
     {"reply          AUTH_INFO_RESPONSE (4)", "rseq           7", "code           OK (200)"},
     "does not answer the request; expected LIBRARY_INFO_RESPONSE (2)"},
    {"TypeOutsideTheSchema",
     {"--oseq", "7", "fix-dir", "C:\\"},
     desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST,
     [](auto&, ProtobufSender& sender, auto&, auto&) {
         sender.sendMessage(std::nullopt, 7u, 42, "", Response::OK);
     },
     ClientExitCode::UnexpectedReplyType,
     {"reply          unknown type (42)", "rseq           7", "code           OK (200)"},
     "the reply of type unknown type (42) does not answer the request"},
    {"BodyThatDoesNotParse",
     {"--oseq", "7", "launch", "C:\\run.exe"},
     desktop::LAUNCH_ELEVATED_REQUEST,
     [](auto&, ProtobufSender& sender, auto&, auto&) {
         sender.sendMessage(
             std::nullopt, 7u, desktop::LAUNCH_ELEVATED_RESPONSE, "\xFF\xFF", Response::OK);
     },
     ClientExitCode::UnparsableReply,
     {"reply          LAUNCH_ELEVATED_RESPONSE (6)", "rseq           7", "code           OK (200)"},
     "the reply's body (2 bytes) did not parse as LaunchElevatedResponse"},
    {"SuccessWithoutBody",
     {"--oseq", "7", "auth-info"},
     desktop::AUTH_INFO_REQUEST,
     [](auto&, ProtobufSender& sender, const Header& request, auto&) {
         sender.sendErrorReply(request, Response::OK);
     },
     ClientExitCode::UnparsableReply,
     {"reply          AUTH_INFO_RESPONSE (4)", "rseq           7", "code           OK (200)"},
     "the reply's body (0 bytes) did not parse as AuthInfoResponse"},
    {"HeaderThatDoesNotParse",
     {"--oseq", "7", "library-info"},
     desktop::LIBRARY_INFO_REQUEST,
     [](Poco::Net::StreamSocket& socket, auto&, auto&, auto&) {
         Testing::SendAll(socket, Testing::HexBytes("00 02 08 01"));
     },
     ClientExitCode::UnparsableReply,
     {},
     "the reply's header did not parse"},
    {"ClosedWithoutReply",
     {"--oseq", "7", "library-info"},
     desktop::LIBRARY_INFO_REQUEST,
     [](Poco::Net::StreamSocket& socket, auto&, auto&, auto&) { socket.shutdownSend(); },
     ClientExitCode::NoReplyClosed,
     {},
     "closed the connection before a whole reply arrived"},
    {"NoReplyWithinTheTimeout",
     {"--oseq", "7", "--timeout", "0.3", "library-info"},
     desktop::LIBRARY_INFO_REQUEST,
     [](auto&, auto&, auto&, auto&) {},
     ClientExitCode::NoReplyTimeout,
     {},
     "within 0.3 seconds"},
};

INSTANTIATE_TEST_SUITE_P(EachAnswer,
                         OrvaneClientReplyTest,
                         ::testing::ValuesIn(ReplyCases),
                         [](const ::testing::TestParamInfo<ReplyCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(OrvaneClient, LaunchRequestCarriesEveryField) {
    LoopbackResponder responder([](auto&, ProtobufSender& sender, const Header& request, auto&) {
        sender.sendLaunchElevatedResponse(Rseq(request), 1);
    });
    const ClientRun run = RunAgainst(responder,
                                     {"launch",
                                      "C:\\Spiele\\\xC3\x9C"
                                      "ber.exe",
                                      "--args",
                                      "-a \"b c\"",
                                      "--dir",
                                      "C:\\Spiele",
                                      "--elevated"});
    ASSERT_EQ(run.exitCode, ClientExitCode::Success) << run.err;

    desktop::LaunchElevatedRequest launch;
    ASSERT_TRUE(
        ProtobufReader::parseLaunchElevatedRequest(responder.body, responder.request, launch));
    EXPECT_EQ(launch.process_path(),
              "C:\\Spiele\\\xC3\x9C"
              "ber.exe");
    EXPECT_EQ(launch.command_line_args(), "-a \"b c\"");
    EXPECT_EQ(launch.working_dir(), "C:\\Spiele");
    EXPECT_TRUE(launch.elevated());
    EXPECT_EQ(responder.request.oseq(), 1u);
}

TEST(OrvaneClient, FixDirectoryRequestCarriesTheDirectory) {
    LoopbackResponder responder([](auto&, ProtobufSender& sender, const Header& request, auto&) {
        sender.sendErrorReply(request, Response::OK);
    });
    const ClientRun run = RunAgainst(responder, {"fix-dir", "D:\\Games\\Title"});
    ASSERT_EQ(run.exitCode, ClientExitCode::Success) << run.err;

    desktop::FixDirectoryPrivilegesRequest directory;
    ASSERT_TRUE(ProtobufReader::parseFixDirectoryPrivilegesRequest(
        responder.body, responder.request, directory));
    EXPECT_EQ(directory.directory(), "D:\\Games\\Title");
}

TEST(OrvaneClient, ReplyToAnotherSequenceNumberIsNotedButAccepted) {
    LoopbackResponder responder([](auto&, ProtobufSender& sender, auto&, auto&) {
        sender.sendLibraryInfoResponse(99u, "C:\\");
    });
    const ClientRun run = RunAgainst(responder, {"--oseq", "5", "library-info"});
    EXPECT_EQ(run.exitCode, ClientExitCode::Success);
    EXPECT_NE(run.err.find("note: the reply's rseq 99 differs from the request's oseq 5"),
              std::string::npos)
        << run.err;
}

TEST(OrvaneClient, RefusedConnectionIsAConnectionFailure) {
    // A port that was just free: listen, note it, close.
    std::string port;
    {
        Poco::Net::ServerSocket probe;
        probe.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true, false);
        port = std::to_string(probe.address().port());
    }
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunClient({"--port", port, "--timeout", "2", "--no-start", "auth-info"}, out, err),
              ClientExitCode::ConnectionFailed);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("orvane-client: cannot connect to 127.0.0.1:" + port + ": "),
              std::string::npos)
        << err.str();
}

// A listener that is not the service's process: it gets nothing but library-info.
struct SquatterCase {
    const char* name;
    std::vector<std::string> arguments;
    bool serviceRunning;  // as another process; else stopped
    int exitCode;
    std::string errText;
};

class OrvaneClientSquatterTest : public ::testing::TestWithParam<SquatterCase> {};

TEST_P(OrvaneClientSquatterTest, SendsOnlyWhatAnyoneMayAnswer) {
    const SquatterCase& c = GetParam();
    LoopbackResponder squatter([](auto&, ProtobufSender& sender, const Header& request, auto&) {
        sender.sendLibraryInfoResponse(Rseq(request), "C:\\Squatter");
    });
    const DWORD self = ThisProcess();
    if (self == 0) {
        GTEST_SKIP() << "the TCP table names no owner for accepted connections here";
    }
    const DWORD servicePid = c.serviceRunning ? self + 4 : 0;
    // Refused, the client closes its connection without sending anything.
    const ClientRun attempt = RunAgainst(squatter, c.arguments, ServiceRunsAs(servicePid));
    EXPECT_EQ(attempt.exitCode, c.exitCode) << attempt.out << attempt.err;
    EXPECT_EQ(squatter.gotRequest, c.exitCode != ClientExitCode::NotTheService);
    EXPECT_NE(attempt.err.find(c.errText), std::string::npos) << attempt.err;
    const std::string who =
        "pid " + std::to_string(self) +
        (servicePid == 0 ? ", not verified as the service"
                         : ", not the service (pid " + std::to_string(servicePid) + ")");
    const std::string printed = attempt.out + attempt.err;
    // Where the table names an owner only at times (Wine), it may be unknown.
    EXPECT_TRUE(printed.find(who) != std::string::npos ||
                printed.find("an unknown process, not") != std::string::npos)
        << printed;
}

const SquatterCase SquatterCases[] = {
    {"AuthInfoWhileStopped",
     {"auth-info"},
     false,
     ClientExitCode::NotTheService,
     "orvane-client: refused to send auth-info to 127.0.0.1:"},
    {"LaunchToAnotherProcess",
     {"launch", "C:\\Windows\\notepad.exe"},
     true,
     ClientExitCode::NotTheService,
     "refused to send launch"},
    {"FixDirToAnotherProcess",
     {"fix-dir", "C:\\Games"},
     true,
     ClientExitCode::NotTheService,
     "refused to send fix-dir"},
    {"LibraryInfoIsAnsweredAndTheListenerNamed",
     {"library-info"},
     true,
     ClientExitCode::Success,
     ""},
    // The squatter answers library-info whatever it is asked.
    {"TrustingAnyListenerSendsAnyway",
     {"--trust-any-listener", "auth-info"},
     false,
     ClientExitCode::UnexpectedReplyType,
     "does not answer the request"},
};

INSTANTIATE_TEST_SUITE_P(EachRequest,
                         OrvaneClientSquatterTest,
                         ::testing::ValuesIn(SquatterCases),
                         [](const ::testing::TestParamInfo<SquatterCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(OrvaneClient, RefusedConnectionStartsTheServiceOrSaysWhyNot) {
    std::string port;
    {
        Poco::Net::ServerSocket probe;
        probe.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true, false);
        port = std::to_string(probe.address().port());
    }
    // A service no machine has: the start fails at the SCM, wherever the suite runs.
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(
        RunClient({"--port", port, "--service", "Orvane Test Service Never Installed", "auth-info"},
                  out,
                  err),
        ClientExitCode::ServiceNotStarted);
    EXPECT_NE(err.str().find("orvane-client: nothing listens on 127.0.0.1:" + port +
                             " and the service could not be started: "),
              std::string::npos)
        << err.str();
}

TEST(OrvaneClient, UsageErrorsAndHelp) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunClient({"launch"}, out, err), ClientExitCode::Usage);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(),
              "orvane-client: command launch needs exactly one operand\n"
              "Usage: orvane-client [options] <command> [operand]\n"
              "orvane-client: --help lists the commands\n");

    std::ostringstream helpOut;
    std::ostringstream helpErr;
    EXPECT_EQ(RunClient({"--help"}, helpOut, helpErr), ClientExitCode::Success);
    EXPECT_EQ(helpErr.str(), "");
    // Every exit code is documented.
    for (int code = ClientExitCode::Success; code <= ClientExitCode::ServiceNotStarted; ++code) {
        SCOPED_TRACE(code);
        EXPECT_NE(helpOut.str().find("\n  " + std::to_string(code) + "  "), std::string::npos);
    }
}

}  // namespace
}  // namespace OrvaneClient

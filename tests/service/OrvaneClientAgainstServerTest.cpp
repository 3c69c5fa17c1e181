#include "tests/service/ServerTestBase.h"
#include "tools/orvane-client/ClientApplication.h"
#include "tools/orvane-client/ClientExitCode.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace OrvaneClient::Testing {
namespace {

// The client's printed reply as label -> value ("rseq" -> "5").
std::map<std::string, std::string> PrintedFields(const std::string& printed) {
    std::map<std::string, std::string> fields;
    std::istringstream lines(printed);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t labelEnd = line.find(' ');
        const size_t valueStart = line.find_first_not_of(' ', labelEnd);
        if (labelEnd != std::string::npos && valueStart != std::string::npos) {
            fields[line.substr(0, labelEnd)] = line.substr(valueStart);
        }
    }
    return fields;
}

struct ClientCase {
    const char* name;
    std::function<void(FakeOrvaneService&)> configure;
    std::vector<std::string> arguments;
    int exitCode;
    std::map<std::string, std::string> printed;
    std::function<void(const FakeOrvaneService&)> checkService;
};

void PrintTo(const ClientCase& clientCase, std::ostream* out) {
    *out << clientCase.name;
}

class OrvaneClientAgainstServerTest : public ServerTestBase,
                                      public ::testing::WithParamInterface<ClientCase> {};

TEST_P(OrvaneClientAgainstServerTest, PrintsTheServedReply) {
    const ClientCase& clientCase = GetParam();
    clientCase.configure(service);
    startServer();

    std::vector<std::string> arguments = clientCase.arguments;
    // What the server answers, not who listens.
    arguments.insert(
        arguments.end(),
        {"--host", "127.0.0.1", "--port", std::to_string(server->port()), "--trust-any-listener"});
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunClient(arguments, out, err), clientCase.exitCode) << err.str();

    const std::map<std::string, std::string> printed = PrintedFields(out.str());
    for (const auto& [label, value] : clientCase.printed) {
        const auto field = printed.find(label);
        ASSERT_NE(field, printed.end()) << label << " not printed:\n" << out.str();
        EXPECT_EQ(field->second, value) << label;
    }
    if (clientCase.checkService) {
        clientCase.checkService(service);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachRequestType,
    OrvaneClientAgainstServerTest,
    ::testing::Values(
        ClientCase{"LibraryInfo",
                   [](FakeOrvaneService& s) { s.setLibraryLocation("C:\\Program Files\\Orvane"); },
                   {"library-info", "--oseq", "5"},
                   ClientExitCode::Success,
                   {{"reply", "LIBRARY_INFO_RESPONSE (2)"},
                    {"rseq", "5"},
                    {"code", "OK (200)"},
                    {"location", "C:\\Program Files\\Orvane"}},
                   nullptr},
        ClientCase{"AuthInfo",
                   [](FakeOrvaneService& s) { s.setRefreshToken("token-42"); },
                   {"auth-info", "--oseq", "6"},
                   ClientExitCode::Success,
                   {{"reply", "AUTH_INFO_RESPONSE (4)"},
                    {"rseq", "6"},
                    {"code", "OK (200)"},
                    {"refresh_token", "token-42"}},
                   nullptr},
        ClientCase{"AuthInfoNotFound",
                   [](FakeOrvaneService& s) { s.setRefreshToken(std::nullopt); },
                   {"auth-info"},
                   ClientExitCode::ErrorReply,
                   {{"reply", "AUTH_INFO_RESPONSE (4)"}, {"code", "NOT_FOUND (404)"}},
                   nullptr},
        ClientCase{"Launch",
                   [](FakeOrvaneService& s) { s.setLaunchResult(true, 4242); },
                   {"launch",
                    "C:\\Games\\run.exe",
                    "--args",
                    "-x 1",
                    "--dir",
                    "C:\\Games",
                    "--elevated",
                    "--oseq",
                    "7"},
                   ClientExitCode::Success,
                   {{"reply", "LAUNCH_ELEVATED_RESPONSE (6)"},
                    {"rseq", "7"},
                    {"code", "OK (200)"},
                    {"pid", "4242"}},
                   [](const FakeOrvaneService& s) {
                       const std::vector<LaunchCall> calls = s.launchCalls();
                       ASSERT_EQ(calls.size(), 1u);
                       EXPECT_EQ(calls[0].processPath, "C:\\Games\\run.exe");
                       EXPECT_EQ(calls[0].commandLineArgs, "-x 1");
                       EXPECT_EQ(calls[0].workingDir, "C:\\Games");
                       EXPECT_TRUE(calls[0].elevated);
                   }},
        ClientCase{"LaunchFailed",
                   [](FakeOrvaneService& s) { s.setLaunchResult(false, 0); },
                   {"launch", "C:\\Games\\run.exe"},
                   ClientExitCode::ErrorReply,
                   {{"reply", "LAUNCH_ELEVATED_RESPONSE (6)"}, {"code", "INTERNAL_ERROR (500)"}},
                   [](const FakeOrvaneService& s) {
                       ASSERT_EQ(s.launchCalls().size(), 1u);
                       EXPECT_FALSE(s.launchCalls()[0].elevated);
                   }},
        ClientCase{"FixDirectory",
                   [](FakeOrvaneService& s) { s.setFixDirectoryResult(true); },
                   {"fix-dir", "C:\\Games\\Title", "--oseq", "8"},
                   ClientExitCode::Success,
                   {{"reply", "FIX_DIRECTORY_PRIVILEGES_RESPONSE (8)"},
                    {"rseq", "8"},
                    {"code", "OK (200)"}},
                   [](const FakeOrvaneService& s) {
                       ASSERT_EQ(s.fixDirectoryCalls().size(), 1u);
                       EXPECT_EQ(s.fixDirectoryCalls()[0].directory, "C:\\Games\\Title");
                   }},
        ClientCase{
            "FixDirectoryFailed",
            [](FakeOrvaneService& s) { s.setFixDirectoryResult(false); },
            {"fix-dir", "C:\\Games\\Title"},
            ClientExitCode::ErrorReply,
            {{"reply", "FIX_DIRECTORY_PRIVILEGES_RESPONSE (8)"}, {"code", "INTERNAL_ERROR (500)"}},
            nullptr}),
    [](const ::testing::TestParamInfo<ClientCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace OrvaneClient::Testing

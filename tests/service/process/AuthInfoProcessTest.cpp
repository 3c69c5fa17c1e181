// auth-info through the real executable under orvane-sc: the console user's stored refresh token
// reaches the client, and never the log.

#include "tests/service/process/ProcessTestPaths.h"
#include "tests/support/OrvaneScSession.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/TemporaryFile.h>
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

namespace OrvaneClient {
namespace {

using namespace std::chrono_literals;
using Testing::ClientExitErrorReply;
using Testing::ClientPath;
using Testing::OrvaneScSession;
using Testing::ServicePath;

// The token the built-in profile stores for the console user.
const std::string StoredToken = "rt1.Zk3pQ8vN2wLx7Ty5Rb0Hc4Md6Fs9Ja1Ge";

std::string WriteProfile(Poco::TemporaryFile& file, const std::string& json) {
    Poco::FileOutputStream(file.path()) << json;
    return file.path();
}

OrvaneScSession::CommandResult AskForAuthInfo(const OrvaneScSession& session) {
    return OrvaneScSession::runProgram({ClientPath, "auth-info", "--port", "9977", "--oseq", "11"},
                                       Testing::ClientEnvironment(session.root()),
                                       20s);
}

void StopService(OrvaneScSession& session) {
    EXPECT_EQ(session.command({"stop"}).exitCode, 0);
    EXPECT_EQ(session.waitForExit(20s), 0);
}

TEST(AuthInfoProcessTest, TheConsoleUsersTokenReachesTheClientAndNoLog) {
    OrvaneScSession session(ServicePath);
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();

    const auto reply = AskForAuthInfo(session);
    EXPECT_EQ(reply.exitCode, 0) << reply.output << reply.errorOutput;
    EXPECT_NE(reply.output.find(StoredToken), std::string::npos) << reply.output;
    StopService(session);

    const std::string log = OrvaneScSession::readServiceLog(session.root());
    EXPECT_NE(log.find("[Information]: Received AuthInfoRequest 11\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[Information]: Found refresh token [redacted, 37 characters]\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(StoredToken), std::string::npos);
    EXPECT_EQ(session.errorOutput().find(StoredToken), std::string::npos) << "console channel";
    for (const std::string& line : session.lines()) {
        EXPECT_EQ(line.find(StoredToken), std::string::npos) << line;
    }
}

TEST(AuthInfoProcessTest, NoShellAtTheConsoleIsAnsweredNotFound) {
    Poco::TemporaryFile profileFile;
    const std::string profile = WriteProfile(profileFile, R"({ "processes": { "2412": null } })");
    OrvaneScSession session(ServicePath, {}, profile);
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();

    const auto reply = AskForAuthInfo(session);
    EXPECT_EQ(reply.exitCode, ClientExitErrorReply) << reply.output << reply.errorOutput;
    EXPECT_NE(reply.output.find("404"), std::string::npos) << reply.output;
    StopService(session);

    const std::string log = OrvaneScSession::readServiceLog(session.root());
    EXPECT_NE(log.find("[Warning]: GetCurrentUserSID() failed\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace OrvaneClient

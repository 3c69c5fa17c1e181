// Caller verification through the real executable under orvane-sc: on a machine where the
// process that connects is another person's, auth-info is refused.

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

// The desktop client of another user, signed in at a second session, makes every connection.
const char* const OtherUsersClientProfile = R"({
    "accounts": { "S-1-5-21-2254011875-3712098642-1289462413-1002": {
        "name": "Guest", "domain": "GAMING-PC" } },
    "sessions": { "2": { "user": "S-1-5-21-2254011875-3712098642-1289462413-1002" } },
    "processes": { "6400": { "name": "OrvaneClient.exe", "session": 2,
                             "user": "S-1-5-21-2254011875-3712098642-1289462413-1002" } },
    "defaultCaller": 6400
})";

TEST(CallerProcessTest, AnotherUsersClientIsRefusedAuthInfo) {
    Poco::TemporaryFile profileFile;
    Poco::FileOutputStream(profileFile.path()) << OtherUsersClientProfile;
    OrvaneScSession session(ServicePath, {}, profileFile.path());
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();

    const auto reply =
        OrvaneScSession::runProgram({ClientPath, "auth-info", "--port", "9977", "--oseq", "12"},
                                    Testing::ClientEnvironment(session.root()),
                                    20s);
    EXPECT_EQ(reply.exitCode, ClientExitErrorReply) << reply.output << reply.errorOutput;
    EXPECT_NE(reply.output.find("403"), std::string::npos) << reply.output;
    EXPECT_EQ(reply.output.find("rt1."), std::string::npos) << reply.output;
    EXPECT_EQ(session.command({"stop"}).exitCode, 0);
    EXPECT_EQ(session.waitForExit(20s), 0);

    const std::string log = OrvaneScSession::readServiceLog(session.root());
    EXPECT_NE(log.find("[Warning]: Refused AuthInfoRequest 12 from process 6400: other session "
                       "(2, console session 1)\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[Information]: Redirection trust mitigation is on\n"), std::string::npos)
        << log;
}

}  // namespace
}  // namespace OrvaneClient

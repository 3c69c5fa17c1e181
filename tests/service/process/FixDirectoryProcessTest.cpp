// fix-dir through the real executable under orvane-sc on the built-in machine: a game folder is
// granted, the Windows directory refused, a standard user's junction not crossed.

#include "tests/service/process/ProcessTestPaths.h"
#include "tests/support/OrvaneScSession.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Format.h>
#include <Poco/TemporaryFile.h>
#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

using namespace std::chrono_literals;
using Testing::ClientExitErrorReply;
using Testing::ClientPath;
using Testing::OrvaneScSession;
using Testing::ServicePath;

OrvaneScSession::CommandResult FixDirectory(const OrvaneScSession& session,
                                            const std::string& directory) {
    return OrvaneScSession::runProgram(
        {ClientPath, "fix-dir", directory, "--port", "9977", "--oseq", "21"},
        Testing::ClientEnvironment(session.root()),
        20s);
}

// fix-dir of `directory` answered 500; the service's log once it has stopped.
std::string RefusedThenStopped(OrvaneScSession& session, const std::string& directory) {
    const auto refused = FixDirectory(session, directory);
    EXPECT_EQ(refused.exitCode, ClientExitErrorReply) << refused.output << refused.errorOutput;
    EXPECT_NE(refused.output.find("500"), std::string::npos) << refused.output;
    EXPECT_EQ(session.command({"stop"}).exitCode, 0);
    EXPECT_EQ(session.waitForExit(20s), 0);
    return OrvaneScSession::readServiceLog(session.root());
}

void ExpectLogged(const std::string& log, std::initializer_list<const char*> lines) {
    for (const char* line : lines) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

TEST(FixDirectoryProcessTest, AGameFolderIsGrantedAndTheWindowsDirectoryRefused) {
    OrvaneScSession session(ServicePath);
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();
    Poco::File(session.root() + "/C/Games/Mine").createDirectories();

    const auto granted = FixDirectory(session, "C:\\Games\\Mine");
    EXPECT_EQ(granted.exitCode, 0) << granted.output << granted.errorOutput;
    EXPECT_NE(granted.output.find("200"), std::string::npos) << granted.output;

    // orvane-sc shows each entry granted: the folder's and both keys', named as the service
    // opened them (in its own, 32-bit view).
    std::vector<std::string> events;
    std::optional<std::string> line;
    while (events.size() < 3 && (line = session.readLine(10s))) {
        if (line->rfind("event acl ", 0) == 0) {
            events.push_back(*line);
        }
    }
    const std::string grant = " trustee=GAMING-PC\\Player access=0x%s type=allow inheritance=CI|OI";
    EXPECT_EQ(events,
              (std::vector<std::string>{
                  "event acl object=C:\\Games\\Mine" + Poco::format(grant, std::string("001F01FF")),
                  "event acl object=HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\Games" +
                      Poco::format(grant, std::string("000F003F")),
                  "event acl object=HKEY_LOCAL_MACHINE\\SOFTWARE\\Qovex\\OrvaneClient" +
                      Poco::format(grant, std::string("000F003F"))}));

    const std::string log = RefusedThenStopped(session, "C:\\Windows");
    ExpectLogged(
        log,
        {
            "[Information]: Setting directory permissions for C:\\Games\\Mine OK\n",
            "[Information]: Setting registry permissions for games OK\n",
            "[Information]: Setting registry permissions for client OK\n",
            "[Warning]: Refusing to grant full control of C:\\Windows: the Windows directory or "
            "a folder inside it\n",
            "[Warning]: Setting directory permissions for C:\\Windows FAILED\n",
        });
}

TEST(FixDirectoryProcessTest, OnAMachineWithAJunctionTheGrantThroughItIsRefused) {
    Poco::TemporaryFile profile;
    Poco::FileOutputStream(profile.path())
        << R"({ "reparsePoints": { "C:\\Games\\New\\Link": { "target": "C:\\Windows" } } })";
    OrvaneScSession session(ServicePath, {}, profile.path());
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();
    Poco::File(session.root() + "/C/Windows/Temp").createDirectories();

    // Under a folder the host does not hold, so that only the open finds the junction.
    const std::string log = RefusedThenStopped(session, "C:\\Games\\New\\Link\\Temp");
    // The rules see where the folder opened really is.
    const char* const line =
        "[Warning]: Refusing to grant full control of C:\\Games\\New\\Link\\Temp: the Windows "
        "directory or a folder inside it\n";
    EXPECT_NE(log.find(line), std::string::npos) << log;
}

TEST(FixDirectoryProcessTest, AStandardUsersJunctionIsNotCrossedWithTheMitigationOn) {
    Poco::TemporaryFile profile;
    Poco::FileOutputStream(profile.path()) << R"({ "reparsePoints": { "C:\\Games\\New\\Link": {
        "target": "C:\\Windows", "byAdministrator": false } } })";
    OrvaneScSession session(ServicePath, {}, profile.path());
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();
    Poco::File(session.root() + "/C/Windows/Temp").createDirectories();

    const std::string log = RefusedThenStopped(session, "C:\\Games\\New\\Link\\Temp");
    // The open stops at the junction (ERROR_UNTRUSTED_MOUNT_POINT): the folder behind it is
    // never reached.
    ExpectLogged(
        log,
        {
            "[Information]: Redirection trust mitigation is on\n",
            "[Error]: GetNamedSecurityInfo for obj name C:\\Games\\New\\Link\\Temp Error 448\n",
        });
}

}  // namespace
}  // namespace OrvaneClient

// launch through the real executable under orvane-sc: the program starts on the emulated machine,
// the client gets its process id, and orvane-sc shows the launch.

#include "tests/service/process/ProcessTestPaths.h"
#include "tests/support/OrvaneScSession.h"

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

// The value printed after `label` on a line of orvane-client's output, or empty.
std::string FieldOf(const std::string& output, const std::string& label) {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string value;
        if (fields >> name >> value && name == label) {
            return value;
        }
    }
    return std::string();
}

void StopService(OrvaneScSession& session) {
    EXPECT_EQ(session.command({"stop"}).exitCode, 0);
    EXPECT_EQ(session.waitForExit(20s), 0);
}

TEST(LaunchProcessTest, NotepadStartsInTheConsoleUsersDesktopAndOrvaneScShowsIt) {
    OrvaneScSession session(ServicePath);
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();

    const auto reply = OrvaneScSession::runProgram(
        {ClientPath, "launch", "C:\\Windows\\notepad.exe", "--args", "notepad.exe"},
        Testing::ClientEnvironment(session.root()),
        20s);
    EXPECT_EQ(reply.exitCode, 0) << reply.output << reply.errorOutput;
    const std::string pid = FieldOf(reply.output, "pid");
    ASSERT_FALSE(pid.empty()) << reply.output;
    EXPECT_NE(pid, "0");

    std::optional<std::string> line;
    while ((line = session.readLine(10s)) && line->rfind("event launch ", 0) != 0) {
    }
    ASSERT_TRUE(line.has_value()) << session.errorOutput();
    EXPECT_EQ(*line,
              "event launch user=GAMING-PC\\Player elevated=no session=1 "
              "application=C:\\Windows\\notepad.exe command=notepad.exe "
              "directory=C:\\Windows\\ pid=" +
                  pid);
    StopService(session);
}

TEST(LaunchProcessTest, AnUnparsablePathIsAnsweredAtOnceWithAnError) {
    OrvaneScSession session(ServicePath);
    ASSERT_TRUE(session.waitForStatus("RUNNING", 20s).has_value()) << session.errorOutput();

    const auto started = std::chrono::steady_clock::now();
    const auto reply = OrvaneScSession::runProgram(
        {ClientPath, "launch", "C:foo", "--args", "foo", "--timeout", "10"},
        Testing::ClientEnvironment(session.root()),
        20s);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(reply.exitCode, ClientExitErrorReply) << reply.output << reply.errorOutput;
    EXPECT_NE(reply.output.find("500"), std::string::npos) << reply.output;
    StopService(session);
    for (const std::string& printed : session.lines()) {
        EXPECT_EQ(printed.rfind("event launch ", 0), std::string::npos) << printed;
    }
}

}  // namespace
}  // namespace OrvaneClient

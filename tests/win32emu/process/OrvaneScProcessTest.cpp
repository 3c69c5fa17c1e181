// orvane-sc as a person or a script uses it, with a small service executable of our own.

#include "tests/support/OrvaneScSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <signal.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using OrvaneClient::Testing::OrvaneScSession;

const std::string kFakeService = FAKE_SERVICE_PATH;
const std::string kOrvaneSc = ORVANE_SC_PATH;

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The states of the status lines printed so far, in order.
std::vector<std::string> statesOf(const std::vector<std::string>& lines) {
    std::vector<std::string> states;
    for (const std::string& line : lines) {
        if (const auto status = OrvaneScSession::parseStatus(line)) {
            states.push_back(status->state);
        }
    }
    return states;
}

// A process that has ended is gone, or a zombie nobody has reaped yet.
bool processEnded(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, name, state;
    return !(stat >> pidField >> name >> state) || state == "Z";
}

pid_t servicePid(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        const size_t at = line.find(" pid=");
        if (line.rfind("start ", 0) == 0 && at != std::string::npos) {
            return static_cast<pid_t>(std::stoi(line.substr(at + 5)));
        }
    }
    return -1;
}

TEST(OrvaneScProcessTest, SigtermStopsTheServiceAndItsExitCodeIsPassedOn) {
    OrvaneScSession sc(kFakeService, {"FAKE_SERVICE_EXIT_CODE=5"}, "", kOrvaneSc);
    const auto running = sc.waitForStatus("RUNNING", 10s);
    ASSERT_TRUE(running) << sc.errorOutput();
    EXPECT_EQ(4u, running->stateCode);
    EXPECT_EQ(1u, running->accepted);
    EXPECT_TRUE(exists(sc.root() + "/scm.sock"));

    sc.signal(SIGTERM);
    ASSERT_EQ(std::optional<int>(5), sc.waitForExit(10s)) << sc.errorOutput();
    const std::vector<std::string>& lines = sc.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ("drive C: path=" + sc.root() + "/C", lines[0]);
    EXPECT_EQ(0u, lines[1].rfind("start exe=" + kFakeService + " pid=", 0)) << lines[1];
    EXPECT_EQ("connect service=\"Fake Service\"", lines[2]);
    const std::vector<std::string> expected = {
        "START_PENDING", "RUNNING", "STOP_PENDING", "STOPPED"};
    EXPECT_EQ(expected, statesOf(lines));
    EXPECT_NE(lines.end(),
              std::find(lines.begin(), lines.end(), "control code=STOP(1) from=SIGTERM"));
    EXPECT_EQ("exit code=5", lines.back());
    EXPECT_FALSE(exists(sc.root() + "/scm.sock"));
}

TEST(OrvaneScProcessTest, StopAndInterrogateComeFromAnotherProcess) {
    OrvaneScSession sc(kFakeService, {}, "", kOrvaneSc);
    ASSERT_TRUE(sc.waitForStatus("RUNNING", 10s)) << sc.errorOutput();

    const auto interrogated = sc.command({"interrogate"});
    EXPECT_EQ(0, interrogated.exitCode) << interrogated.errorOutput;
    const auto reported =
        OrvaneScSession::parseStatus(interrogated.output.substr(0, interrogated.output.find('\n')));
    ASSERT_TRUE(reported) << interrogated.output;
    EXPECT_EQ("RUNNING", reported->state);

    // A second SCM under the same root is refused, and the first goes on.
    const auto second = sc.command({"run", "--exe", kFakeService});
    EXPECT_EQ(1, second.exitCode);
    EXPECT_TRUE(contains(second.errorOutput, "already running")) << second.errorOutput;

    const auto stopped = sc.command({"stop"});
    EXPECT_EQ(0, stopped.exitCode) << stopped.errorOutput;
    // The status after the handler returned: stopping, or already stopped by then.
    const auto afterStop =
        OrvaneScSession::parseStatus(stopped.output.substr(0, stopped.output.find('\n')));
    ASSERT_TRUE(afterStop) << stopped.output;
    EXPECT_TRUE(afterStop->state == "STOP_PENDING" || afterStop->state == "STOPPED")
        << stopped.output;
    ASSERT_EQ(std::optional<int>(0), sc.waitForExit(10s)) << sc.errorOutput();
    const std::vector<std::string> expected = {
        "START_PENDING", "RUNNING", "RUNNING", "STOP_PENDING", "STOPPED"};
    EXPECT_EQ(expected, statesOf(sc.lines()));
    EXPECT_FALSE(exists(sc.root() + "/scm.sock"));

    const auto tooLate = sc.command({"stop"});
    EXPECT_EQ(1, tooLate.exitCode);
    EXPECT_TRUE(contains(tooLate.errorOutput, "no service is running")) << tooLate.errorOutput;
}

TEST(OrvaneScProcessTest, AStopWhileStartingWaitsUntilTheServiceAcceptsIt) {
    OrvaneScSession sc(kFakeService, {"FAKE_SERVICE_START_MS=2000"}, "", kOrvaneSc);
    ASSERT_TRUE(sc.waitForStatus("START_PENDING", 10s)) << sc.errorOutput();
    const auto refused = sc.command({"stop"});
    EXPECT_EQ(1, refused.exitCode);
    EXPECT_TRUE(contains(refused.errorOutput, "1061")) << refused.errorOutput;

    sc.signal(SIGINT);
    EXPECT_TRUE(sc.waitForErrorOutput("does not accept STOP now", 10s)) << sc.errorOutput();
    ASSERT_EQ(std::optional<int>(0), sc.waitForExit(10s)) << sc.errorOutput();
    const std::vector<std::string> expected = {
        "START_PENDING", "RUNNING", "STOP_PENDING", "STOPPED"};
    EXPECT_EQ(expected, statesOf(sc.lines()));
}

TEST(OrvaneScProcessTest, AServiceThatEndsWithoutStoppingIsReported) {
    OrvaneScSession sc(kFakeService, {"FAKE_SERVICE_CRASH_ON_STOP=1"}, "", kOrvaneSc);
    ASSERT_TRUE(sc.waitForStatus("RUNNING", 10s)) << sc.errorOutput();
    sc.signal(SIGTERM);
    EXPECT_EQ(std::optional<int>(7), sc.waitForExit(10s));
    EXPECT_TRUE(contains(sc.errorOutput(), "exited with code 7 without reporting SERVICE_STOPPED"))
        << sc.errorOutput();
    EXPECT_EQ("exit code=7", sc.lines().back());
}

TEST(OrvaneScProcessTest, ASecondSignalTerminatesAServiceThatDoesNotStop) {
    OrvaneScSession sc(kFakeService, {"FAKE_SERVICE_START_MS=30000"}, "", kOrvaneSc);
    ASSERT_TRUE(sc.waitForStatus("START_PENDING", 10s)) << sc.errorOutput();
    const pid_t service = servicePid(sc.lines());
    ASSERT_GT(service, 0);
    sc.signal(SIGTERM);
    // The first is deferred (the service does not accept STOP yet); the second ends it.
    ASSERT_TRUE(sc.waitForErrorOutput("does not accept STOP now", 10s)) << sc.errorOutput();
    sc.signal(SIGTERM);
    EXPECT_EQ(std::optional<int>(128 + SIGKILL), sc.waitForExit(10s)) << sc.errorOutput();
    EXPECT_TRUE(processEnded(service));
    EXPECT_EQ("exit signal=9", sc.lines().back());
}

TEST(OrvaneScProcessTest, AServiceDoesNotOutliveItsScm) {
    OrvaneScSession sc(kFakeService, {}, "", kOrvaneSc);
    ASSERT_TRUE(sc.waitForStatus("RUNNING", 10s)) << sc.errorOutput();
    const pid_t service = servicePid(sc.lines());
    ASSERT_GT(service, 0);
    sc.signal(SIGKILL);
    ASSERT_TRUE(sc.waitForExit(10s));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!processEnded(service) && std::chrono::steady_clock::now() < deadline) {
        sc.readLine(20ms);
    }
    EXPECT_TRUE(processEnded(service));
}

TEST(OrvaneScProcessTest, MachineEventsOfTheServiceArePrinted) {
    OrvaneScSession sc(kFakeService, {"FAKE_SERVICE_EVENT=1"}, "", kOrvaneSc);
    ASSERT_TRUE(sc.waitForStatus("RUNNING", 10s)) << sc.errorOutput();
    std::optional<std::string> line;
    while ((line = sc.readLine(5s)) && line->rfind("event ", 0) != 0) {
    }
    EXPECT_EQ(std::optional<std::string>(
                  R"(event launch application="C:\Program Files\Game\run.exe" pid=4108)"),
              line);
    sc.signal(SIGTERM);
    EXPECT_EQ(std::optional<int>(0), sc.waitForExit(10s));
}

// A machine profile in a file removed however the test ends.
struct ProfileFile {
    char path[32] = "/tmp/orvane-sc-profile-XXXXXX";
    explicit ProfileFile(const std::string& json) {
        const int fd = mkstemp(path);
        if (fd >= 0) {
            close(fd);
            std::ofstream(path) << json << "\n";
        }
    }
    ~ProfileFile() { unlink(path); }
};

TEST(OrvaneScProcessTest, TheServiceGetsTheRootAndTheProfile) {
    // The built-in machine, unchanged.
    const ProfileFile profile("{}");
    {
        OrvaneScSession sc(kFakeService, {}, profile.path, kOrvaneSc);
        ASSERT_TRUE(sc.waitForStatus("RUNNING", 10s)) << sc.errorOutput();
        EXPECT_TRUE(
            sc.waitForErrorOutput("WIN32EMU_PROFILE=" + std::string(profile.path) + "\n", 5s))
            << sc.errorOutput();
        EXPECT_TRUE(sc.waitForErrorOutput("WIN32EMU_ROOT=" + sc.root() + "\n", 5s))
            << sc.errorOutput();
        sc.signal(SIGTERM);
        EXPECT_EQ(std::optional<int>(0), sc.waitForExit(10s));
    }
    OrvaneScSession missing(kFakeService, {}, "/nonexistent/profile.json", kOrvaneSc);
    EXPECT_EQ(std::optional<int>(1), missing.waitForExit(10s));
    EXPECT_TRUE(contains(missing.errorOutput(), "cannot read the profile"))
        << missing.errorOutput();
    EXPECT_TRUE(missing.lines().empty());
}

// Refused before anything is installed or started, naming the member, instead of at the
// service's first start (which a client sees only as 1067).
TEST(OrvaneScProcessTest, AProfileWithAnUnknownMemberIsRefusedBeforeInstalling) {
    const ProfileFile profile(R"({"version": {"major": 10}, "sesions": {}})");
    for (const std::string mode : {"serve", "run"}) {
        SCOPED_TRACE(mode);
        OrvaneScSession sc(kFakeService, {}, profile.path, kOrvaneSc, mode);
        EXPECT_EQ(std::optional<int>(2), sc.waitForExit(10s));
        EXPECT_TRUE(contains(sc.errorOutput(), "sesions: is not a member")) << sc.errorOutput();
        EXPECT_TRUE(sc.lines().empty());
    }
}

TEST(OrvaneScProcessTest, AnExecutableThatCannotRunAsAServiceIsAClearError) {
    {
        OrvaneScSession sc("/nonexistent/OrvaneService", {}, "", kOrvaneSc);
        EXPECT_EQ(std::optional<int>(1), sc.waitForExit(10s));
        EXPECT_TRUE(contains(sc.errorOutput(), "cannot start the service")) << sc.errorOutput();
        EXPECT_FALSE(exists(sc.root() + "/scm.sock"));
    }
    {
        // Runs, but never connects to the SCM.
        OrvaneScSession sc("/bin/true", {}, "", kOrvaneSc);
        EXPECT_EQ(std::optional<int>(1), sc.waitForExit(10s));
        EXPECT_TRUE(contains(sc.errorOutput(), "before it connected")) << sc.errorOutput();
        EXPECT_FALSE(exists(sc.root() + "/scm.sock"));
    }
}

}  // namespace

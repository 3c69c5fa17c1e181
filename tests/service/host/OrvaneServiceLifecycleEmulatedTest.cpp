// The service host driven through the emulated SCM in-process, with the test as services.exe.

#include "core/logfacade/LogFacade.h"
#include "service/OrvaneService.h"
#include "tests/service/ServiceTestClient.h"
#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/LogCapture.h"

#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <gtest/gtest.h>

#include <Win32Emu/ServiceControlManager.h>
#include <chrono>
#include <future>
#include <memory>
#include <optional>

namespace OrvaneClient {
namespace {

using namespace std::chrono_literals;
using Testing::LogCapture;
using Win32Emu::ServiceControlManager;

constexpr int Info = Poco::Message::PRIO_INFORMATION;

class OrvaneServiceLifecycleTest : public Testing::EmulatedMachineTest {
protected:
    void SetUp() override {
        EmulatedMachineTest::SetUp();
        // Logging is the logger setup's business; here every line goes to the capture.
        GetLoggingState().isSetUp = true;
        capture = std::make_unique<LogCapture>(Poco::Message::PRIO_INFORMATION);
        scm().attach();
    }

    void TearDown() override {
        if (running.valid()) {
            scm().releaseHeldReport();
            if (running.wait_for(0s) != std::future_status::ready) {
                scm().stop(2s);
            }
            running.wait_for(5s);
        }
        scm().detach();
        service.reset();
        capture.reset();
        EmulatedMachineTest::TearDown();
    }

    static ServiceControlManager& scm() { return ServiceControlManager::instance(); }

    // The service on an ephemeral loopback port; run() on a thread of its own, as the
    // process's main thread runs it.
    void startService(Poco::Timespan inactivity = Poco::Timespan(ServiceReactorTimeoutSeconds, 0)) {
        service =
            std::make_unique<OrvaneService>(Poco::Net::SocketAddress("127.0.0.1", 0), inactivity);
        running = std::async(std::launch::async, [this] { return service->run(); });
        ASSERT_TRUE(scm().waitForDispatcher(5s).has_value());
    }

    int exitCode() {
        EXPECT_EQ(running.wait_for(5s), std::future_status::ready);
        return running.get();
    }

    std::vector<DWORD> reportedStates() const {
        std::vector<DWORD> states;
        for (const SERVICE_STATUS& status : scm().statusReports()) {
            states.push_back(status.dwCurrentState);
        }
        return states;
    }

    std::unique_ptr<LogCapture> capture;
    std::unique_ptr<OrvaneService> service;
    std::future<int> running;
};

TEST_F(OrvaneServiceLifecycleTest, StopControlWhileRunningStopsInOrder) {
    startService();
    const auto runningStatus = scm().waitForStatus(SERVICE_RUNNING, 5s);
    ASSERT_TRUE(runningStatus.has_value());
    EXPECT_EQ(runningStatus->dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));

    // It serves while running.
    Testing::ServiceTestClient client(service->serverPort());
    client.send(Testing::RequestPacket(1, 5));
    const auto reply = client.receive();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->header.type(), 2u);
    EXPECT_EQ(reply->code(), 200);

    const auto stopRequested = std::chrono::steady_clock::now();
    EXPECT_EQ(scm().stop(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(scm().waitForStatus(SERVICE_STOPPED, 5s).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - stopRequested, 1s);
    EXPECT_EQ(exitCode(), 0);

    EXPECT_EQ(reportedStates(),
              (std::vector<DWORD>{
                  SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED}));
    for (const SERVICE_STATUS& status : scm().statusReports()) {
        SCOPED_TRACE(status.dwCurrentState);
        EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(status.dwControlsAccepted,
                  status.dwCurrentState == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0u);
        EXPECT_EQ(status.dwWin32ExitCode, 0u);
        EXPECT_EQ(status.dwServiceSpecificExitCode, 0u);
        // The stop reports how long it may take; nothing else waits.
        const bool stopping = status.dwCurrentState == SERVICE_STOP_PENDING;
        EXPECT_EQ(status.dwCheckPoint, stopping ? 1u : 0u);
        EXPECT_EQ(status.dwWaitHint, stopping ? StopWaitHintMilliseconds : 0u);
    }
    const auto lines = capture->lines();
    ASSERT_GE(lines.size(), 3u) << capture->dump();
    EXPECT_EQ(lines.front().text, "OrvaneService starting");
    EXPECT_EQ(lines.back().text, "OrvaneService stopped");
    EXPECT_EQ(capture->startingWith("Started to listen on port ").size(), 1u);
}

TEST_F(OrvaneServiceLifecycleTest, StopControlWhileStartingIsIgnoredWithoutReport) {
    scm().holdReport(SERVICE_START_PENDING);
    startService();
    ASSERT_TRUE(scm().waitForStatus(SERVICE_START_PENDING, 5s).has_value());

    EXPECT_EQ(scm().stop(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(reportedStates(), std::vector<DWORD>{SERVICE_START_PENDING});

    scm().releaseHeldReport();
    ASSERT_TRUE(scm().waitForStatus(SERVICE_RUNNING, 5s).has_value());
    EXPECT_EQ(scm().stop(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(scm().waitForStatus(SERVICE_STOPPED, 5s).has_value());
    EXPECT_EQ(exitCode(), 0);
}

TEST_F(OrvaneServiceLifecycleTest, InterrogateReReportsTheCurrentState) {
    startService();
    ASSERT_TRUE(scm().waitForStatus(SERVICE_RUNNING, 5s).has_value());

    EXPECT_EQ(scm().interrogate(), static_cast<DWORD>(ERROR_SUCCESS));
    const auto reports = scm().statusReports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[2].dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(reports[2].dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_EQ(reports[2].dwCheckPoint, 0u);
    EXPECT_EQ(reports[2].dwWaitHint, 0u);
}

// The inactivity timeout stops the service from the reactor thread with the same reports as a
// stop control; while it is stopping, a stop control is ignored and interrogate reports
// STOP_PENDING without accepting anything.
TEST_F(OrvaneServiceLifecycleTest, InactivityStopsTheServiceAndLaterStopsAreIgnored) {
    scm().holdReport(SERVICE_STOP_PENDING);
    startService(Poco::Timespan(0, 200 * 1000));
    ASSERT_TRUE(scm().waitForStatus(SERVICE_STOP_PENDING, 10s).has_value());

    EXPECT_EQ(scm().stop(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(scm().interrogate(), static_cast<DWORD>(ERROR_SUCCESS));
    scm().releaseHeldReport();
    ASSERT_TRUE(scm().waitForStatus(SERVICE_STOPPED, 5s).has_value());
    EXPECT_EQ(exitCode(), 0);

    EXPECT_EQ(reportedStates(),
              (std::vector<DWORD>{SERVICE_START_PENDING,
                                  SERVICE_RUNNING,
                                  SERVICE_STOP_PENDING,
                                  SERVICE_STOP_PENDING,
                                  SERVICE_STOPPED}));
    EXPECT_EQ(scm().statusReports()[3].dwControlsAccepted, 0u);
    EXPECT_TRUE(capture->contains(Info, "OrvaneService stopped"));
}

TEST_F(OrvaneServiceLifecycleTest, StopEventThatCannotBeCreatedIsAnErrorStop) {
    machine().failNext("CreateEventW", ERROR_NOT_ENOUGH_MEMORY);
    startService();
    const auto stopped = scm().waitForStatus(SERVICE_STOPPED, 5s);
    ASSERT_TRUE(stopped.has_value());
    EXPECT_EQ(exitCode(), 0);

    EXPECT_EQ(stopped->dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(stopped->dwServiceSpecificExitCode, 2u);
    EXPECT_EQ(stopped->dwControlsAccepted, 0u);
    EXPECT_EQ(reportedStates(), (std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_STOPPED}));
    EXPECT_TRUE(capture->contains(
        Info, "OrvaneService error 2 occured, stopping service; last system error: 8"))
        << capture->dump();
    EXPECT_TRUE(capture->startingWith("Started to listen").empty());
}

TEST_F(OrvaneServiceLifecycleTest, HandlerThatCannotBeRegisteredReportsNothing) {
    machine().failNext("RegisterServiceCtrlHandlerA", ERROR_INVALID_NAME);
    startService();
    ASSERT_TRUE(scm().waitForServiceMainReturn(5s));
    EXPECT_TRUE(scm().statusReports().empty());
    EXPECT_TRUE(
        capture->contains(Info, "RegisterServiceCtrlHandler failed with error 123, exiting"))
        << capture->dump();
    // The SCM gives up on a service that never reported; the dispatcher then fails.
    scm().detach();
    EXPECT_EQ(exitCode(), static_cast<int>(ERROR_BROKEN_PIPE));
    EXPECT_TRUE(capture->contains(Info, "OrvaneService failed to start: 109"));
}

TEST_F(OrvaneServiceLifecycleTest, FailedStatusReportIsLoggedAndTheLifecycleGoesOn) {
    machine().failNext("SetServiceStatus", ERROR_INVALID_DATA);
    startService();
    ASSERT_TRUE(scm().waitForStatus(SERVICE_RUNNING, 5s).has_value());
    EXPECT_TRUE(
        capture->contains(Info, "SetServiceStatus failed setting status to 2 with error code 13"))
        << capture->dump();
    EXPECT_EQ(scm().stop(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(scm().waitForStatus(SERVICE_STOPPED, 5s).has_value());
    EXPECT_EQ(exitCode(), 0);
}

TEST_F(OrvaneServiceLifecycleTest, StartedWithoutAnScmExitsWithMinusTwelve) {
    scm().detach();
    OrvaneService byHand(Poco::Net::SocketAddress("127.0.0.1", 0),
                         Poco::Timespan(ServiceReactorTimeoutSeconds, 0));
    EXPECT_EQ(byHand.run(), ExitNotStartedAsService);
    EXPECT_TRUE(capture->contains(Info, "OrvaneService should be started as a service"));
}

TEST_F(OrvaneServiceLifecycleTest, PortHeldElsewhereEndsInAnOrderlyErrorStop) {
    Poco::Net::ServerSocket holder;
    holder.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true, false);
    holder.listen(1);
    EXPECT_THROW(OrvaneService(holder.address(), Poco::Timespan(ServiceReactorTimeoutSeconds, 0)),
                 Poco::Net::NetException);

    auto failing = std::async(std::launch::async, [] {
        return OrvaneService::runWithoutListener("Address already in use");
    });
    const auto stopped = scm().waitForStatus(SERVICE_STOPPED, 5s);
    ASSERT_EQ(failing.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(failing.get(), ExitCannotListen);
    ASSERT_TRUE(stopped.has_value());
    EXPECT_EQ(stopped->dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(stopped->dwServiceSpecificExitCode, ServiceErrorCannotListen);
    EXPECT_TRUE(capture->contains(
        Poco::Message::PRIO_ERROR,
        "OrvaneService cannot listen for client connections, exiting: Address already in use"))
        << capture->dump();
}

TEST_F(OrvaneServiceLifecycleTest, LibraryLocationIsTheExecutablesDirectory) {
    scm().detach();
    OrvaneService local(Poco::Net::SocketAddress("127.0.0.1", 0),
                        Poco::Timespan(ServiceReactorTimeoutSeconds, 0));
    const struct {
        std::wstring module;
        std::string location;
    } cases[] = {
        {L"C:\\Program Files (x86)\\Orvane Client\\OrvaneService.exe",
         "C:\\Program Files (x86)\\Orvane Client"},
        {L"C:\\Spiele\\\u00dcber\\OrvaneService.exe",
         "C:\\Spiele\\\xC3\x9C"
         "ber"},
        {L"OrvaneService.exe", "OrvaneService.exe"},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.location);
        machine().setModuleFileName(entry.module);
        EXPECT_EQ(local.getLibraryLocation(), entry.location);
    }
}

}  // namespace
}  // namespace OrvaneClient

// The emulated control dispatcher with the test as the service control manager: the calls a
// service process makes (StartServiceCtrlDispatcherA, RegisterServiceCtrlHandlerA,
// SetServiceStatus) behave as Windows' do.

#include "Win32Emu/Machine.h"
#include "Win32Emu/ServiceControlManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>
#include <winsvc.h>

namespace {

using namespace std::chrono_literals;
using Win32Emu::ServiceControlManager;

char kServiceName[] = "Test Service";

// A service that behaves: START_PENDING, RUNNING with stop accepted, STOP_PENDING on the stop
// control, STOPPED once its main thread sees the stop. Tests adjust it through the switches.
// Static, because the dispatcher calls plain functions; a thread it leaves behind still finds it.
struct TestService {
    std::mutex mutex;
    std::condition_variable changed;
    SERVICE_STATUS_HANDLE handle = nullptr;
    DWORD state = 0;
    bool stopRequested = false;
    bool mayReturn = true;      // false: ServiceMain waits after SERVICE_STOPPED
    bool reportStopped = true;  // false: ServiceMain returns without reporting SERVICE_STOPPED
    bool mayRegister = true;    // false: ServiceMain waits before registering its handler
    std::string handlerName = kServiceName;

    DWORD argc = 0;
    std::string argv0;
    std::thread::id mainThread;
    std::vector<std::thread::id> handlerThreads;
    std::vector<DWORD> controls;
    bool mainReturned = false;

    void reset() {
        const std::lock_guard<std::mutex> lock(mutex);
        handle = nullptr;
        state = 0;
        stopRequested = false;
        mayReturn = true;
        reportStopped = true;
        mayRegister = true;
        handlerName = kServiceName;
        argc = 0;
        argv0.clear();
        handlerThreads.clear();
        controls.clear();
        mainReturned = false;
    }

    void set(bool TestService::*flag, bool value) {
        const std::lock_guard<std::mutex> lock(mutex);
        this->*flag = value;
        changed.notify_all();
    }

    // Called with `lock` on `mutex`, which is let go during the call: the SCM may hold the
    // report while the test sends controls.
    BOOL report(std::unique_lock<std::mutex>& lock, DWORD newState) {
        SERVICE_STATUS status{};
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = newState;
        status.dwControlsAccepted = newState == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
        state = newState;
        const SERVICE_STATUS_HANDLE statusHandle = handle;
        lock.unlock();
        const BOOL reported = SetServiceStatus(statusHandle, &status);
        lock.lock();
        return reported;
    }
};

TestService service;

void WINAPI testHandler(DWORD control) {
    std::unique_lock<std::mutex> lock(service.mutex);
    service.handlerThreads.push_back(std::this_thread::get_id());
    service.controls.push_back(control);
    if (control == SERVICE_CONTROL_STOP && service.state == SERVICE_RUNNING) {
        service.report(lock, SERVICE_STOP_PENDING);
        service.stopRequested = true;
        service.changed.notify_all();
    } else if (control == SERVICE_CONTROL_INTERROGATE) {
        service.report(lock, service.state);
    }
}

void WINAPI testServiceMain(DWORD argc, LPSTR* argv) {
    std::unique_lock<std::mutex> lock(service.mutex);
    service.argc = argc;
    service.argv0 = argv[0];
    service.mainThread = std::this_thread::get_id();
    service.changed.wait_for(lock, 10s, [] { return service.mayRegister; });
    lock.unlock();
    const SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerA(service.handlerName.c_str(), testHandler);
    lock.lock();
    service.handle = handle;
    if (handle != nullptr) {
        service.report(lock, SERVICE_START_PENDING);
        service.report(lock, SERVICE_RUNNING);
        service.changed.wait_for(lock, 10s, [] { return service.stopRequested; });
        if (service.reportStopped) {
            service.report(lock, SERVICE_STOPPED);
        }
        service.changed.wait_for(lock, 10s, [] { return service.mayReturn; });
    }
    service.mainReturned = true;
    service.changed.notify_all();
}

struct DispatcherResult {
    BOOL result = FALSE;
    DWORD error = 0;
    std::thread::id thread;
};

// The process's main thread, in the test: runs the dispatcher until it returns.
std::future<DispatcherResult> startDispatcher() {
    return std::async(std::launch::async, [] {
        const SERVICE_TABLE_ENTRYA table[] = {{kServiceName, testServiceMain}, {nullptr, nullptr}};
        SetLastError(0xdeadbeef);
        DispatcherResult outcome;
        outcome.result = StartServiceCtrlDispatcherA(table);
        outcome.error = GetLastError();
        outcome.thread = std::this_thread::get_id();
        return outcome;
    });
}

std::vector<DWORD> reportedStates() {
    std::vector<DWORD> states;
    for (const SERVICE_STATUS& report : ServiceControlManager::instance().statusReports()) {
        states.push_back(report.dwCurrentState);
    }
    return states;
}

class ServiceDispatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        service.reset();
        scm().attach();
        // A test that fails half-way must not wait long for a service thread.
        scm().setServiceMainReturnTimeout(2s);
    }

    void TearDown() override {
        scm().detach();
        service.set(&TestService::stopRequested, true);
        service.set(&TestService::mayReturn, true);
        service.set(&TestService::mayRegister, true);
        if (dispatcher.valid()) {
            EXPECT_EQ(std::future_status::ready, dispatcher.wait_for(10s));
        }
        Win32Emu::Machine::instance().clearFaults();
    }

    static ServiceControlManager& scm() { return ServiceControlManager::instance(); }

    // Starts the dispatcher and waits until the service runs.
    void startRunningService() {
        dispatcher = startDispatcher();
        ASSERT_TRUE(scm().waitForStatus(SERVICE_RUNNING, 5s));
    }

    std::future<DispatcherResult> dispatcher;
};

TEST_F(ServiceDispatcherTest, RunsTheServiceUntilItHasStoppedAndReturned) {
    service.set(&TestService::mayReturn, false);
    startRunningService();
    EXPECT_EQ(std::optional<std::string>(kServiceName), scm().waitForDispatcher(0ms));
    EXPECT_EQ(std::future_status::timeout, dispatcher.wait_for(0ms));

    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), scm().stop());
    ASSERT_TRUE(scm().waitForStatus(SERVICE_STOPPED, 5s));
    // Stopped, but its ServiceMain has not returned yet: the dispatcher still waits for it.
    EXPECT_EQ(std::future_status::timeout, dispatcher.wait_for(50ms));
    service.set(&TestService::mayReturn, true);
    ASSERT_EQ(std::future_status::ready, dispatcher.wait_for(5s));
    const DispatcherResult outcome = dispatcher.get();
    EXPECT_TRUE(outcome.result);

    const std::vector<DWORD> expected = {
        SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED};
    EXPECT_EQ(expected, reportedStates());
    const std::lock_guard<std::mutex> lock(service.mutex);
    EXPECT_TRUE(service.mainReturned);
    EXPECT_EQ(1u, service.argc);
    EXPECT_EQ(kServiceName, service.argv0);
    EXPECT_NE(outcome.thread, service.mainThread);
    // Controls are handled on the dispatcher's thread, not the service's.
    ASSERT_EQ(1u, service.handlerThreads.size());
    EXPECT_EQ(outcome.thread, service.handlerThreads.front());
}

TEST_F(ServiceDispatcherTest, ControlsReachTheHandlerInOrderBeforeSendControlReturns) {
    startRunningService();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), scm().interrogate());
    // The handler's report is there as soon as the control has been handled.
    EXPECT_EQ(3u, scm().statusReports().size());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), scm().statusReports().back().dwCurrentState);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ACCEPT_STOP),
              scm().statusReports().back().dwControlsAccepted);

    EXPECT_TRUE(scm().postControl(200));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), scm().stop());
    ASSERT_EQ(std::future_status::ready, dispatcher.wait_for(5s));
    EXPECT_TRUE(dispatcher.get().result);
    const std::lock_guard<std::mutex> lock(service.mutex);
    const std::vector<DWORD> expected = {SERVICE_CONTROL_INTERROGATE, 200, SERVICE_CONTROL_STOP};
    EXPECT_EQ(expected, service.controls);
}

TEST_F(ServiceDispatcherTest, WithoutAnScmTheDispatcherFailsAtOnce) {
    scm().detach();
    const auto started = std::chrono::steady_clock::now();
    dispatcher = startDispatcher();
    ASSERT_EQ(std::future_status::ready, dispatcher.wait_for(2s));
    const DispatcherResult outcome = dispatcher.get();
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), outcome.error);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    std::lock_guard<std::mutex> lock(service.mutex);
    EXPECT_EQ(0u, service.argc) << "no ServiceMain without an SCM";
}

TEST_F(ServiceDispatcherTest, RejectsAnEmptyTableAndASecondDispatcher) {
    const SERVICE_TABLE_ENTRYA empty[] = {{nullptr, nullptr}};
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(StartServiceCtrlDispatcherA(empty));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_FALSE(StartServiceCtrlDispatcherA(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    startRunningService();
    const SERVICE_TABLE_ENTRYA table[] = {{kServiceName, testServiceMain}, {nullptr, nullptr}};
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(StartServiceCtrlDispatcherA(table));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), GetLastError());
}

TEST_F(ServiceDispatcherTest, RegisterServiceCtrlHandlerKnowsOnlyTheRunningService) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, RegisterServiceCtrlHandlerA(kServiceName, testHandler))
        << "no dispatcher runs yet";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());

    service.set(&TestService::mayRegister, false);
    dispatcher = startDispatcher();
    ASSERT_TRUE(scm().waitForDispatcher(5s));
    struct Case {
        LPCSTR name;
        LPHANDLER_FUNCTION handler;
        DWORD error;
    };
    for (const Case& bad : {Case{"Other Service", testHandler, ERROR_SERVICE_DOES_NOT_EXIST},
                            Case{"", testHandler, ERROR_SERVICE_DOES_NOT_EXIST},
                            Case{nullptr, testHandler, ERROR_INVALID_NAME},
                            Case{kServiceName, nullptr, ERROR_INVALID_PARAMETER}}) {
        SCOPED_TRACE(bad.name != nullptr ? bad.name : "(null)");
        SetLastError(0xdeadbeef);
        EXPECT_EQ(nullptr, RegisterServiceCtrlHandlerA(bad.name, bad.handler));
        EXPECT_EQ(bad.error, GetLastError());
    }
    // Before any handler is registered a control cannot be delivered.
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL), scm().interrogate());

    // Service names are compared without case.
    service.handlerName = "TEST SERVICE";
    service.set(&TestService::mayRegister, true);
    ASSERT_TRUE(scm().waitForStatus(SERVICE_RUNNING, 5s));
}

TEST_F(ServiceDispatcherTest, SetServiceStatusValidatesItsArguments) {
    startRunningService();
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_RUNNING;
    const SERVICE_STATUS_HANDLE bogus = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x1234);
    for (const SERVICE_STATUS_HANDLE handle : {SERVICE_STATUS_HANDLE(nullptr), bogus}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetServiceStatus(handle, &status));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }
    SERVICE_STATUS_HANDLE handle = nullptr;
    {
        const std::lock_guard<std::mutex> lock(service.mutex);
        handle = service.handle;
    }
    for (const DWORD state : {0u, 8u}) {
        status.dwCurrentState = state;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(SetServiceStatus(handle, &status));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
    }
    EXPECT_FALSE(SetServiceStatus(handle, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
    EXPECT_EQ(2u, scm().statusReports().size()) << "no failed report reaches the SCM";

    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), scm().stop());
    ASSERT_EQ(std::future_status::ready, dispatcher.wait_for(5s));
    // A handle of a dispatcher that has ended is no longer valid.
    status.dwCurrentState = SERVICE_RUNNING;
    EXPECT_FALSE(SetServiceStatus(handle, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(ServiceDispatcherTest, InjectedFaultsFailTheCallsWithTheirError) {
    Win32Emu::Machine::instance().failNext("SetServiceStatus", ERROR_ACCESS_DENIED);
    startRunningService();
    // The START_PENDING report failed and never reached the SCM; the rest did.
    EXPECT_EQ(std::vector<DWORD>{SERVICE_RUNNING}, reportedStates());

    Win32Emu::Machine::instance().failNext("RegisterServiceCtrlHandlerA", ERROR_NOT_ENOUGH_MEMORY);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, RegisterServiceCtrlHandlerA(kServiceName, testHandler));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), scm().stop());
    ASSERT_EQ(std::future_status::ready, dispatcher.wait_for(5s));
    EXPECT_TRUE(dispatcher.get().result);

    Win32Emu::Machine::instance().failWhen(
        "StartServiceCtrlDispatcherA", "test service", ERROR_ACCESS_DENIED);
    const SERVICE_TABLE_ENTRYA table[] = {{kServiceName, testServiceMain}, {nullptr, nullptr}};
    EXPECT_FALSE(StartServiceCtrlDispatcherA(table));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST_F(ServiceDispatcherTest, AFailedStoppedReportLeavesTheDispatcherWaitingForTheScm) {
    startRunningService();
    // Hold the stop control's STOP_PENDING report, so that the failure is armed before the
    // service thread reports SERVICE_STOPPED.
    scm().holdReport(SERVICE_STOP_PENDING);
    ASSERT_TRUE(scm().postControl(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(scm().waitForStatus(SERVICE_STOP_PENDING, 5s));
    Win32Emu::Machine::instance().failNext("SetServiceStatus", ERROR_ACCESS_DENIED);
    scm().releaseHeldReport();
    ASSERT_TRUE(scm().waitForServiceMainReturn(5s));
    // The SCM never heard of SERVICE_STOPPED: the dispatcher waits on, as Windows' does.
    EXPECT_EQ(std::future_status::timeout, dispatcher.wait_for(50ms));
    const std::vector<DWORD> expected = {
        SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING};
    EXPECT_EQ(expected, reportedStates());

    scm().detach();
    ASSERT_EQ(std::future_status::ready, dispatcher.wait_for(5s));
    const DispatcherResult outcome = dispatcher.get();
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), outcome.error);
}

TEST_F(ServiceDispatcherTest, AHeldReportKeepsTheServiceInItsStateWhileControlsArrive) {
    scm().holdReport(SERVICE_START_PENDING);
    dispatcher = startDispatcher();
    ASSERT_TRUE(scm().waitForStatus(SERVICE_START_PENDING, 5s));
    // The service thread is inside SetServiceStatus; the dispatcher thread is free.
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), scm().stop());
    EXPECT_EQ(std::vector<DWORD>{SERVICE_START_PENDING}, reportedStates())
        << "a stop while starting is ignored by this service";
    scm().releaseHeldReport();
    ASSERT_TRUE(scm().waitForStatus(SERVICE_RUNNING, 5s));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), scm().stop());
    ASSERT_EQ(std::future_status::ready, dispatcher.wait_for(5s));
    EXPECT_TRUE(dispatcher.get().result);
}

TEST_F(ServiceDispatcherTest, ControlsWithoutADispatcherAreNotDelivered) {
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), scm().stop());
    EXPECT_FALSE(scm().postControl(SERVICE_CONTROL_INTERROGATE));
    EXPECT_FALSE(scm().waitForDispatcher(0ms));
}

}  // namespace

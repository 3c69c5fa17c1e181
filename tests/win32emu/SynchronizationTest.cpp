// Events, mutexes and waits, as Windows has them.

#include "tests/support/EmulatedMachineTest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <windows.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

class SynchronizationTest : public EmulatedMachineTest {};

// Polls until `condition` holds or the deadline passes.
template <class Condition>
bool eventually(Condition condition, milliseconds deadline = milliseconds(5000)) {
    const auto end = steady_clock::now() + deadline;
    while (!condition()) {
        if (steady_clock::now() > end) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

TEST_F(SynchronizationTest, WaitWithTimeoutReturnsAfterTheTimeout) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    const auto start = steady_clock::now();
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 50));
    const auto waited = steady_clock::now() - start;
    EXPECT_GE(waited, milliseconds(50));
    EXPECT_LT(waited, milliseconds(2000));
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(SynchronizationTest, InfiniteWaitEndsWhenAnotherThreadSetsTheEvent) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    std::atomic<DWORD> result{WAIT_FAILED};
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        result = WaitForSingleObject(event, INFINITE);
        done = true;
    });
    EXPECT_FALSE(eventually([&] { return done.load(); }, milliseconds(50)));
    EXPECT_TRUE(SetEvent(event));
    waiter.join();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), result.load());
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(SynchronizationTest, WaitDoesNotBlockOtherCallsOfTheMachine) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    std::thread waiter([&] { WaitForSingleObject(event, INFINITE); });
    // While the other thread waits, handles can still be made and closed.
    const HANDLE other = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(nullptr, other);
    EXPECT_TRUE(CloseHandle(other));
    EXPECT_TRUE(SetEvent(event));
    waiter.join();
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(SynchronizationTest, MutexWaitTimesOutWhileAnotherThreadHoldsIt) {
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(nullptr, mutex);
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> held{false};
    std::thread owner([&] {
        WaitForSingleObject(mutex, INFINITE);
        held = true;
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(mutex);
    });
    ASSERT_TRUE(eventually([&] { return held.load(); }));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(mutex, 20));
    SetEvent(release);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(mutex, 5000));
    owner.join();
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(CloseHandle(mutex));
    EXPECT_TRUE(CloseHandle(release));
}

// Objects shared by name between processes, security descriptors and inheritable handles are
// not modelled: asking for one is refused rather than ignored.
TEST_F(SynchronizationTest, NamesAndSecurityAttributesAreNotEmulated) {
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = TRUE;
    const struct {
        const char* what;
        HANDLE handle;
    } cases[] = {
        {"named mutex", CreateMutexA(nullptr, FALSE, "Orvane-Test-Mutex")},
        {"named event", CreateEventW(nullptr, TRUE, FALSE, L"Orvane-Test-Event")},
        {"mutex attributes", CreateMutexA(&attributes, FALSE, nullptr)},
        {"event attributes", CreateEventW(&attributes, TRUE, FALSE, nullptr)},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        EXPECT_EQ(nullptr, entry.handle);
    }
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, CreateMutexA(&attributes, FALSE, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
    // An empty name is no name.
    const HANDLE unnamed = CreateEventW(nullptr, TRUE, FALSE, L"");
    EXPECT_NE(nullptr, unnamed);
    EXPECT_TRUE(CloseHandle(unnamed));
}

TEST_F(SynchronizationTest, InjectedFailureOfCreateEventReturnsNull) {
    machine().failNext("CreateEventW", ERROR_NOT_ENOUGH_MEMORY);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    // One failure only.
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(nullptr, event);
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(SynchronizationTest, SleepSleepsAtLeastAsLongAsAsked) {
    const auto start = steady_clock::now();
    Sleep(20);
    EXPECT_GE(steady_clock::now() - start, milliseconds(20));
}

}  // namespace

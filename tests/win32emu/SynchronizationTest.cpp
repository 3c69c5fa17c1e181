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

TEST_F(SynchronizationTest, NamedObjectsAreSharedByName) {
    SetLastError(0xdeadbeef);
    const HANDLE first = CreateMutexA(nullptr, FALSE, "Orvane-Test-Mutex");
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    const HANDLE second = CreateMutexA(nullptr, TRUE, "Orvane-Test-Mutex");
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_NE(first, second);
    // Opening an existing mutex grants no ownership.
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(second));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());

    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, CreateEventW(nullptr, TRUE, FALSE, L"Orvane-Test-Mutex"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_TRUE(CloseHandle(second));
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

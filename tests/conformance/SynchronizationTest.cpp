// Events, mutexes and waits.

#include "ConformanceFixture.h"
#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace {

using OrvaneClient::Testing::ConformanceTest;

class SynchronizationTest : public ConformanceTest {};

TEST_F(SynchronizationTest, ManualResetEventStaysSetThroughWaits) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event, 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event, 0));
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(SynchronizationTest, AutoResetEventReleasesOneWaitAndResets) {
    const HANDLE event = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event, 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(SynchronizationTest, CreateEventSetsLastErrorToSuccess) {
    SetLastError(0xdeadbeef);
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    EXPECT_TRUE(CloseHandle(event));
}

TEST_F(SynchronizationTest, CallsOnWrongHandlesFailWithoutTouchingThem) {
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_READ, &key));

    struct Case {
        const char* name;
        std::function<bool()> fails;
        DWORD error;
    } cases[] = {
        {"SetEvent on a mutex", [&] { return !SetEvent(mutex); }, ERROR_INVALID_HANDLE},
        {"SetEvent on null", [&] { return !SetEvent(nullptr); }, ERROR_INVALID_HANDLE},
        {"ReleaseMutex on an event", [&] { return !ReleaseMutex(event); }, ERROR_INVALID_HANDLE},
        // A wait needs SYNCHRONIZE, which no KEY_ right includes: the access check comes first.
        {"WaitForSingleObject on a key",
         [&] { return WaitForSingleObject(reinterpret_cast<HANDLE>(key), 0) == WAIT_FAILED; },
         ERROR_ACCESS_DENIED},
        {"WaitForSingleObject on null",
         [&] { return WaitForSingleObject(nullptr, 0) == WAIT_FAILED; },
         ERROR_INVALID_HANDLE},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.name);
        SetLastError(0xdeadbeef);
        EXPECT_TRUE(entry.fails());
        EXPECT_EQ(entry.error, GetLastError());
    }
    EXPECT_TRUE(CloseHandle(mutex));
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(SynchronizationTest, MutexIsReentrantForItsOwner) {
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(nullptr, mutex);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(mutex, INFINITE));
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(mutex, INFINITE));

    DWORD otherResult = 0;
    const auto tryFromOtherThread = [&] {
        std::thread other([&] { otherResult = WaitForSingleObject(mutex, 0); });
        other.join();
        return otherResult;
    };
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), tryFromOtherThread());
    EXPECT_TRUE(ReleaseMutex(mutex));
    // Still held once.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), tryFromOtherThread());
    EXPECT_TRUE(ReleaseMutex(mutex));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
    EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(SynchronizationTest, OnlyTheOwnerReleasesAMutex) {
    const HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(nullptr, mutex);
    BOOL released = TRUE;
    DWORD error = 0;
    std::thread other([&] {
        released = ReleaseMutex(mutex);
        error = GetLastError();
    });
    other.join();
    EXPECT_FALSE(released);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), error);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(SynchronizationTest, MutexOfAThreadThatEndedIsAbandoned) {
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(nullptr, mutex);
    std::thread owner([&] { WaitForSingleObject(mutex, INFINITE); });
    owner.join();
    EXPECT_EQ(static_cast<DWORD>(WAIT_ABANDONED), WaitForSingleObject(mutex, 1000));
    // Acquired all the same; the next owner sees an ordinary mutex.
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(mutex, 0));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(CloseHandle(mutex));
}

}  // namespace

// The last error, handles and local memory.

#include "ConformanceFixture.h"
#include "core/windows/Win32Api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace {

using OrvaneClient::Testing::ConformanceTest;

class HandlesTest : public ConformanceTest {};

TEST_F(HandlesTest, LastErrorBelongsToTheThread) {
    // Starting and joining a thread are calls of their own that may set the last error: each
    // side reads it with nothing but atomics between its own SetLastError and GetLastError.
    std::atomic<int> step{0};
    DWORD seenByOtherThread = 1;
    DWORD keptByThisThread = 0;
    std::thread other([&] {
        while (step.load() != 1) {
        }
        seenByOtherThread = GetLastError();
        SetLastError(ERROR_ACCESS_DENIED);
        step = 2;
    });
    SetLastError(0xdeadbeef);
    step = 1;
    while (step.load() != 2) {
    }
    keptByThisThread = GetLastError();
    other.join();
    EXPECT_EQ(0u, seenByOtherThread);
    EXPECT_EQ(0xdeadbeefu, keptByThisThread);
}

TEST_F(HandlesTest, CloseHandleRejectsHandlesThatAreNotOpen) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    ASSERT_TRUE(CloseHandle(event));

    const HANDLE notOpen[] = {nullptr, event, reinterpret_cast<HANDLE>(0x12345678)};
    for (const HANDLE handle : notOpen) {
        SCOPED_TRACE(reinterpret_cast<uintptr_t>(handle));
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(CloseHandle(handle));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }
}

TEST_F(HandlesTest, PseudoHandleOfTheProcessClosesWithoutTouchingTheLastError) {
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
}

TEST_F(HandlesTest, LocalAllocZeroFillsOnRequestAndLocalFreeOfNullIsNull) {
    auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 64));
    ASSERT_NE(nullptr, block);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(0, block[i]) << i;
    }
    EXPECT_EQ(nullptr, LocalFree(block));
    EXPECT_EQ(nullptr, LocalFree(nullptr));
}

}  // namespace

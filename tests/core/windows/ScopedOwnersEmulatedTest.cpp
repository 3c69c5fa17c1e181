#include "core/windows/ScopedLocalMemory.h"
#include "core/windows/ScopedMutexLock.h"
#include "tests/support/EmulatedMachineTest.h"

#include <gtest/gtest.h>

#include <utility>

namespace OrvaneClient {
namespace {

using ScopedOwnersTest = Testing::EmulatedMachineTest;

TEST_F(ScopedOwnersTest, LocalMemoryIsFreedOnEveryImplicitPathKeepingTheLastError) {
    const size_t before = machine().localAllocCount();
    {
        ScopedLocalMemory<char> first(static_cast<char*>(LocalAlloc(LMEM_FIXED, 8)));
        ScopedLocalMemory<char> second(static_cast<char*>(LocalAlloc(LMEM_FIXED, 8)));
        ASSERT_EQ(machine().localAllocCount(), before + 2);
        SetLastError(ERROR_NONE_MAPPED);
        first = std::move(second);  // frees the first block
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED));
        EXPECT_EQ(machine().localAllocCount(), before + 1);
        SetLastError(ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(machine().localAllocCount(), before);
}

TEST_F(ScopedOwnersTest, LocalMemoryExplicitCloseReportsAFailedFree) {
    char* block = static_cast<char*>(LocalAlloc(LMEM_FIXED, 8));
    ScopedLocalMemory<char> owner(block);
    machine().failNext("LocalFree", ERROR_INVALID_HANDLE);
    EXPECT_FALSE(owner.close());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(owner.isValid());
    EXPECT_EQ(LocalFree(block), nullptr);
}

TEST_F(ScopedOwnersTest, MutexLockMoveAssignmentReleasesAndKeepsTheLastError) {
    const HANDLE first = CreateMutexA(nullptr, FALSE, nullptr);
    const HANDLE second = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    {
        ScopedMutexLock lock(first);
        ASSERT_TRUE(lock.isLocked());
        ScopedMutexLock other(second);
        SetLastError(ERROR_NONE_MAPPED);
        lock = std::move(other);  // releases `first`
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NONE_MAPPED));
        EXPECT_TRUE(lock.isLocked());
        EXPECT_FALSE(other.isLocked());
        EXPECT_FALSE(other.unlock());
        EXPECT_TRUE(lock.unlock());
        EXPECT_FALSE(lock.isLocked());
    }
    // Both released: a second release by this thread is refused.
    for (HANDLE mutex : {first, second}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ReleaseMutex(mutex));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
        EXPECT_TRUE(CloseHandle(mutex));
    }
}

}  // namespace
}  // namespace OrvaneClient

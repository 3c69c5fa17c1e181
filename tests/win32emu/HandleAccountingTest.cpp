// The last error, handles and local memory, and the fixture's accounting of what a test leaves
// behind.

#include "tests/support/EmulatedMachineTest.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <Win32Emu/Machine.h>
#include <sddl.h>
#include <windows.h>
#include <wtsapi32.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;

class HandleAccountingTest : public EmulatedMachineTest {};

TEST_F(HandleAccountingTest, PseudoHandleOfTheProcessIsNotCounted) {
    const size_t before = machine().openHandleCount();
    EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
    EXPECT_EQ(before, machine().openHandleCount());
}

TEST_F(HandleAccountingTest, EveryHandleIsCountedUntilClosed) {
    const size_t before = machine().openHandleCount();
    const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Qovex", 0, KEY_READ, &key));
    EXPECT_EQ(before + 3, machine().openHandleCount());
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_TRUE(CloseHandle(mutex));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(before, machine().openHandleCount());
}

TEST_F(HandleAccountingTest, LocalAllocBlocksAreCountedUntilFreed) {
    const size_t before = machine().localAllocCount();
    void* block = LocalAlloc(LPTR, 64);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(before + 1, machine().localAllocCount());
    EXPECT_EQ(nullptr, LocalFree(block));
    EXPECT_EQ(before, machine().localAllocCount());
}

TEST_F(HandleAccountingTest, LocalFreeOfAForeignOrFreedBlockFailsWithoutFreeingIt) {
    void* block = LocalAlloc(LMEM_FIXED, 8);
    ASSERT_NE(nullptr, block);
    ASSERT_EQ(nullptr, LocalFree(block));

    int notAllocated = 0;
    void* const foreign[] = {block, &notAllocated};
    for (void* const pointer : foreign) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(pointer, LocalFree(pointer));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }
}

TEST_F(HandleAccountingTest, MovableLocalMemoryIsNotEmulated) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, LocalAlloc(LMEM_MOVEABLE, 8));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
}

// A test body that leaves a handle or a block behind, run under the fixture by hand so that its
// TearDown can be watched.
class LeakingTest : public EmulatedMachineTest {
public:
    static HANDLE leakedHandle;
    static void* leakedBlock;

    void TestBody() override {}
    void runLeakingHandle() {
        SetUp();
        leakedHandle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        TearDown();
    }
    void runLeakingBlock() {
        SetUp();
        leakedBlock = LocalAlloc(LPTR, 16);
        TearDown();
    }
    void runLeakingToken() {
        SetUp();
        WTSQueryUserToken(1, &leakedHandle);
        TearDown();
    }
    void runLeakingSidString() {
        SetUp();
        HANDLE token = nullptr;
        WTSQueryUserToken(1, &token);
        BYTE buffer[64] = {};
        DWORD length = 0;
        GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &length);
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid,
                               reinterpret_cast<LPSTR*>(&leakedBlock));
        CloseHandle(token);
        TearDown();
    }
    void runWithAFaultThatNeverFires() {
        SetUp();
        machine().failNext("CreateToolhelp32Snapshot", ERROR_ACCESS_DENIED);
        TearDown();
    }
    void runCleanly() {
        SetUp();
        CloseHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        LocalFree(LocalAlloc(LPTR, 16));
        TearDown();
    }
};

HANDLE LeakingTest::leakedHandle = nullptr;
void* LeakingTest::leakedBlock = nullptr;

TEST(EmulatedMachineFixture, TearDownReportsALeakedHandle) {
    EXPECT_NONFATAL_FAILURE(LeakingTest().runLeakingHandle(), "handles left open");
    EXPECT_TRUE(CloseHandle(LeakingTest::leakedHandle));
}

TEST(EmulatedMachineFixture, TearDownReportsALeakedLocalAllocBlock) {
    EXPECT_NONFATAL_FAILURE(LeakingTest().runLeakingBlock(), "LocalAlloc blocks not freed");
    EXPECT_EQ(nullptr, LocalFree(LeakingTest::leakedBlock));
}

TEST(EmulatedMachineFixture, TearDownNamesWhatLeakedAndWhichCallMadeIt) {
    EXPECT_NONFATAL_FAILURE(LeakingTest().runLeakingToken(), "handles left open: Token 0x");
    EXPECT_TRUE(CloseHandle(LeakingTest::leakedHandle));
    EXPECT_NONFATAL_FAILURE(LeakingTest().runLeakingSidString(), "from ConvertSidToStringSidA; ");
    EXPECT_EQ(nullptr, LocalFree(LeakingTest::leakedBlock));
}

TEST(EmulatedMachineFixture, TearDownFailsATestWhoseFaultNeverFired) {
    EXPECT_NONFATAL_FAILURE(
        LeakingTest().runWithAFaultThatNeverFires(),
        "injected fault never fired: CreateToolhelp32Snapshot, call 1, error 5");
}

TEST(EmulatedMachineFixture, TearDownIsQuietWhenEverythingWasReleased) {
    LeakingTest().runCleanly();
}

}  // namespace

#include "core/windows/ScopedHandle.h"
#include "tests/support/EmulatedMachineTest.h"

#include <gtest/gtest.h>

#include <utility>

namespace OrvaneClient {
namespace {

class ScopedHandleTest : public Testing::EmulatedMachineTest {
protected:
    HANDLE newEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }
};

TEST_F(ScopedHandleTest, ClosesOnScopeExitAndKeepsTheLastError) {
    const size_t before = machine().openHandleCount();
    {
        ScopedHandle owner(newEvent());
        ASSERT_TRUE(owner.isValid());
        EXPECT_EQ(machine().openHandleCount(), before + 1);
        SetLastError(ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(machine().openHandleCount(), before);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(ScopedHandleTest, EmptyValuesAreNeverClosed) {
    for (HANDLE empty : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(0xdeadbeef);
        {
            ScopedHandle owner(empty);
            EXPECT_FALSE(owner.isValid());
            EXPECT_TRUE(owner.close());
        }
        // CloseHandle on either would have set ERROR_INVALID_HANDLE.
        EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    }
}

TEST_F(ScopedHandleTest, ReleaseAndMoveHandOverTheDutyToClose) {
    HANDLE released = nullptr;
    {
        ScopedHandle owner(newEvent());
        ScopedHandle moved(std::move(owner));
        EXPECT_FALSE(owner.isValid());
        released = moved.release();
    }
    ASSERT_NE(released, nullptr);
    EXPECT_TRUE(CloseHandle(released));
}

TEST_F(ScopedHandleTest, ExplicitCloseReportsAFailedClose) {
    const HANDLE event = newEvent();
    ScopedHandle owner(event);
    machine().failNext("CloseHandle", ERROR_INVALID_HANDLE);
    EXPECT_FALSE(owner.close());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(owner.isValid());
    // A failed close leaves the object open; the emulator's accounting would flag it.
    EXPECT_TRUE(CloseHandle(event));
}

}  // namespace
}  // namespace OrvaneClient

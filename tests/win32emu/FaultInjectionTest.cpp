// Faults aimed at one occurrence of a call or at calls on one kind of object, and names checked
// when a fault is injected.

#include "tests/support/EmulatedMachineTest.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <Win32Emu/Machine.h>
#include <tlhelp32.h>
#include <vector>
#include <windows.h>
#include <wtsapi32.h>

namespace {

using OrvaneClient::Testing::EmulatedMachineTest;
using Win32Emu::Fault;

class FaultInjectionTest : public EmulatedMachineTest {};

TEST_F(FaultInjectionTest, AFaultHitsOnlyTheOccurrenceItIsAimedAt) {
    HANDLE token = nullptr;
    ASSERT_TRUE(WTSQueryUserToken(1, &token));
    machine().injectFault(Fault("GetTokenInformation", ERROR_ACCESS_DENIED).onOccurrence(2));
    machine().injectFault(
        Fault("GetTokenInformation", ERROR_NOT_ENOUGH_MEMORY).withArgument("19").always());
    DWORD length = 0;
    TOKEN_LINKED_TOKEN linked{};
    const struct {
        TOKEN_INFORMATION_CLASS informationClass;
        DWORD error;
    } calls[] = {
        {TokenUser, ERROR_INSUFFICIENT_BUFFER},  // the first: passes
        {TokenUser, ERROR_ACCESS_DENIED},        // the second: aimed at
        {TokenUser, ERROR_INSUFFICIENT_BUFFER},
        {TokenLinkedToken, ERROR_NOT_ENOUGH_MEMORY},
        {TokenLinkedToken, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (size_t i = 0; i < sizeof(calls) / sizeof(calls[0]); ++i) {
        SCOPED_TRACE(i);
        const bool linkedClass = calls[i].informationClass == TokenLinkedToken;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(GetTokenInformation(token,
                                         calls[i].informationClass,
                                         linkedClass ? &linked : nullptr,
                                         linkedClass ? sizeof(linked) : 0,
                                         &length));
        EXPECT_EQ(calls[i].error, GetLastError());
    }
    EXPECT_TRUE(CloseHandle(token));
}

TEST_F(FaultInjectionTest, AFaultAimedAtAnObjectTypeSparesOtherHandles) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    HANDLE token = nullptr;
    ASSERT_TRUE(WTSQueryUserToken(1, &token));
    machine().injectFault(Fault("CloseHandle", ERROR_INVALID_HANDLE).onObject("Token"));

    EXPECT_TRUE(CloseHandle(snapshot));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseHandle(token));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    // The failed close left the token open.
    EXPECT_TRUE(machine().tokenInfo(token));
    EXPECT_TRUE(CloseHandle(token));
}

TEST_F(FaultInjectionTest, FaultsThatCouldNeverFireAreRejectedAtOnce) {
    const std::vector<Fault> faults{
        Fault("GetTokenInfo", ERROR_ACCESS_DENIED),
        Fault("getTokenInformation", ERROR_ACCESS_DENIED),
        Fault("GetLastError", ERROR_ACCESS_DENIED),
        Fault("WTSGetActiveConsoleSessionId", ERROR_ACCESS_DENIED),
        Fault("CloseHandle", ERROR_ACCESS_DENIED).onObject("token"),
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.describe());
        EXPECT_THROW(machine().injectFault(fault), Poco::InvalidArgumentException);
    }
    EXPECT_THROW(machine().failNext("NoSuchCall", ERROR_ACCESS_DENIED),
                 Poco::InvalidArgumentException);
    EXPECT_TRUE(machine().unfiredFaults().empty());
}

TEST_F(FaultInjectionTest, UnfiredFaultsAreReportedUntilTheyFire) {
    machine().injectFault(Fault("OpenProcess", ERROR_ACCESS_DENIED).withArgument("2412"));
    ASSERT_EQ(1u, machine().unfiredFaults().size());
    EXPECT_EQ("OpenProcess(\"2412\"), call 1, error 5", machine().unfiredFaults().front());

    const HANDLE other = OpenProcess(MAXIMUM_ALLOWED, FALSE, 612);
    EXPECT_NE(nullptr, other);
    EXPECT_EQ(1u, machine().unfiredFaults().size());
    EXPECT_EQ(nullptr, OpenProcess(MAXIMUM_ALLOWED, FALSE, 2412));
    EXPECT_TRUE(machine().unfiredFaults().empty());
    CloseHandle(other);
}

}  // namespace

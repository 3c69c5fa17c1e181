// Only the console user's own, unsandboxed processes have privileged requests served; anyone
// else is answered 403 and the operation never runs.

#include "tests/service/CallerVerificationFixture.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace OrvaneClient::Testing {
namespace {

TEST_F(CallerVerificationTest, TheConsoleUsersOwnProcessesAreServed) {
    addCaller([](auto& process) { process.elevated = true; });
    for (const DWORD caller : {DWORD{0}, CallerId}) {
        SCOPED_TRACE(caller);
        const auto client = connectAs(caller);
        EXPECT_EQ(200, ask(*client, desktop::AUTH_INFO_REQUEST, 1));
        EXPECT_EQ(200, ask(*client, desktop::LAUNCH_ELEVATED_REQUEST, 2));
        EXPECT_EQ(200, ask(*client, desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST, 3));
    }
    EXPECT_EQ(6, operationCalls());
    EXPECT_TRUE(capture.startingWith("Refused").empty()) << capture.dump();
}

// A system that cannot tell restricting SIDs, because it makes no restricted tokens, still serves.
TEST_F(CallerVerificationTest, ASystemWithoutRestrictedTokensServes) {
    machine().injectFault(Win32Emu::Fault("IsTokenRestricted", ERROR_INVALID_FUNCTION).always());
    const auto client = connectAs(0);
    EXPECT_EQ(200, ask(*client, desktop::AUTH_INFO_REQUEST, 1));
    machine().clearFaults();
}

struct RefusalCase {
    const char* name;
    std::function<void(CallerVerificationTest&, Win32Emu::Machine&)> arrange;
    const char* reason;
    DWORD caller = CallerId;
};

class CallerRefusalTest : public CallerVerificationTest,
                          public testing::WithParamInterface<RefusalCase> {};

Win32Emu::VersionInfo windows10() {
    Win32Emu::VersionInfo version;
    version.majorVersion = 10;
    version.minorVersion = 0;
    version.buildNumber = 19045;
    return version;
}

void fault(Win32Emu::Machine& machine, const char* call, DWORD error, const char* argument = "") {
    Win32Emu::Fault injected(call, error);
    if (*argument != '\0') {
        injected.withArgument(argument);
    }
    // Each of the three requests meets it.
    machine.injectFault(injected.always());
}

const RefusalCase refusalCases[] = {
    {"OtherSession",
     [](auto& test, auto& machine) {
         machine.setSessionUser(2, PlayerSid);
         test.addCaller([](auto& process) { process.sessionId = 2; });
     },
     "other session (2, console session 1)"},
    {"OtherUserAtTheConsole",
     [](auto& test, auto&) { test.addCaller([](auto& process) { process.userSid = OtherSid; }); },
     "other user"},
    {"LowIntegrity",
     [](auto& test, auto&) {
         test.addCaller([](auto& process) { process.integrityLevel = 0x1000; });
     },
     "integrity level 4096 below medium"},
    {"AppContainer",
     [](auto& test, auto& machine) {
         machine.setVersion(windows10());
         test.addCaller([](auto& process) { process.appContainer = true; });
     },
     "AppContainer process"},
    {"OwnerNotRunning", [](auto&, auto&) {}, "OpenProcess failed, error code 87"},
    {"RestrictedToken",
     [](auto& test, auto&) { test.addCaller([](auto& process) { process.restricted = true; }); },
     "restricted token"},
    {"RestrictionQueryFails",
     [](auto& test, auto& machine) {
         test.addCaller();
         fault(machine, "IsTokenRestricted", ERROR_ACCESS_DENIED);
     },
     "IsTokenRestricted failed, error code 5"},
    {"NobodyAtTheConsole",
     [](auto& test, auto& machine) {
         test.addCaller();
         machine.setConsoleSession(0xFFFFFFFF);
     },
     "nobody at the console"},
    {"NobodyLoggedOnAtTheConsole",
     [](auto& test, auto& machine) {
         test.addCaller();
         machine.setSessionUser(1, "");
     },
     "WTSQueryUserToken failed, error code 1008"},
    {"TcpTableFails",
     [](auto&, auto& machine) { fault(machine, "GetExtendedTcpTable", ERROR_NOT_SUPPORTED); },
     "GetExtendedTcpTable failed, error code 50",
     0},
    {"SessionQueryFails",
     [](auto& test, auto& machine) {
         test.addCaller();
         fault(machine, "ProcessIdToSessionId", ERROR_ACCESS_DENIED);
     },
     "ProcessIdToSessionId failed, error code 5"},
    {"ConsoleTokenFails",
     [](auto& test, auto& machine) {
         test.addCaller();
         fault(machine, "WTSQueryUserToken", ERROR_ACCESS_DENIED);
     },
     "WTSQueryUserToken failed, error code 5"},
    {"TokenUserFails",
     [](auto& test, auto& machine) {
         test.addCaller();
         fault(machine, "GetTokenInformation", ERROR_ACCESS_DENIED, "1");
     },
     "GetTokenInformation(TokenUser) failed, error code 5"},
    {"OpenProcessFails",
     [](auto& test, auto& machine) {
         test.addCaller();
         fault(machine, "OpenProcess", ERROR_ACCESS_DENIED);
     },
     "OpenProcess failed, error code 5"},
    {"OpenProcessTokenFails",
     [](auto& test, auto& machine) {
         test.addCaller();
         fault(machine, "OpenProcessToken", ERROR_ACCESS_DENIED);
     },
     "OpenProcessToken failed, error code 5"},
    {"IntegrityQueryFails",
     [](auto& test, auto& machine) {
         test.addCaller();
         fault(machine, "GetTokenInformation", ERROR_ACCESS_DENIED, "25");
     },
     "GetTokenInformation(TokenIntegrityLevel) failed, error code 5"},
    {"AppContainerQueryFails",
     [](auto& test, auto& machine) {
         machine.setVersion(windows10());
         test.addCaller();
         fault(machine, "GetTokenInformation", ERROR_ACCESS_DENIED, "29");
     },
     "GetTokenInformation(TokenIsAppContainer) failed, error code 5"},
};

TEST_P(CallerRefusalTest, RefusedWith403AndTheOperationDoesNotRun) {
    const RefusalCase& entry = GetParam();
    entry.arrange(*this, machine());
    const auto client = connectAs(entry.caller);
    const std::string caller = entry.caller == 0 ? "-" : std::to_string(entry.caller);

    expectAllRefused(*client, 3, caller, entry.reason);
    EXPECT_EQ(0, operationCalls());
    // Still open, and library-info needs no check.
    EXPECT_EQ(200, ask(*client, desktop::LIBRARY_INFO_REQUEST, 6));
    machine().clearFaults();
}

INSTANTIATE_TEST_SUITE_P(Reasons,
                         CallerRefusalTest,
                         testing::ValuesIn(refusalCases),
                         [](const testing::TestParamInfo<RefusalCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(CallerVerificationTest, EachRequestIsCheckedAgainstWhoIsAtTheConsoleNow) {
    const auto client = connectAs(0);
    EXPECT_EQ(200, ask(*client, desktop::AUTH_INFO_REQUEST, 1));
    machine().setSessionUser(1, OtherSid);
    EXPECT_EQ(403, ask(*client, desktop::AUTH_INFO_REQUEST, 2));
    EXPECT_EQ(1, service.refreshTokenCalls());
    EXPECT_TRUE(
        capture.contains(Warning, "Refused AuthInfoRequest 2 from process 5120: other user"))
        << capture.dump();
}

}  // namespace
}  // namespace OrvaneClient::Testing

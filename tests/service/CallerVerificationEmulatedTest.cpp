// Only the console user's own, unsandboxed processes have privileged requests served; anyone
// else is answered 403 and the operation never runs.

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "service/ServiceServer.h"
#include "tests/service/ServiceTestClient.h"
#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/FakeOrvaneService.h"
#include "tests/support/LogCapture.h"

#include <Poco/Exception.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Thread.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace OrvaneClient {
namespace {

namespace desktop = orvane::protocols::desktop_service;
constexpr int Warning = Poco::Message::PRIO_WARNING;
const std::string PlayerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";
const std::string OtherSid = "S-1-5-21-2254011875-3712098642-1289462413-1002";
constexpr DWORD ClientId = 5120;  // the profile's desktop client, the default caller
constexpr DWORD CallerId = 7001;  // the process a case calls from

std::string launchBody() {
    desktop::LaunchElevatedRequest request;
    request.set_process_path("C:\\Games\\run.exe");
    request.set_command_line_args("");
    request.set_working_dir("C:\\Games");
    request.set_elevated(true);
    return request.SerializeAsString();
}

std::string fixDirectoryBody() {
    desktop::FixDirectoryPrivilegesRequest request;
    request.set_directory("C:\\Games");
    return request.SerializeAsString();
}

class CallerVerificationTest : public Testing::EmulatedMachineTest {
protected:
    void SetUp() override {
        EmulatedMachineTest::SetUp();
        Win32Emu::Account other;
        other.sid = OtherSid;
        other.name = "Guest";
        other.domain = "GAMING-PC";
        machine().setAccount(other);
        service.setRefreshToken(std::string("rt1.token"));
        service.setLaunchResult(true, 4242);
        service.setFixDirectoryResult(true);
        server = std::make_unique<ServiceServer>(service, Poco::Net::SocketAddress("127.0.0.1", 0));
        server->start();
    }
    void TearDown() override {
        server.reset();
        EmulatedMachineTest::TearDown();
    }

public:
    // A process of the console user in the console session, changed by `change`.
    void addCaller(const std::function<void(Win32Emu::ProcessEntry&)>& change = {}) {
        Win32Emu::ProcessEntry caller;
        caller.processId = CallerId;
        caller.executableName = "caller.exe";
        caller.sessionId = 1;
        caller.userSid = PlayerSid;
        if (change) {
            change(caller);
        }
        machine().setProcess(caller);
    }

protected:
    // A connection whose client end belongs to `processId` (0: the default caller's).
    std::unique_ptr<Testing::ServiceTestClient> connectAs(DWORD processId) {
        Poco::Net::StreamSocket socket;
        socket.impl()->bind(Poco::Net::SocketAddress("127.0.0.1", 0));
        if (processId != 0) {
            machine().setConnectionOwner(socket.address().port(), processId);
        }
        socket.connect(Poco::Net::SocketAddress("127.0.0.1", server->port()));
        return std::make_unique<Testing::ServiceTestClient>(socket);
    }

    // Sends request `type` with `oseq` and returns the answer's code, or -1 for none.
    int ask(Testing::ServiceTestClient& client, uint32_t type, uint32_t oseq) {
        const std::string body = type == desktop::LAUNCH_ELEVATED_REQUEST ? launchBody()
                                 : type == desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST
                                     ? fixDirectoryBody()
                                     : std::string();
        client.send(Testing::RequestPacket(type, oseq, body));
        const auto reply = client.receive();
        if (!reply) {
            return -1;
        }
        EXPECT_EQ(type + 1, reply->header.type());
        EXPECT_EQ(oseq, reply->rseq());
        return reply->code();
    }

    // Asks the three privileged requests, with `oseq` and the next two, and expects each refused
    // for `reason`, the caller logged as `caller`.
    void expectAllRefused(Testing::ServiceTestClient& client,
                          uint32_t oseq,
                          const std::string& caller,
                          const std::string& reason) {
        const std::pair<uint32_t, const char*> requests[] = {
            {desktop::AUTH_INFO_REQUEST, "AuthInfoRequest"},
            {desktop::LAUNCH_ELEVATED_REQUEST, "LaunchElevatedRequest"},
            {desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST, "FixDirectoryPrivilegesRequest"}};
        for (const auto& [type, name] : requests) {
            EXPECT_EQ(403, ask(client, type, oseq));
            EXPECT_TRUE(capture.contains(Warning,
                                         "Refused " + std::string(name) + " " +
                                             std::to_string(oseq) + " from process " + caller +
                                             ": " + reason))
                << capture.dump();
            ++oseq;
        }
    }

    // Whether the machine comes back to `count` open handles: the service closes a connection
    // in its own time.
    bool handlesReturnTo(size_t count) {
        const Poco::Timestamp start;
        while (machine().openHandleCount() != count) {
            if (start.elapsed() > 60 * Poco::Timestamp::resolution()) {
                return false;
            }
            Poco::Thread::sleep(2);
        }
        return true;
    }

    int operationCalls() const {
        return service.refreshTokenCalls() + static_cast<int>(service.launchCalls().size()) +
               static_cast<int>(service.fixDirectoryCalls().size());
    }

    Testing::LogCapture capture;
    Testing::FakeOrvaneService service;
    std::unique_ptr<ServiceServer> server;
};

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

// What becomes of a connection's caller after its first privileged request, which binds the
// connection to that process.
struct BindingCase {
    const char* name;
    std::function<void(CallerVerificationTest&, Win32Emu::Machine&)> arrange;
    int firstCode;  // of the request that binds
    std::function<void(CallerVerificationTest&, Win32Emu::Machine&, WORD clientPort)> change;
    const char* reason;  // of the three refusals that follow
};

class CallerBindingTest : public CallerVerificationTest,
                          public testing::WithParamInterface<BindingCase> {};

// A process of the console user takes the id of the one that owned the connection.
void reuseCallerId(CallerVerificationTest& test, Win32Emu::Machine& machine) {
    machine.removeProcess(CallerId);
    EXPECT_THROW(test.addCaller(), Poco::InvalidArgumentException)
        << "the id of a process the service holds open was given to another";
}

const BindingCase bindingCases[] = {
    // Another user's process is refused, hands its socket to a child and exits; its id must not
    // pass to a process of the console user while the connection lives.
    {"IdReusedAfterTheOwnerExits",
     [](auto& test, auto& machine) {
         machine.setSessionUser(2, OtherSid);
         test.addCaller([](auto& process) {
             process.sessionId = 2;
             process.userSid = OtherSid;
         });
     },
     403,
     [](auto& test, auto& machine, WORD) { reuseCallerId(test, machine); },
     "process exited"},
    {"OwnerExitsBetweenRequests",
     [](auto& test, auto&) { test.addCaller(); },
     200,
     [](auto&, auto& machine, WORD) { machine.removeProcess(CallerId); },
     "process exited"},
    {"AnotherProcessOwnsTheConnectionNow",
     [](auto& test, auto&) { test.addCaller(); },
     200,
     [](auto&, auto& machine, WORD clientPort) {
         // The desktop client is a process the console user may call from, but not this caller.
         machine.setConnectionOwner(clientPort, ClientId);
     },
     "connection now owned by process 5120"},
};

TEST_P(CallerBindingTest, LaterRequestsAreRefusedAndNothingStaysOpen) {
    const BindingCase& entry = GetParam();
    entry.arrange(*this, machine());
    const size_t handlesBefore = machine().openHandleCount();
    auto client = connectAs(CallerId);
    EXPECT_EQ(200, ask(*client, desktop::LIBRARY_INFO_REQUEST, 1));
    EXPECT_EQ(handlesBefore, machine().openHandleCount()) << "library-info looked for the caller";
    EXPECT_EQ(entry.firstCode, ask(*client, desktop::AUTH_INFO_REQUEST, 2));
    // The connection holds its caller's process, and nothing else.
    EXPECT_EQ(handlesBefore + 1, machine().openHandleCount());

    entry.change(*this, machine(), client->socket.address().port());
    expectAllRefused(*client, 3, std::to_string(CallerId), entry.reason);
    EXPECT_EQ(entry.firstCode == 200 ? 1 : 0, operationCalls());
    EXPECT_EQ(handlesBefore + 1, machine().openHandleCount());

    // The process handle goes with the connection.
    client->close();
    EXPECT_TRUE(handlesReturnTo(handlesBefore))
        << machine().openHandleCount() << " handles open, " << handlesBefore << " before";
}

INSTANTIATE_TEST_SUITE_P(Changes,
                         CallerBindingTest,
                         testing::ValuesIn(bindingCases),
                         [](const testing::TestParamInfo<BindingCase>& info) {
                             return std::string(info.param.name);
                         });

// An owner that exits before the connection's first privileged request leaves its id free; the
// process that gets it next started after the connection and is not its owner.
TEST_F(CallerVerificationTest, AnIdReusedBeforeTheFirstPrivilegedRequestIsRefused) {
    machine().setSessionUser(2, OtherSid);
    addCaller([](auto& process) {
        process.sessionId = 2;
        process.userSid = OtherSid;
    });
    const size_t handlesBefore = machine().openHandleCount();
    const auto client = connectAs(CallerId);
    EXPECT_EQ(200, ask(*client, desktop::LIBRARY_INFO_REQUEST, 1));
    machine().removeProcess(CallerId);
    addCaller();
    expectAllRefused(*client, 2, std::to_string(CallerId), "process started after the connection");
    EXPECT_EQ(0, operationCalls());
    EXPECT_EQ(handlesBefore, machine().openHandleCount());
}

}  // namespace
}  // namespace OrvaneClient

// A caller is its connection: the process found at the first privileged request, held open
// until the connection goes, and refused once it exits or was not there when the connection was
// made. The table is read for that first request alone, and however it grows meanwhile.

#include "tests/service/CallerVerificationFixture.h"

#include <Poco/Exception.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace OrvaneClient::Testing {
namespace {

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

// Later requests check the held process, not the table: a row keeps naming the socket's creator,
// so reading it again would prove nothing and costs a walk of every socket on the machine.
TEST_F(CallerVerificationTest, TheTableIsReadForTheFirstPrivilegedRequestAlone) {
    addCaller();
    const auto client = connectAs(CallerId);
    EXPECT_EQ(200, ask(*client, desktop::AUTH_INFO_REQUEST, 1));
    machine().failNext("GetExtendedTcpTable", ERROR_NOT_SUPPORTED);
    EXPECT_EQ(200, ask(*client, desktop::LAUNCH_ELEVATED_REQUEST, 2));
    EXPECT_EQ(200, ask(*client, desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST, 3));
    EXPECT_EQ(200, ask(*client, desktop::AUTH_INFO_REQUEST, 4));
    EXPECT_EQ(1u, machine().unfiredFaults().size()) << "a later request read the table again";
    machine().clearFaults();
}

// Connections made between the call that sizes the table and the one that reads it, five times
// in a row, far more rows each time than a reader keeps spare: the caller is still found.
TEST_F(CallerVerificationTest, ATableThatGrowsWhileItIsReadStillFindsTheCaller) {
    addCaller();
    // Never accepted: each connection waits in the backlog, two rows in the table.
    Poco::Net::ServerSocket crowd(Poco::Net::SocketAddress("127.0.0.1", 0), 256);
    std::vector<Poco::Net::StreamSocket> arrivals;
    for (int growth = 0; growth < 5; ++growth) {
        machine().beforeCall("GetExtendedTcpTable", [&] {
            for (int connection = 0; connection < 40; ++connection) {
                arrivals.emplace_back().connect(crowd.address());
            }
        });
    }
    const auto client = connectAs(CallerId);
    EXPECT_EQ(200, ask(*client, desktop::AUTH_INFO_REQUEST, 1)) << capture.dump();
    EXPECT_TRUE(machine().unfiredFaults().empty());
    EXPECT_EQ(1, service.refreshTokenCalls());
}

}  // namespace
}  // namespace OrvaneClient::Testing

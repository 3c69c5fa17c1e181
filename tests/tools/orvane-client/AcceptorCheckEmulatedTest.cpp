// The client sends a privileged request only when the process that accepted its own connection
// is the service's: whoever listens by the time it looks may be someone else.

#include "core/messaging/ServiceClient.h"
#include "tests/support/EmulatedMachineTest.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace OrvaneClient {
namespace {

constexpr DWORD SquatterId = 6660;

using AcceptorCheckTest = Testing::EmulatedMachineTest;

TEST_F(AcceptorCheckTest, OnlyTheServicesOwnEndOfTheConnectionGetsTheRequest) {
    struct Case {
        const char* name;
        // The acceptor gives up the port once it has accepted, and the service listens there.
        bool squatterLetsGo;
        ExchangeStatus status;
        bool requestArrives;
    };
    const Case cases[] = {
        {"the service accepted", false, ExchangeStatus::ConnectionClosed, true},
        {"a squatter accepted and let the port go", true, ExchangeStatus::NotTheService, false},
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.name);
        Poco::Net::ServerSocket acceptor;
        acceptor.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true);
        acceptor.listen(1);
        const Poco::UInt16 port = acceptor.address().port();
        Poco::Net::StreamSocket accepted;
        std::optional<Poco::Net::ServerSocket> service;
        // The client has connected and looks for who accepted.
        machine().beforeCall("GetExtendedTcpTable", [&] {
            accepted = acceptor.acceptConnection();
            if (entry.squatterLetsGo) {
                machine().setConnectionOwner(port, accepted.peerAddress().port(), SquatterId);
                acceptor.close();
                service.emplace();
                service->bind(Poco::Net::SocketAddress("127.0.0.1", port), true);
                service->listen(1);
            } else {
                // No answer is coming: the client reads the end at once.
                accepted.shutdownSend();
            }
        });

        ServiceClientSettings settings;
        settings.port = port;
        settings.startService = false;
        settings.serviceProcess = [this](std::string&) { return machine().currentProcessId(); };
        ServiceRequest request;
        request.kind = RequestKind::AuthInfo;
        const ExchangeResult result = ServiceClient(settings).exchange(request);

        EXPECT_EQ(entry.status, result.status) << result.detail << result.responder.problem;
        EXPECT_EQ(entry.squatterLetsGo ? SquatterId : machine().currentProcessId(),
                  result.responder.acceptorPid);
        EXPECT_EQ(!entry.squatterLetsGo, result.responder.verified);
        // The client has closed its end: what it sent is there, then the end.
        accepted.setReceiveTimeout(Poco::Timespan(5, 0));
        char first = 0;
        EXPECT_EQ(entry.requestArrives ? 1 : 0, accepted.receiveBytes(&first, 1));
    }
}

}  // namespace
}  // namespace OrvaneClient

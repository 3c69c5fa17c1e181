#pragma once

// A service on the emulated machine with callers to connect from: what the caller verification
// tests share. Header-only: it is built only with the emulation, by the tests that include it.

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "service/ServiceServer.h"
#include "tests/service/ServiceTestClient.h"
#include "tests/support/EmulatedMachineTest.h"
#include "tests/support/FakeOrvaneService.h"
#include "tests/support/LogCapture.h"

#include <Poco/Net/SocketAddress.h>
#include <Poco/Thread.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace OrvaneClient::Testing {

namespace desktop = orvane::protocols::desktop_service;
constexpr int Warning = Poco::Message::PRIO_WARNING;
inline const std::string PlayerSid = "S-1-5-21-2254011875-3712098642-1289462413-1001";
inline const std::string OtherSid = "S-1-5-21-2254011875-3712098642-1289462413-1002";
constexpr DWORD ClientId = 5120;  // the profile's desktop client, the default caller
constexpr DWORD CallerId = 7001;  // the process a case calls from

inline std::string launchBody() {
    desktop::LaunchElevatedRequest request;
    request.set_process_path("C:\\Games\\run.exe");
    request.set_command_line_args("");
    request.set_working_dir("C:\\Games");
    request.set_elevated(true);
    return request.SerializeAsString();
}

inline std::string fixDirectoryBody() {
    desktop::FixDirectoryPrivilegesRequest request;
    request.set_directory("C:\\Games");
    return request.SerializeAsString();
}

class CallerVerificationTest : public EmulatedMachineTest {
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
    std::unique_ptr<ServiceTestClient> connectAs(DWORD processId) {
        Poco::Net::StreamSocket socket;
        socket.impl()->bind(Poco::Net::SocketAddress("127.0.0.1", 0));
        if (processId != 0) {
            machine().setConnectionOwner(socket.address().port(), processId);
        }
        socket.connect(Poco::Net::SocketAddress("127.0.0.1", server->port()));
        return std::make_unique<ServiceTestClient>(socket);
    }

    // Sends request `type` with `oseq` and returns the answer's code, or -1 for none.
    int ask(ServiceTestClient& client, uint32_t type, uint32_t oseq) {
        const std::string body = type == desktop::LAUNCH_ELEVATED_REQUEST ? launchBody()
                                 : type == desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST
                                     ? fixDirectoryBody()
                                     : std::string();
        client.send(RequestPacket(type, oseq, body));
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
    void expectAllRefused(ServiceTestClient& client,
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

    LogCapture capture;
    FakeOrvaneService service;
    std::unique_ptr<ServiceServer> server;
};

}  // namespace OrvaneClient::Testing

#pragma once

// Reaches the private routines of OrvaneService for the tests of the privileged operations. One
// definition for every test source, so that the friend is one class.

#include "service/OrvaneService.h"

#include <Poco/Net/SocketAddress.h>
#include <Poco/Timespan.h>

#include <memory>
#include <string>

namespace OrvaneClient {

class OrvaneServiceTestPeer {
public:
    // A service on an ephemeral loopback port, never started.
    static std::unique_ptr<OrvaneService> makeService() {
        return std::make_unique<OrvaneService>(Poco::Net::SocketAddress("127.0.0.1", 0),
                                               Poco::Timespan(ServiceReactorTimeoutSeconds, 0));
    }

    static bool queryConsoleUserToken(OrvaneService& service, HANDLE* token) {
        return service.queryConsoleUserToken(token);
    }
    static bool getLaunchToken(OrvaneService& service,
                               HANDLE userToken,
                               bool elevated,
                               HANDLE* launchToken) {
        return service.getLaunchToken(userToken, elevated, launchToken);
    }
    static HANDLE findConsoleProcessToken(OrvaneService& service, const std::string& name) {
        return service.findConsoleProcessToken(name);
    }
    static HANDLE getShellUserToken(OrvaneService& service) { return service.getShellUserToken(); }
};

}  // namespace OrvaneClient

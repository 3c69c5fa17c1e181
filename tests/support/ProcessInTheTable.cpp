#include "tests/support/ProcessInTheTable.h"

#include "core/messaging/ServiceClient.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <gtest/gtest.h>

#include <string>

namespace OrvaneClient::Testing {

DWORD ProcessInTheTable() {
    static const DWORD self = [] {
        Poco::Net::ServerSocket listener(Poco::Net::SocketAddress("127.0.0.1", 0), 1);
        Poco::Net::StreamSocket client(listener.address());
        Poco::Net::StreamSocket accepted = listener.acceptConnection();
        std::string problem;
        const DWORD owner = ServiceClient::AcceptingProcess(client, Poco::Timespan(5, 0), problem);
        EXPECT_NE(owner, 0u) << problem;
        return owner;
    }();
    return self;
}

}  // namespace OrvaneClient::Testing

#pragma once

// One request to the service over a fresh connection, and the packet that answers it.

#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"
#include "tools/orvane-client/ClientOptions.h"

#include <Poco/Timespan.h>

#include <string>
#include <vector>

namespace OrvaneClient {

enum class ExchangeStatus {
    // A whole packet came back; it is in `header` and `body`, not yet checked.
    Replied,
    // No connection, or the request could not be written.
    ConnectFailed,
    SendFailed,
    // Nothing whole arrived within the timeout.
    TimedOut,
    // The service closed or reset the connection before a whole packet arrived.
    ConnectionClosed,
    // Reading failed for another reason.
    ReadFailed,
    // A packet arrived whose header did not parse.
    HeaderUnparsable,
};

struct ExchangeResult {
    ExchangeStatus status = ExchangeStatus::ConnectFailed;
    // For the failures: the networking library's text, when there is one.
    std::string detail;
    qovex::protocols::pb::Header header;
    std::vector<char> body;
};

class ServiceClient {
public:
    // `timeout` bounds the connection attempt and, separately, the wait for the reply.
    ServiceClient(std::string host, std::uint16_t port, Poco::Timespan timeout);

    // Connects, sends the request that `options` describes with `options.oseq`, and waits for
    // the first whole packet that comes back. The connection is closed before returning.
    // Never throws a Poco::Exception.
    ExchangeResult exchange(const ClientOptions& options);

private:
    std::string host;
    std::uint16_t port;
    Poco::Timespan timeout;
};

}  // namespace OrvaneClient

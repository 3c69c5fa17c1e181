#pragma once

// orvane-client as a function: parse the command line, send the request, print the reply.

#include "core/messaging/ServiceClient.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace OrvaneClient {

// `arguments` excludes the program name. The decoded reply goes to `out`; failures, each in
// one line beginning "orvane-client: ", go to `err`. Returns the process exit code (see
// ClientExitCode.h). With --verbose the protocol's log lines go to `err` while it runs; the
// logging configuration is restored before it returns. Never throws a Poco::Exception. The
// command line sets the endpoint, the timeout and whether to start the service in `defaults`.
int RunClient(const std::vector<std::string>& arguments,
              std::ostream& out,
              std::ostream& err,
              const ServiceClientSettings& defaults = ServiceClientSettings());

}  // namespace OrvaneClient

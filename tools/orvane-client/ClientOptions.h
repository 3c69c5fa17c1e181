#pragma once

// Command line of orvane-client: which request to send, and where.

#include "core/messaging/ServiceClient.h"

#include <cstdint>
#include <string>
#include <vector>

namespace OrvaneClient {

// The commands are the requests of the core library's client.
using ClientCommand = RequestKind;

struct ClientOptions {
    ClientCommand command = ClientCommand::LibraryInfo;
    std::string host = "127.0.0.1";
    std::uint16_t port = 9977;
    std::uint32_t oseq = 1;
    // How long to wait for the reply once the request is sent, and for the connection.
    double timeoutSeconds = 5.0;
    bool verbose = false;
    bool help = false;
    // Do not start the service when nothing listens.
    bool noStart = false;
    // The service to start and to check the listener against, as the SCM names it.
    std::string serviceName = "Orvane Client Service";
    // Send whatever the listener is: for trying the service's own checks of its callers.
    bool trustAnyListener = false;

    // launch
    std::string processPath;
    std::string commandLineArgs;
    std::string workingDir;
    bool elevated = false;

    // fix-dir
    std::string directory;
};

struct ParsedClientOptions {
    bool ok = false;
    ClientOptions options;
    // Set when !ok: what was wrong, in one line.
    std::string error;
};

// `arguments` excludes the program name. Options may stand before or after the command;
// "--" ends the options. Never throws.
ParsedClientOptions ParseClientOptions(const std::vector<std::string>& arguments);

// The --help text, exit codes included.
std::string ClientUsage();

}  // namespace OrvaneClient

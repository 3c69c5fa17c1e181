#include "tools/orvane-client/ClientOptions.h"

#include "tools/orvane-client/ClientExitCode.h"

namespace OrvaneClient {
namespace {

bool ParseUnsigned(const std::string& text, std::uint64_t maximum, std::uint64_t& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    std::uint64_t result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (result > maximum) {
        return false;
    }
    value = result;
    return true;
}

// Decimal seconds such as "5" or "0.25", by hand: strtod would follow the C locale's
// decimal separator and accept forms like "1e3", "inf" or "0x10".
bool ParseSeconds(const std::string& text, double& value) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction =
        point == std::string::npos ? std::string() : text.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || whole.size() > 4 ||
        whole.find_first_not_of("0123456789") != std::string::npos ||
        fraction.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    double result = 0;
    for (const char c : whole) {
        result = result * 10 + (c - '0');
    }
    double scale = 0.1;
    for (const char c : fraction) {
        result += (c - '0') * scale;
        scale /= 10;
    }
    // At least a millisecond, at most an hour.
    if (result < 0.001 || result > 3600.0) {
        return false;
    }
    value = result;
    return true;
}

ParsedClientOptions Failure(const std::string& error) {
    ParsedClientOptions parsed;
    parsed.error = error;
    return parsed;
}

}  // namespace

ParsedClientOptions ParseClientOptions(const std::vector<std::string>& arguments) {
    ParsedClientOptions parsed;
    ClientOptions& options = parsed.options;
    std::vector<std::string> positionals;
    bool launchOptionSeen = false;
    bool optionsEnded = false;

    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            positionals.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            options.help = true;
            continue;
        }
        if (argument.compare(0, 2, "--") != 0) {
            return Failure("unknown option " + argument);
        }

        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const bool hasInlineValue = equals != std::string::npos;

        if (name == "--elevated" || name == "--verbose" || name == "--no-start" ||
            name == "--trust-any-listener") {
            if (hasInlineValue) {
                return Failure("option " + name + " takes no value");
            }
            if (name == "--elevated") {
                options.elevated = true;
                launchOptionSeen = true;
            } else if (name == "--verbose") {
                options.verbose = true;
            } else if (name == "--no-start") {
                options.noStart = true;
            } else {
                options.trustAnyListener = true;
            }
            continue;
        }
        if (name != "--host" && name != "--port" && name != "--oseq" && name != "--timeout" &&
            name != "--args" && name != "--dir" && name != "--service") {
            return Failure("unknown option " + name);
        }

        std::string value;
        if (hasInlineValue) {
            value = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return Failure("option " + name + " needs a value");
        }

        std::uint64_t number = 0;
        if (name == "--host") {
            if (value.empty()) {
                return Failure("option --host needs a host name or address");
            }
            options.host = value;
        } else if (name == "--port") {
            if (!ParseUnsigned(value, 65535, number) || number == 0) {
                return Failure("option --port: invalid port '" + value + "' (1 to 65535)");
            }
            options.port = static_cast<std::uint16_t>(number);
        } else if (name == "--oseq") {
            if (!ParseUnsigned(value, 4294967295u, number)) {
                return Failure("option --oseq: invalid sequence number '" + value +
                               "' (0 to 4294967295)");
            }
            options.oseq = static_cast<std::uint32_t>(number);
        } else if (name == "--timeout") {
            if (!ParseSeconds(value, options.timeoutSeconds)) {
                return Failure("option --timeout: invalid timeout '" + value +
                               "' (seconds, 0.001 to 3600)");
            }
        } else if (name == "--service") {
            if (value.empty()) {
                return Failure("option --service needs the service's name");
            }
            options.serviceName = value;
        } else if (name == "--args") {
            options.commandLineArgs = value;
            launchOptionSeen = true;
        } else {
            options.workingDir = value;
            launchOptionSeen = true;
        }
    }

    if (options.help) {
        parsed.ok = true;
        return parsed;
    }
    if (positionals.empty()) {
        return Failure("no command given");
    }

    const std::string& command = positionals[0];
    size_t expectedOperands = 0;
    if (command == "library-info") {
        options.command = ClientCommand::LibraryInfo;
    } else if (command == "auth-info") {
        options.command = ClientCommand::AuthInfo;
    } else if (command == "launch") {
        options.command = ClientCommand::Launch;
        expectedOperands = 1;
    } else if (command == "fix-dir") {
        options.command = ClientCommand::FixDirectory;
        expectedOperands = 1;
    } else {
        return Failure("unknown command '" + command + "'");
    }

    if (positionals.size() - 1 != expectedOperands) {
        return Failure(expectedOperands == 0 ? "command " + command + " takes no operand"
                                             : "command " + command + " needs exactly one operand");
    }
    if (launchOptionSeen && options.command != ClientCommand::Launch) {
        return Failure("--args, --dir and --elevated belong to the launch command");
    }
    if (options.command == ClientCommand::Launch) {
        options.processPath = positionals[1];
    } else if (options.command == ClientCommand::FixDirectory) {
        options.directory = positionals[1];
    }
    parsed.ok = true;
    return parsed;
}

std::string ClientUsage() {
    return "Usage: orvane-client [options] <command> [operand]\n"
           "\n"
           "Sends one request to the Orvane Client service and prints its reply and who\n"
           "answered. When nothing listens it starts the service first. Requests other than\n"
           "library-info go only to the service's own process.\n"
           "\n"
           "Commands:\n"
           "  library-info            ask where the service is installed\n"
           "  auth-info               ask for the refresh token stored for the console user\n"
           "  launch <path>           start a program in the console user's desktop\n"
           "      --args <text>       its command-line arguments (default: none)\n"
           "      --dir <directory>   its working directory (default: none)\n"
           "      --elevated          start it with the user's full (elevated) token\n"
           "  fix-dir <directory>     grant the console user full control of a directory\n"
           "\n"
           "Options:\n"
           "  --host <host>           service address (default 127.0.0.1)\n"
           "  --port <port>           service port (default 9977)\n"
           "  --oseq <number>         sequence number of the request (default 1)\n"
           "  --timeout <seconds>     how long to wait for the connection and the reply\n"
           "                          (default 5; fractions allowed)\n"
           "  --no-start              do not start the service when nothing listens\n"
           "  --service <name>        the service to start and to check the listener against\n"
           "                          (default \"Orvane Client Service\")\n"
           "  --trust-any-listener    send the request whoever listens (to try the service's\n"
           "                          own checks of its callers from elsewhere)\n"
           "  --verbose               write the protocol's log lines to stderr\n"
           "  -h, --help              show this text\n"
           "\n"
           "Exit codes:\n"
           "  " +
           std::to_string(ClientExitCode::Success) +
           "  the service answered with code OK (200)\n"
           "  " +
           std::to_string(ClientExitCode::ErrorReply) +
           "  the service answered with another code (for example 404 or 500)\n"
           "  " +
           std::to_string(ClientExitCode::Usage) +
           "  the command line was not understood\n"
           "  " +
           std::to_string(ClientExitCode::ConnectionFailed) +
           "  the connection could not be made or the request not sent\n"
           "  " +
           std::to_string(ClientExitCode::NoReplyTimeout) +
           "  no reply came within the timeout\n"
           "  " +
           std::to_string(ClientExitCode::NoReplyClosed) +
           "  no reply: the connection was closed or failed before one came\n"
           "  " +
           std::to_string(ClientExitCode::UnexpectedReplyType) +
           "  the reply was not of the type that answers the request\n"
           "  " +
           std::to_string(ClientExitCode::UnparsableReply) +
           "  the reply's header or body did not parse\n"
           "  " +
           std::to_string(ClientExitCode::NotTheService) +
           "  another process listens on the port: nothing was sent to it\n"
           "  " +
           std::to_string(ClientExitCode::ServiceNotStarted) +
           "  nothing listened and the service could not be started\n";
}

}  // namespace OrvaneClient

#include "tools/orvane-client/ClientApplication.h"

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "core/messaging/ProtobufReader.h"
#include "core/messaging/ServiceClient.h"
#include "tools/orvane-client/ClientExitCode.h"
#include "tools/orvane-client/ClientOptions.h"
#include "tools/orvane-client/NoScmAdvice.h"

#include <Poco/AutoPtr.h>
#include <Poco/ConsoleChannel.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <google/protobuf/unknown_field_set.h>

#include <cstdint>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>

namespace OrvaneClient {
namespace {

namespace desktop = orvane::protocols::desktop_service;
using qovex::protocols::pb::Header;
using qovex::protocols::pb::Response;

constexpr const char* Prefix = "orvane-client: ";

// Sends the facade's lines to `stream` while alive (the root logger's channel and level are
// put back afterwards, so nothing keeps pointing at the stream).
class VerboseLogging {
public:
    explicit VerboseLogging(std::ostream& stream) {
        Poco::Logger& root = Poco::Logger::root();
        previousChannel = root.getChannel();
        previousLevel = root.getLevel();
        Poco::Logger::setChannel("", new Poco::ConsoleChannel(stream));
        Poco::Logger::setLevel("", Poco::Message::PRIO_DEBUG);
    }
    ~VerboseLogging() {
        Poco::Logger::setChannel("", previousChannel);
        Poco::Logger::setLevel("", previousLevel);
    }
    VerboseLogging(const VerboseLogging&) = delete;
    VerboseLogging& operator=(const VerboseLogging&) = delete;

private:
    Poco::Channel::Ptr previousChannel;
    int previousLevel = Poco::Message::PRIO_INFORMATION;
};

std::uint32_t RequestType(ClientCommand command) {
    switch (command) {
        case ClientCommand::LibraryInfo:
            return desktop::LIBRARY_INFO_REQUEST;
        case ClientCommand::AuthInfo:
            return desktop::AUTH_INFO_REQUEST;
        case ClientCommand::Launch:
            return desktop::LAUNCH_ELEVATED_REQUEST;
        case ClientCommand::FixDirectory:
            return desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST;
    }
    return desktop::UNKNOWN_MESSAGE;
}

const char* CommandName(ClientCommand command) {
    switch (command) {
        case ClientCommand::LibraryInfo:
            return "library-info";
        case ClientCommand::AuthInfo:
            return "auth-info";
        case ClientCommand::Launch:
            return "launch";
        case ClientCommand::FixDirectory:
            return "fix-dir";
    }
    return "request";
}

ServiceRequest RequestFrom(const ClientOptions& options) {
    ServiceRequest request;
    request.kind = options.command;
    request.oseq = options.oseq;
    request.processPath = options.processPath;
    request.commandLineArgs = options.commandLineArgs;
    request.workingDir = options.workingDir;
    request.elevated = options.elevated;
    request.directory = options.directory;
    return request;
}

// "; started by this request" and the like, after `separator`; empty when nobody's start was
// waited for.
std::string StartText(ServiceStart start, const char* separator) {
    switch (start) {
        case ServiceStart::ByThisRequest:
            return std::string(separator) + "started by this request";
        case ServiceStart::ByAnotherRequest:
            return std::string(separator) + "started by another request";
        case ServiceStart::None:
            break;
    }
    return std::string();
}

// "pid 4242, the service" and the like: who accepted the connection.
std::string ResponderText(const Responder& responder) {
    std::string text = responder.acceptorPid != 0 ? "pid " + std::to_string(responder.acceptorPid)
                                                  : std::string("an unknown process");
    if (responder.verified) {
        text += ", the service";
    } else if (responder.servicePid != 0) {
        text += ", not the service (pid " + std::to_string(responder.servicePid) + ")";
    } else {
        text += ", not verified as the service";
    }
    if (!responder.problem.empty()) {
        text += ": " + responder.problem;
    }
    return text + StartText(responder.start, "; ");
}

std::string TypeText(std::uint32_t type) {
    const int value = static_cast<int>(type);
    const std::string name =
        type <= 0x7FFFFFFF && desktop::MessageType_IsValid(value)
            ? desktop::MessageType_Name(static_cast<desktop::MessageType>(value))
            : "unknown type";
    return name + " (" + std::to_string(type) + ")";
}

// The reply's code. A code that the schema does not know is kept by the parser as an unknown
// field, and the extension then reads as its default OK: look there first, or such a reply
// would pass for a success.
std::uint64_t ReplyCode(const Header& header) {
    if (header.HasExtension(Response::code)) {
        return static_cast<std::uint64_t>(header.GetExtension(Response::code));
    }
    const google::protobuf::UnknownFieldSet& unknown = header.unknown_fields();
    std::uint64_t code = Response::OK;
    for (int i = 0; i < unknown.field_count(); ++i) {
        const google::protobuf::UnknownField& field = unknown.field(i);
        if (field.number() == Response::kCodeFieldNumber &&
            field.type() == google::protobuf::UnknownField::TYPE_VARINT) {
            code = field.varint();
        }
    }
    return code;
}

std::string CodeText(std::uint64_t code) {
    const std::string name = code <= 0x7FFFFFFF && Response::Code_IsValid(static_cast<int>(code))
                                 ? Response::Code_Name(static_cast<Response::Code>(code))
                                 : "unknown code";
    return name + " (" + std::to_string(code) + ")";
}

void PrintField(std::ostream& out, const std::string& label, const std::string& value) {
    out << std::left << std::setw(15) << label << value << "\n";
}

// Decodes the body of a 200 reply into printable fields. False when it does not parse.
bool DecodeBody(const ExchangeResult& reply,
                std::vector<std::pair<std::string, std::string>>& fields,
                std::string& messageName) {
    const Header& header = reply.header;
    switch (header.type()) {
        case desktop::LIBRARY_INFO_RESPONSE: {
            messageName = "LibraryInfoResponse";
            desktop::LibraryInfoResponse message;
            if (!ProtobufReader::parseLibraryInfoResponse(reply.body, header, message)) {
                return false;
            }
            fields.emplace_back("location", message.location());
            return true;
        }
        case desktop::AUTH_INFO_RESPONSE: {
            messageName = "AuthInfoResponse";
            desktop::AuthInfoResponse message;
            // The same checks as the reader's parse functions, which have none for this type.
            if (header.size() == 0 || reply.body.size() < header.size() ||
                !message.ParseFromArray(reply.body.data(), static_cast<int>(header.size()))) {
                return false;
            }
            fields.emplace_back("refresh_token", message.refresh_token());
            return true;
        }
        case desktop::LAUNCH_ELEVATED_RESPONSE: {
            messageName = "LaunchElevatedResponse";
            desktop::LaunchElevatedResponse message;
            if (!ProtobufReader::parseLaunchElevatedResponse(reply.body, header, message)) {
                return false;
            }
            fields.emplace_back("pid", std::to_string(message.pid()));
            return true;
        }
        default:
            // FIX_DIRECTORY_PRIVILEGES_RESPONSE has no body.
            return true;
    }
}

int ReportFailure(const ExchangeResult& result, const ClientOptions& options, std::ostream& err) {
    const std::string endpoint = options.host + ":" + std::to_string(options.port);
    std::ostringstream seconds;
    seconds << options.timeoutSeconds;
    switch (result.status) {
        case ExchangeStatus::ConnectFailed:
            err << Prefix << "cannot connect to " << endpoint << ": " << result.detail
                << StartText(result.responder.start, "; it was ") << "\n";
            return ClientExitCode::ConnectionFailed;
        case ExchangeStatus::StartFailed:
            err << Prefix << "nothing listens on " << endpoint
                << " and the service could not be started: " << result.detail << "\n";
            return ClientExitCode::ServiceNotStarted;
        case ExchangeStatus::NotTheService:
            err << Prefix << "refused to send " << CommandName(options.command) << " to "
                << endpoint << ": the listener is " << ResponderText(result.responder) << "\n";
            return ClientExitCode::NotTheService;
        case ExchangeStatus::SendFailed:
            err << Prefix << "connected to " << endpoint
                << " but the request could not be sent (--verbose shows why)\n";
            return ClientExitCode::ConnectionFailed;
        case ExchangeStatus::TimedOut:
            err << Prefix << "no reply from " << endpoint << " within " << seconds.str()
                << " seconds\n";
            return ClientExitCode::NoReplyTimeout;
        case ExchangeStatus::ConnectionClosed:
            err << Prefix << "no reply: " << endpoint
                << " closed the connection before a whole reply arrived\n";
            return ClientExitCode::NoReplyClosed;
        case ExchangeStatus::ReadFailed:
            err << Prefix << "no reply: reading from " << endpoint << " failed"
                << (result.detail.empty() ? std::string() : ": " + result.detail)
                << " (--verbose shows why)\n";
            return ClientExitCode::NoReplyClosed;
        case ExchangeStatus::HeaderUnparsable:
            err << Prefix << "the reply's header did not parse\n";
            return ClientExitCode::UnparsableReply;
        case ExchangeStatus::Replied:
            break;
    }
    return ClientExitCode::Success;
}

// For a failure once connected: who was listening.
int ReportFailureAfterConnect(const ExchangeResult& result,
                              const ClientOptions& options,
                              std::ostream& err) {
    const int code = ReportFailure(result, options, err);
    if (result.responder.scmError == RPC_S_SERVER_UNAVAILABLE) {
        err << Prefix << NoScmAdvice() << "\n";
    }
    const bool connected = result.status != ExchangeStatus::ConnectFailed &&
                           result.status != ExchangeStatus::StartFailed &&
                           result.status != ExchangeStatus::NotTheService;
    if (connected) {
        err << Prefix << "the listener was " << ResponderText(result.responder) << "\n";
    }
    return code;
}

int ReportReply(const ExchangeResult& reply,
                const ClientOptions& options,
                std::ostream& out,
                std::ostream& err) {
    const Header& header = reply.header;
    const std::uint64_t code = ReplyCode(header);
    const std::uint32_t rseq = header.GetExtension(Response::rseq);

    PrintField(out, "answered by", ResponderText(reply.responder));
    PrintField(out, "reply", TypeText(header.type()));
    PrintField(out, "rseq", std::to_string(rseq));
    PrintField(out, "code", CodeText(code));

    const std::uint32_t expectedType = RequestType(options.command) + 1;
    if (header.type() != expectedType) {
        err << Prefix << "the reply of type " << TypeText(header.type())
            << " does not answer the request; expected " << TypeText(expectedType) << "\n";
        return ClientExitCode::UnexpectedReplyType;
    }
    if (rseq != options.oseq) {
        err << Prefix << "note: the reply's rseq " << rseq << " differs from the request's oseq "
            << options.oseq << "\n";
    }

    if (code != Response::OK) {
        if (header.size() > 0) {
            PrintField(out, "body", std::to_string(header.size()) + " bytes, not decoded");
        }
        err << Prefix << "the service answered " << CodeText(code) << "\n";
        return ClientExitCode::ErrorReply;
    }

    std::vector<std::pair<std::string, std::string>> fields;
    std::string messageName;
    if (!DecodeBody(reply, fields, messageName)) {
        err << Prefix << "the reply's body (" << header.size() << " bytes) did not parse as "
            << messageName << "\n";
        return ClientExitCode::UnparsableReply;
    }
    for (const auto& [label, value] : fields) {
        PrintField(out, label, value);
    }
    return ClientExitCode::Success;
}

}  // namespace

int RunClient(const std::vector<std::string>& arguments,
              std::ostream& out,
              std::ostream& err,
              const ServiceClientSettings& defaults) {
    const ParsedClientOptions parsed = ParseClientOptions(arguments);
    if (!parsed.ok) {
        err << Prefix << parsed.error << "\n"
            << ClientUsage().substr(0, ClientUsage().find('\n') + 1) << Prefix
            << "--help lists the commands\n";
        return ClientExitCode::Usage;
    }
    const ClientOptions& options = parsed.options;
    if (options.help) {
        out << ClientUsage();
        return ClientExitCode::Success;
    }

    std::unique_ptr<VerboseLogging> verbose;
    if (options.verbose) {
        verbose = std::make_unique<VerboseLogging>(err);
    }

    const auto timeout = Poco::Timespan(static_cast<Poco::Timespan::TimeDiff>(
        options.timeoutSeconds * static_cast<double>(Poco::Timespan::SECONDS)));
    ServiceClientSettings settings = defaults;
    settings.host = options.host;
    settings.port = options.port;
    settings.timeout = timeout;
    settings.startService = !options.noStart;
    settings.serviceName = options.serviceName;
    settings.requireService = !options.trustAnyListener;
    ServiceClient client(settings);
    const ExchangeResult result = client.exchange(RequestFrom(options));
    if (result.status != ExchangeStatus::Replied) {
        return ReportFailureAfterConnect(result, options, err);
    }
    return ReportReply(result, options, out, err);
}

}  // namespace OrvaneClient

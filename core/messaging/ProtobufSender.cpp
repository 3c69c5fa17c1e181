#include "core/messaging/ProtobufSender.h"

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "core/logfacade/LogFacade.h"
#include "core/messaging/ExceptionText.h"
#include "core/messaging/PacketFraming.h"

#include <Poco/Exception.h>

#include <utility>

namespace OrvaneClient {

using orvane::protocols::desktop_service::AuthInfoResponse;
using orvane::protocols::desktop_service::FixDirectoryPrivilegesRequest;
using orvane::protocols::desktop_service::LaunchElevatedRequest;
using orvane::protocols::desktop_service::LaunchElevatedResponse;
using orvane::protocols::desktop_service::LibraryInfoResponse;
using qovex::protocols::pb::Header;
using qovex::protocols::pb::Response;

namespace {

void SetCode(Header& header, std::uint32_t code) {
    if (Response::Code_IsValid(static_cast<int>(code))) {
        header.SetExtension(Response::code, static_cast<Response::Code>(code));
    } else {
        // The generated setter accepts only the enum's values (a debug build aborts on any
        // other). As an unknown field the number still reaches the wire, in the same place and
        // encoding: field 101 follows rseq (100) and nothing else is written after it.
        header.mutable_unknown_fields()->AddVarint(Response::kCodeFieldNumber, code);
    }
}

}  // namespace

ProtobufSender::ProtobufSender(Poco::Net::StreamSocket& socket) : socket(socket) {
    socket.setNoDelay(true);
    socket.setKeepAlive(true);
}

ProtobufSender::ProtobufSender(Poco::Net::StreamSocket& socket, PacketSink packetSink)
    : ProtobufSender(socket) {
    this->packetSink = std::move(packetSink);
}

void ProtobufSender::writePacket(const std::string& packet) {
    if (packetSink) {
        packetSink(packet);
        return;
    }
    socket.sendBytes(packet.data(), static_cast<int>(packet.size()), 0);
}

void ProtobufSender::sendMessage(std::optional<std::uint32_t> oseq,
                                 std::optional<std::uint32_t> rseq,
                                 std::uint32_t type,
                                 const std::string& body,
                                 std::optional<std::uint32_t> code) {
    Header header;
    header.set_sort(1);
    header.set_type(type);
    header.set_size(static_cast<std::uint32_t>(body.size()));
    if (oseq) {
        header.set_oseq(*oseq);
    }
    header.SetExtension(Response::rseq, rseq.value_or(0));
    if (code) {
        SetCode(header, *code);
    }

    const std::string packet = FramePacket(header, body);
    writePacket(packet);

    LogInfo("Sending message of type %d [Sequence Number: %d], rseq %d completed OK",
            static_cast<int>(type),
            oseq ? static_cast<int>(*oseq) : -1,
            static_cast<int>(header.GetExtension(Response::rseq)));
}

bool ProtobufSender::sendErrorReply(const Header& request, Response::Code code) {
    std::uint32_t responseType = 0;
    switch (request.type()) {
        case orvane::protocols::desktop_service::LIBRARY_INFO_REQUEST:
            responseType = orvane::protocols::desktop_service::LIBRARY_INFO_RESPONSE;
            break;
        case orvane::protocols::desktop_service::AUTH_INFO_REQUEST:
            responseType = orvane::protocols::desktop_service::AUTH_INFO_RESPONSE;
            break;
        case orvane::protocols::desktop_service::LAUNCH_ELEVATED_REQUEST:
            responseType = orvane::protocols::desktop_service::LAUNCH_ELEVATED_RESPONSE;
            break;
        case orvane::protocols::desktop_service::FIX_DIRECTORY_PRIVILEGES_REQUEST:
            responseType = orvane::protocols::desktop_service::FIX_DIRECTORY_PRIVILEGES_RESPONSE;
            break;
        default:
            LogWarning("Unknown header type during sendErrorReply: %hu",
                       static_cast<unsigned short>(request.type()));
            return false;
    }

    try {
        Header reply;
        reply.set_sort(1);
        reply.set_type(responseType);
        reply.SetExtension(Response::rseq, request.has_oseq() ? request.oseq() : 0);
        reply.SetExtension(Response::code, code);

        const std::string packet = FramePacket(reply, std::string());
        writePacket(packet);

        LogInfo("Sending response of type %d [Sequence Number: %d], rseq %d completed OK",
                static_cast<int>(responseType),
                request.has_oseq() ? static_cast<int>(request.oseq()) : -1,
                static_cast<int>(reply.GetExtension(Response::rseq)));
        return true;
    } catch (const Poco::Exception& exception) {
        LogError("error sending error reply: %s", ExceptionText(exception).c_str());
        return false;
    }
}

bool ProtobufSender::trySendMessage(const char* errorFormat,
                                    std::optional<std::uint32_t> oseq,
                                    std::optional<std::uint32_t> rseq,
                                    std::uint32_t type,
                                    const std::string& body,
                                    std::optional<std::uint32_t> code) {
    try {
        sendMessage(oseq, rseq, type, body, code);
        return true;
    } catch (const Poco::Exception& exception) {
        // The format is checked at each call site (the declaration carries the attribute).
        ORVANE_FORWARDED_FORMAT_BEGIN
        LogError(errorFormat, ExceptionText(exception).c_str());
        ORVANE_FORWARDED_FORMAT_END
        return false;
    }
}

bool ProtobufSender::sendLibraryInfoResponse(std::optional<std::uint32_t> rseq,
                                             const std::string& location) {
    LibraryInfoResponse response;
    response.set_location(location);
    return trySendMessage("error sending LibraryInfoResponse: %s",
                          std::nullopt,
                          rseq,
                          orvane::protocols::desktop_service::LIBRARY_INFO_RESPONSE,
                          response.SerializeAsString(),
                          Response::OK);
}

bool ProtobufSender::sendAuthInfoResponse(std::optional<std::uint32_t> rseq,
                                          const std::string& refreshToken) {
    AuthInfoResponse response;
    response.set_refresh_token(refreshToken);
    return trySendMessage("error sending AuthInfoResponse: %s",
                          std::nullopt,
                          rseq,
                          orvane::protocols::desktop_service::AUTH_INFO_RESPONSE,
                          response.SerializeAsString(),
                          Response::OK);
}

bool ProtobufSender::sendLaunchElevatedResponse(std::optional<std::uint32_t> rseq,
                                                std::uint32_t pid) {
    LaunchElevatedResponse response;
    response.set_pid(pid);
    return trySendMessage("error sending LaunchElevatedResponse: %s",
                          std::nullopt,
                          rseq,
                          orvane::protocols::desktop_service::LAUNCH_ELEVATED_RESPONSE,
                          response.SerializeAsString(),
                          Response::OK);
}

bool ProtobufSender::sendLibraryInfoRequest(std::optional<std::uint32_t> oseq) {
    return trySendMessage("error sending LibraryInfoRequest: %s",
                          oseq,
                          std::nullopt,
                          orvane::protocols::desktop_service::LIBRARY_INFO_REQUEST,
                          std::string(),
                          std::nullopt);
}

bool ProtobufSender::sendLaunchElevatedRequest(std::optional<std::uint32_t> oseq,
                                               const std::string& processPath,
                                               const std::string& commandLineArgs,
                                               const std::string& workingDir,
                                               bool elevated) {
    LaunchElevatedRequest request;
    request.set_process_path(processPath);
    request.set_command_line_args(commandLineArgs);
    request.set_working_dir(workingDir);
    request.set_elevated(elevated);
    return trySendMessage("error sending LaunchElevatedRequest: %s",
                          oseq,
                          std::nullopt,
                          orvane::protocols::desktop_service::LAUNCH_ELEVATED_REQUEST,
                          request.SerializeAsString(),
                          std::nullopt);
}

bool ProtobufSender::sendFixDirectoryPrivilegesRequest(std::optional<std::uint32_t> oseq,
                                                       const std::string& directory) {
    FixDirectoryPrivilegesRequest request;
    request.set_directory(directory);
    return trySendMessage("error sending FixDirectoryPrivilegesRequest: %s",
                          oseq,
                          std::nullopt,
                          orvane::protocols::desktop_service::FIX_DIRECTORY_PRIVILEGES_REQUEST,
                          request.SerializeAsString(),
                          std::nullopt);
}

}  // namespace OrvaneClient

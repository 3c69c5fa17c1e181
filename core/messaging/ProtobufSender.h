#pragma once

// The sending side of the desktop service protocol: frames a Header and a body as
// [H, two bytes big-endian][Header][body] and writes each packet with one sendBytes call.
//
// Responses carry `rseq`, the `oseq` of the request they answer (0 when it had none), and a
// `code`. The sender keeps no sequence counter: the requesting side takes `oseq` from its
// caller. One sender per connection, used by one thread at a time; it holds no lock.

#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"
#include "core/logfacade/LogFacade.h"

#include <Poco/Net/StreamSocket.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace OrvaneClient {

class ProtobufSender {
public:
    // Keeps `socket` by reference (the caller owns it and keeps it alive longer than the
    // sender) and turns on TCP no-delay and keep-alive. Exceptions of the networking library
    // from the two options pass to the caller.
    explicit ProtobufSender(Poco::Net::StreamSocket& socket);
    // The same, but each framed packet goes to `packetSink` instead of a sendBytes call: a
    // server that must never wait for a slow reader queues its packets there. Exceptions the
    // sink throws are treated as those of a failed write.
    using PacketSink = std::function<void(const std::string& packet)>;
    ProtobufSender(Poco::Net::StreamSocket& socket, PacketSink packetSink);

    ProtobufSender(const ProtobufSender&) = delete;
    ProtobufSender& operator=(const ProtobufSender&) = delete;

    // Sends one packet: Header{sort 1, type, size = body.size() (written also when 0), oseq
    // when given, rseq (0 when not given), code when given}, then `body`. `code` is normally a
    // Response::Code value; another number is written to the wire unchanged all the same.
    // Logs the information line "Sending message of type ..." after the write. Exceptions of
    // the networking library pass to the caller.
    void sendMessage(std::optional<std::uint32_t> oseq,
                     std::optional<std::uint32_t> rseq,
                     std::uint32_t type,
                     const std::string& body,
                     std::optional<std::uint32_t> code);

    // Answers `request` with a header-only packet of its response type (request type + 1),
    // `rseq` = the request's `oseq` (0 when absent) and `code`. Requests of a type that has no
    // response type (anything but 1, 3, 5, 7) get nothing: a warning line, no bytes, false.
    // A failed write is logged at error level and gives false.
    bool sendErrorReply(const qovex::protocols::pb::Header& request,
                        qovex::protocols::pb::Response::Code code);

    // Responses with a body and code OK. `rseq` is the request's `oseq`, absent when it had
    // none. False, after an error line, when the write fails.
    bool sendLibraryInfoResponse(std::optional<std::uint32_t> rseq, const std::string& location);
    bool sendAuthInfoResponse(std::optional<std::uint32_t> rseq, const std::string& refreshToken);
    bool sendLaunchElevatedResponse(std::optional<std::uint32_t> rseq, std::uint32_t pid);

    // The requesting side, for clients of the service: requests carry the caller's `oseq`, no
    // code, and `rseq` 0. False, after an error line, when the write fails.
    bool sendLibraryInfoRequest(std::optional<std::uint32_t> oseq);
    bool sendLaunchElevatedRequest(std::optional<std::uint32_t> oseq,
                                   const std::string& processPath,
                                   const std::string& commandLineArgs,
                                   const std::string& workingDir,
                                   bool elevated);
    bool sendFixDirectoryPrivilegesRequest(std::optional<std::uint32_t> oseq,
                                           const std::string& directory);

private:
    // sendMessage, with a library exception logged at error level through `errorFormat` (one
    // %s: the exception's text) and turned into false.
    bool trySendMessage(ORVANE_FORMAT_STRING(const char* errorFormat),
                        std::optional<std::uint32_t> oseq,
                        std::optional<std::uint32_t> rseq,
                        std::uint32_t type,
                        const std::string& body,
                        std::optional<std::uint32_t> code) ORVANE_PRINTF_FORMAT(2, 0);

    void writePacket(const std::string& packet);

    Poco::Net::StreamSocket& socket;
    PacketSink packetSink;
};

}  // namespace OrvaneClient

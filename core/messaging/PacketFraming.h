#pragma once

// The frame of every packet on the socket: the header's length as two big-endian bytes, the
// header, the body. Header-only, for the tools that speak the protocol without the core library.

#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"

#include <string>

namespace OrvaneClient {

// [H big-endian][header][body], ready for a single sendBytes call.
inline std::string FramePacket(const qovex::protocols::pb::Header& header,
                               const std::string& body) {
    const std::string headerBytes = header.SerializeAsString();
    std::string packet;
    packet.reserve(2 + headerBytes.size() + body.size());
    packet.push_back(static_cast<char>((headerBytes.size() >> 8) & 0xFF));
    packet.push_back(static_cast<char>(headerBytes.size() & 0xFF));
    packet += headerBytes;
    packet += body;
    return packet;
}

}  // namespace OrvaneClient

#pragma once

// The hostile clients and the monitor of orvane-soak. Every connection goes to 127.0.0.1.

#include <Poco/Net/SocketAddress.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace OrvaneSoak {

enum class Kind {
    ResetAfterRequest,  // a whole request, then a reset before the answer is read
    ResetMidPacket,     // the first bytes of a request, then a reset
    Garbage,            // random bytes, then an orderly close
    Truncated,          // a header announcing more body than follows, then an orderly close
    Oversized,          // a header announcing a body larger than any packet may be
    Silent,             // connects and sends nothing for a while
    Slow,               // a whole request one byte at a time, then reads the answer
};
constexpr int KindCount = 7;
const char* KindName(Kind kind);

// Counts shared by all client threads.
struct Tally {
    std::array<std::atomic<long>, KindCount> connections{};
    std::atomic<long> connectFailures{0};
    std::atomic<long> slowAnswers{0};
};

// One hostile connection of `kind`; a refused or failed connect is counted, never thrown.
void RunHostile(const Poco::Net::SocketAddress& service,
                Kind kind,
                std::uint32_t seed,
                Tally& tally);

// A library-info request framed as the desktop client frames it.
std::string LibraryInfoRequest(std::uint32_t oseq);

// One persistent connection with a library-info request every `intervalMs`, until `running`
// turns false or the service fails to answer within a second.
struct MonitorResult {
    long requests = 0;
    long failures = 0;
    double worstLatencyMs = 0;
    std::string firstFailure;
};
MonitorResult RunMonitor(const Poco::Net::SocketAddress& service,
                         long intervalMs,
                         const std::atomic<bool>& running);

}  // namespace OrvaneSoak

// orvane-bench: library-info and auth-info round trips against an in-process ServiceServer with a
// trivial service, on 1 and on 8 concurrent connections, and library-info on a fresh connection
// per request, each beside a minimal blocking loopback ping-pong of the same packet sizes. Prints
// requests per second, 50th and 99th percentile latency and the ratio service / ping-pong.
// Usage: orvane-bench [ROUND_TRIPS], the round trips per run (8 to 10000000, default 20000)

#include "core/Protocols/orvane_desktop_service/Source/orvane_desktop_service.pb.h"
#include "core/Protocols/qovex_pb/Source/qovex_pb.pb.h"
#include "core/messaging/PacketFraming.h"
#include "service/IOrvaneService.h"
#include "service/ServiceServer.h"
#include "tools/WholeNumberArgument.h"

#include <Poco/AutoPtr.h>
#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <Poco/Net/Net.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/NullChannel.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using OrvaneClient::IOrvaneService;

// Answers library-info and auth-info requests with fixed texts. Its grant stands for a long one
// (a folder of 100,000 files): it runs until the bench releases it.
class BenchService : public IOrvaneService {
public:
    bool launchProcess(const char*, const char*, const char*, bool, uint32_t*) override {
        return false;
    }
    bool fixDirectoryPrivileges(const char*, size_t) override {
        std::unique_lock<std::mutex> lock(mutex);
        granting = true;
        changed.notify_all();
        changed.wait(lock, [this] { return released; });
        granting = false;
        return true;
    }
    void waitUntilGranting() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return granting; });
    }
    void releaseGrant() {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
    bool getRefreshToken(std::string& token) override {
        token = "rt1.bench";
        return true;
    }
    std::string getLibraryLocation() override { return "C:\\Program Files\\Orvane Client"; }
    void stop() override {}

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool granting = false;
    bool released = false;
};

// Clients that pipeline library-info requests and never read their replies, until stopped.
class NonReadingClients {
public:
    NonReadingClients(const Poco::Net::SocketAddress& address,
                      int count,
                      const std::string& request) {
        std::string batch;
        for (int i = 0; i < 1024; ++i) {
            batch += request;
        }
        for (int i = 0; i < count; ++i) {
            Poco::Net::StreamSocket socket(Poco::Net::SocketAddress::IPv4);
            socket.setReceiveBufferSize(4096);
            socket.connect(address);
            socket.setSendTimeout(Poco::Timespan(0, 100 * 1000));
            threads.emplace_back([this, socket, batch]() mutable {
                while (!stopping) {
                    try {
                        socket.sendBytes(batch.data(), static_cast<int>(batch.size()));
                    } catch (const Poco::TimeoutException&) {
                        // The service reads no more from it: keep it full.
                    } catch (const Poco::Exception&) {
                        return;
                    }
                }
            });
        }
    }
    ~NonReadingClients() {
        stopping = true;
        for (std::thread& thread : threads) {
            thread.join();
        }
    }

private:
    std::atomic<bool> stopping{false};
    std::vector<std::thread> threads;
};

struct RunResult {
    double requestsPerSecond = 0;
    double p50Microseconds = 0;
    double p99Microseconds = 0;
};

std::string Request(orvane::protocols::desktop_service::MessageType type) {
    qovex::protocols::pb::Header header;
    header.set_sort(1);
    header.set_type(type);
    header.set_size(0);
    header.set_oseq(1);
    return OrvaneClient::FramePacket(header, "");
}

void SendAll(Poco::Net::StreamSocket& socket, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int count =
            socket.sendBytes(bytes.data() + sent, static_cast<int>(bytes.size() - sent));
        if (count <= 0) {
            throw Poco::IOException("send wrote nothing");
        }
        sent += static_cast<size_t>(count);
    }
}

// False when the peer closed first.
bool ReceiveExactly(Poco::Net::StreamSocket& socket, std::string& buffer, size_t count) {
    buffer.resize(count);
    size_t received = 0;
    while (received < count) {
        const int n = socket.receiveBytes(&buffer[received], static_cast<int>(count - received));
        if (n <= 0) {
            return false;
        }
        received += static_cast<size_t>(n);
    }
    return true;
}

// One request to the service, to learn the size of its reply.
size_t ReplySize(const Poco::Net::SocketAddress& address,
                 const std::string& request,
                 unsigned replyType) {
    Poco::Net::StreamSocket socket(address);
    socket.setReceiveTimeout(Poco::Timespan(5, 0));
    SendAll(socket, request);
    std::string bytes;
    if (!ReceiveExactly(socket, bytes, 2)) {
        throw Poco::IOException("no reply from the server");
    }
    const size_t headerLength =
        (static_cast<unsigned char>(bytes[0]) << 8) | static_cast<unsigned char>(bytes[1]);
    std::string headerBytes;
    qovex::protocols::pb::Header header;
    if (!ReceiveExactly(socket, headerBytes, headerLength) ||
        !header.ParseFromString(headerBytes) || header.type() != replyType ||
        header.GetExtension(qovex::protocols::pb::Response::code) != 200) {
        throw Poco::IOException("unexpected reply from the server");
    }
    return 2 + headerLength + header.size();
}

// The rate and percentiles of round trips that took `latencies` (microseconds), `seconds` in all.
RunResult Summary(std::vector<double> latencies, double seconds) {
    std::sort(latencies.begin(), latencies.end());
    RunResult result;
    result.requestsPerSecond = static_cast<double>(latencies.size()) / seconds;
    result.p50Microseconds = latencies[latencies.size() / 2];
    result.p99Microseconds = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    return result;
}

// `connections` clients, each on its own thread and connection, share `roundTrips` requests.
RunResult RunClients(const Poco::Net::SocketAddress& address,
                     int connections,
                     int roundTrips,
                     const std::string& request,
                     size_t replySize) {
    std::vector<std::vector<double>> latencies(connections);
    std::vector<std::thread> clients;
    std::vector<std::string> failures(connections);
    const int perConnection = roundTrips / connections;
    const Clock::time_point start = Clock::now();
    for (int c = 0; c < connections; ++c) {
        clients.emplace_back([&, c] {
            try {
                Poco::Net::StreamSocket socket(address);
                socket.setNoDelay(true);
                socket.setReceiveTimeout(Poco::Timespan(5, 0));
                std::string reply;
                latencies[c].reserve(perConnection);
                for (int i = 0; i < perConnection; ++i) {
                    const Clock::time_point sent = Clock::now();
                    SendAll(socket, request);
                    if (!ReceiveExactly(socket, reply, replySize)) {
                        throw Poco::IOException("connection closed mid-run");
                    }
                    latencies[c].push_back(
                        std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
                }
            } catch (const Poco::Exception& exception) {
                failures[c] = exception.displayText();
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (const std::string& failure : failures) {
        if (!failure.empty()) {
            throw Poco::IOException(failure);
        }
    }

    std::vector<double> all;
    for (const std::vector<double>& some : latencies) {
        all.insert(all.end(), some.begin(), some.end());
    }
    return Summary(std::move(all), seconds);
}

// The baseline: a blocking server thread per connection that reads a request's bytes and
// writes a reply's bytes, with no framing, dispatch or logging.
RunResult RunPingPong(int connections,
                      int roundTrips,
                      const std::string& request,
                      size_t replySize) {
    Poco::Net::ServerSocket listener;
    listener.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true, false);
    listener.listen(64);
    const std::string reply(replySize, 'r');
    std::vector<std::thread> servers;
    std::thread acceptor([&] {
        try {
            for (int c = 0; c < connections; ++c) {
                // Bounded, in case the clients failed before connecting.
                if (!listener.poll(Poco::Timespan(5, 0), Poco::Net::Socket::SELECT_READ)) {
                    return;
                }
                Poco::Net::StreamSocket socket = listener.acceptConnection();
                servers.emplace_back([socket, &request, &reply]() mutable {
                    socket.setNoDelay(true);
                    std::string received;
                    try {
                        while (ReceiveExactly(socket, received, request.size())) {
                            SendAll(socket, reply);
                        }
                    } catch (const Poco::Exception&) {
                        // The client went away; the run reports its own failures.
                    }
                });
            }
        } catch (const Poco::Exception&) {
            // Accepting failed; the clients report it.
        }
    });
    auto joinAll = [&] {
        acceptor.join();
        for (std::thread& server : servers) {
            server.join();
        }
    };
    try {
        const RunResult result =
            RunClients(listener.address(), connections, roundTrips, request, replySize);
        joinAll();
        return result;
    } catch (...) {
        joinAll();
        throw;
    }
}

// One client that opens a connection for every request: connect, request, reply, close. The
// latency of each round trip covers all four.
RunResult RunFreshConnections(const Poco::Net::SocketAddress& address,
                              int roundTrips,
                              const std::string& request,
                              size_t replySize) {
    std::vector<double> latencies;
    latencies.reserve(roundTrips);
    std::string reply;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < roundTrips; ++i) {
        const Clock::time_point begun = Clock::now();
        Poco::Net::StreamSocket socket(address);
        socket.setNoDelay(true);
        socket.setReceiveTimeout(Poco::Timespan(5, 0));
        SendAll(socket, request);
        if (!ReceiveExactly(socket, reply, replySize)) {
            throw Poco::IOException("connection closed before the reply");
        }
        socket.close();
        latencies.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - begun).count());
    }
    return Summary(std::move(latencies),
                   std::chrono::duration<double>(Clock::now() - start).count());
}

// The baseline for fresh connections: one server thread that accepts each connection, answers
// its request and reads on until the client closes.
RunResult RunFreshPingPong(int roundTrips, const std::string& request, size_t replySize) {
    Poco::Net::ServerSocket listener;
    listener.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true, false);
    listener.listen(64);
    const std::string reply(replySize, 'r');
    std::thread server([&] {
        try {
            std::string received;
            for (int i = 0; i < roundTrips; ++i) {
                // Bounded, in case the client failed.
                if (!listener.poll(Poco::Timespan(5, 0), Poco::Net::Socket::SELECT_READ)) {
                    return;
                }
                Poco::Net::StreamSocket socket = listener.acceptConnection();
                socket.setNoDelay(true);
                if (ReceiveExactly(socket, received, request.size())) {
                    SendAll(socket, reply);
                    while (ReceiveExactly(socket, received, 1)) {
                    }
                }
            }
        } catch (const Poco::Exception&) {
            // The client reports its own failures.
        }
    });
    try {
        const RunResult result =
            RunFreshConnections(listener.address(), roundTrips, request, replySize);
        server.join();
        return result;
    } catch (...) {
        server.join();
        throw;
    }
}

// library-info and auth-info in turn on one open connection, timed apart: the cost of checking
// the caller beside a request that needs no check, on the same connection and in the same run.
std::pair<RunResult, RunResult> RunAlternating(const Poco::Net::SocketAddress& address,
                                               int roundTrips,
                                               const std::string& libraryRequest,
                                               size_t libraryReplySize,
                                               const std::string& authRequest,
                                               size_t authReplySize) {
    Poco::Net::StreamSocket socket(address);
    socket.setNoDelay(true);
    socket.setReceiveTimeout(Poco::Timespan(5, 0));
    std::vector<double> latencies[2];
    std::string reply;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < roundTrips; ++i) {
        const bool auth = i % 2 == 1;
        const Clock::time_point sent = Clock::now();
        SendAll(socket, auth ? authRequest : libraryRequest);
        if (!ReceiveExactly(socket, reply, auth ? authReplySize : libraryReplySize)) {
            throw Poco::IOException("connection closed mid-run");
        }
        latencies[auth].push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return {Summary(std::move(latencies[0]), seconds), Summary(std::move(latencies[1]), seconds)};
}

void PrintRow(const char* connections, const char* run, const RunResult& result) {
    std::printf("%-11s %-9s %12.0f %9.1f %9.1f\n",
                connections,
                run,
                result.requestsPerSecond,
                result.p50Microseconds,
                result.p99Microseconds);
}

void PrintRatio(const char* connections, const RunResult& served, const RunResult& baseline) {
    std::printf("%-11s %-9s %11.2fx %8.2fx %8.2fx\n\n",
                connections,
                "ratio",
                served.requestsPerSecond / baseline.requestsPerSecond,
                served.p50Microseconds / baseline.p50Microseconds,
                served.p99Microseconds / baseline.p99Microseconds);
}

constexpr const char* kUsage =
    "usage: orvane-bench [ROUND_TRIPS]\n"
    "Round trips of library-info and auth-info against an in-process server on 127.0.0.1, beside\n"
    "a plain loopback ping-pong; ROUND_TRIPS per run, 8 to 10000000 (default 20000).\n";

// The round trips per run, or 0 after printing what is wrong (`exitCode` set) or the usage.
long RoundTrips(int argc, char** argv, int& exitCode) {
    exitCode = 0;
    const std::string argument = argc > 1 ? argv[1] : "";
    if (argument == "-h" || argument == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string problem;
    long roundTrips = 20000;
    if (argc > 2) {
        problem = "unexpected argument " + std::string(argv[2]);
    } else if (!argument.empty() && argument[0] == '-') {
        problem = "unknown option " + argument;
    } else if (argc > 1) {
        problem = OrvaneTools::ParseWholeNumber("ROUND_TRIPS", argument, 8, 10000000, roundTrips);
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "orvane-bench: %s\n%s", problem.c_str(), kUsage);
        exitCode = 2;
        return 0;
    }
    return roundTrips;
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    const int roundTrips = static_cast<int>(RoundTrips(argc, argv, exitCode));
    if (roundTrips == 0) {
        return exitCode;
    }
    // Each row as soon as it is measured, also into a file or a pipe: a run that stalls shows
    // where.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    // The service logs every request; format the lines as it does, but write them nowhere.
    Poco::Logger::root();
    Poco::Logger::setChannel("", Poco::AutoPtr<Poco::Channel>(new Poco::NullChannel));
    Poco::Logger::setLevel("", Poco::Message::PRIO_INFORMATION);

    // Winsock must be started before the first socket; elsewhere this does nothing.
    Poco::Net::initializeNetwork();
    try {
        BenchService service;
        // No inactivity stop while the baseline runs.
        OrvaneClient::ServiceServer server(
            service, Poco::Net::SocketAddress("127.0.0.1", 0), Poco::Timespan(3600, 0));
        server.start();
        const Poco::Net::SocketAddress address("127.0.0.1", server.port());
        namespace desktop = orvane::protocols::desktop_service;
        const std::string request = Request(desktop::LIBRARY_INFO_REQUEST);
        const size_t replySize = ReplySize(address, request, desktop::LIBRARY_INFO_RESPONSE);
        // A privileged request: its cost includes checking who the caller is.
        const std::string authRequest = Request(desktop::AUTH_INFO_REQUEST);
        const size_t authReplySize = ReplySize(address, authRequest, desktop::AUTH_INFO_RESPONSE);

        std::printf(
            "library-info round trips on 127.0.0.1: request %zu bytes, reply %zu bytes, "
            "%d round trips per run\n\n",
            request.size(),
            replySize,
            roundTrips);
        std::printf(
            "%-11s %-9s %12s %9s %9s\n", "connections", "run", "requests/s", "p50 us", "p99 us");
        for (const int connections : {1, 8}) {
            // Warm-up: connections, caches, the first allocations.
            RunClients(
                address, connections, std::max(connections, roundTrips / 10), request, replySize);
            const RunResult served =
                RunClients(address, connections, roundTrips, request, replySize);
            const RunResult baseline = RunPingPong(connections, roundTrips, request, replySize);
            const RunResult privileged =
                RunClients(address, connections, roundTrips, authRequest, authReplySize);
            const std::string label = std::to_string(connections);
            PrintRow(label.c_str(), "service", served);
            PrintRow(label.c_str(), "auth-info", privileged);
            PrintRow(label.c_str(), "ping-pong", baseline);
            PrintRatio(label.c_str(), served, baseline);
        }
        // The caller is identified at the connection's first auth-info, then only checked.
        const auto [openLibrary, openAuth] =
            RunAlternating(address, 2 * roundTrips, request, replySize, authRequest, authReplySize);
        PrintRow("1 open", "library", openLibrary);
        PrintRow("1 open", "auth-info", openAuth);
        std::printf("%-11s %-9s %12s %8.2fx %8.2fx\n\n",
                    "1 open",
                    "auth/lib",
                    "",
                    openAuth.p50Microseconds / openLibrary.p50Microseconds,
                    openAuth.p99Microseconds / openLibrary.p99Microseconds);
        // Fewer: every round trip leaves a connection in TIME_WAIT behind.
        const int freshRoundTrips = std::max(8, roundTrips / 10);
        RunFreshConnections(address, std::max(8, freshRoundTrips / 10), request, replySize);
        const RunResult freshServed =
            RunFreshConnections(address, freshRoundTrips, request, replySize);
        const RunResult freshBaseline = RunFreshPingPong(freshRoundTrips, request, replySize);
        PrintRow("fresh", "service", freshServed);
        PrintRow("fresh", "ping-pong", freshBaseline);
        PrintRatio("fresh", freshServed, freshBaseline);

        // Fresh library-info connections while clients that never read hold their own
        // connections full, and while a long grant runs on another connection: a run that loses
        // a request fails.
        {
            NonReadingClients flooders(address, 8, request);
            const RunResult flooded =
                RunFreshConnections(address, freshRoundTrips, request, replySize);
            PrintRow("fresh", "+8 stuck", flooded);
        }
        {
            Poco::Net::StreamSocket granting(address);
            desktop::FixDirectoryPrivilegesRequest grant;
            grant.set_directory("C:\\Games\\Large");
            qovex::protocols::pb::Header header;
            header.set_sort(1);
            header.set_type(desktop::FIX_DIRECTORY_PRIVILEGES_REQUEST);
            header.set_size(static_cast<uint32_t>(grant.ByteSizeLong()));
            header.set_oseq(1);
            SendAll(granting, OrvaneClient::FramePacket(header, grant.SerializeAsString()));
            service.waitUntilGranting();
            const RunResult beside =
                RunFreshConnections(address, freshRoundTrips, request, replySize);
            service.releaseGrant();
            PrintRow("fresh", "+grant", beside);
        }
        std::printf("(no request lost in either run)\n");
        server.stop();
    } catch (const Poco::Exception& exception) {
        std::fprintf(stderr, "orvane-bench: %s\n", exception.displayText().c_str());
        return 1;
    }
    return 0;
}

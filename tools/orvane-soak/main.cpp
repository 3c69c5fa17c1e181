// orvane-soak: mixed hostile traffic against a service already listening on 127.0.0.1 for a
// bounded time, with a monitor connection that asks for the library location every 200 ms.
// Prints whether the service stayed up, the monitor's worst latency and, given the log file,
// the log bytes written per second and what the log takes on disk at the end.
//
// Usage: orvane-soak [--seconds N (60)] [--port P (9977)] [--clients C (16)] [--log PATH]
// Exit code: 0 when the service stayed up, 1 when it did not, 2 for a usage error.

#include "tools/WholeNumberArgument.h"
#include "tools/orvane-soak/SoakClients.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Path.h>
#include <Poco/Thread.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace OrvaneSoak;

struct Options {
    long seconds = 60;
    long port = 9977;
    long clients = 16;
    std::string logPath;
};

constexpr const char* kUsage =
    "usage: orvane-soak [--seconds N] [--port P] [--clients C] [--log PATH]\n"
    "  --seconds N   how long the hostile clients run, 1 to 3600 (default 60)\n"
    "  --port P      the service's port on 127.0.0.1, 1 to 65535 (default 9977)\n"
    "  --clients C   hostile clients at once, 1 to 64 (default 16)\n"
    "  --log PATH    the service's log file, to report its growth\n"
    "Waits up to 30 s for the service's first answer, then measures. Exit code 0 when the\n"
    "service stayed up, 1 when not, 2 for a usage error.\n";

// Empty when the command line is good; else what was wrong with which option. `help` is set
// for -h or --help.
std::string ParseOptions(int argc, char** argv, Options& options, bool& help) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            help = true;
            return std::string();
        }
    }
    struct Numeric {
        const char* name;
        long low;
        long high;
        long* value;
    };
    const Numeric numerics[] = {{"--seconds", 1, 3600, &options.seconds},
                                {"--port", 1, 65535, &options.port},
                                {"--clients", 1, 64, &options.clients}};
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const Numeric* numeric = nullptr;
        for (const Numeric& candidate : numerics) {
            if (name == candidate.name) {
                numeric = &candidate;
            }
        }
        if (numeric == nullptr && name != "--log") {
            return "unknown option " + name;
        }
        if (i + 1 == argc) {
            return name + " needs a value";
        }
        const char* value = argv[++i];
        if (numeric == nullptr) {
            options.logPath = value;
        } else if (std::string wrong = OrvaneTools::ParseWholeNumber(
                       name, value, numeric->low, numeric->high, *numeric->value);
                   !wrong.empty()) {
            return wrong;
        }
    }
    return std::string();
}

std::uint64_t FileSize(const std::string& path) {
    try {
        Poco::File file(path);
        return file.exists() ? file.getSize() : 0;
    } catch (const Poco::Exception&) {
        return 0;
    }
}

// The log file and its archives (the same name with a suffix): their count and bytes.
void LogOnDisk(const std::string& logPath, int& files, std::uint64_t& bytes) {
    files = 0;
    bytes = 0;
    Poco::Path log(logPath);
    log.makeAbsolute();
    try {
        for (Poco::DirectoryIterator it(log.parent()), end; it != end; ++it) {
            if (it.name().compare(0, log.getFileName().size(), log.getFileName()) == 0) {
                ++files;
                bytes += it->getSize();
            }
        }
    } catch (const Poco::Exception&) {
        // No directory: nothing on disk.
    }
}

// True when a fresh connection gets an answer to a library-info request.
bool Answers(const Poco::Net::SocketAddress& service) {
    try {
        Poco::Net::StreamSocket socket;
        socket.connect(service, Poco::Timespan(3, 0));
        const std::string request = LibraryInfoRequest(1);
        socket.sendBytes(request.data(), static_cast<int>(request.size()));
        socket.setReceiveTimeout(Poco::Timespan(1, 0));
        char reply[64];
        return socket.receiveBytes(reply, sizeof(reply)) > 0;
    } catch (const Poco::Exception&) {
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    const std::string problem = ParseOptions(argc, argv, options, help);
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "orvane-soak: %s\n%s", problem.c_str(), kUsage);
        return 2;
    }
    const Poco::Net::SocketAddress service("127.0.0.1", static_cast<Poco::UInt16>(options.port));
    std::printf("orvane-soak: %ld s against %s, %ld hostile clients and a monitor\n",
                options.seconds,
                service.toString().c_str(),
                options.clients);
    std::fflush(stdout);

    // A service started a moment ago may not listen yet: measuring from then on would report
    // it down. Its start is bounded by the SCM's 30 s; so is this wait.
    const auto answerDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!Answers(service)) {
        if (std::chrono::steady_clock::now() >= answerDeadline) {
            std::fprintf(stderr,
                         "orvane-soak: %s did not answer within 30 s; nothing was measured\n",
                         service.toString().c_str());
            return 1;
        }
        Poco::Thread::sleep(100);
    }

    std::atomic<bool> running{true};
    Tally tally;
    std::vector<std::thread> clients;
    for (long c = 0; c < options.clients; ++c) {
        clients.emplace_back([&, c] {
            for (std::uint32_t round = 0; running; ++round) {
                const auto kind = static_cast<Kind>((c + round) % KindCount);
                RunHostile(service, kind, static_cast<std::uint32_t>(c * 100003 + round), tally);
            }
        });
    }
    MonitorResult monitor;
    std::thread monitorThread([&] { monitor = RunMonitor(service, 200, running); });

    // Log growth, sampled: a rotation shows as a shrink, after which the new file's size counts.
    std::uint64_t logWritten = 0;
    std::uint64_t lastSize = options.logPath.empty() ? 0 : FileSize(options.logPath);
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(options.seconds);
    while (std::chrono::steady_clock::now() < end) {
        Poco::Thread::sleep(100);
        if (!options.logPath.empty()) {
            const std::uint64_t size = FileSize(options.logPath);
            logWritten += size >= lastSize ? size - lastSize : size;
            lastSize = size;
        }
    }
    running = false;
    for (std::thread& client : clients) {
        client.join();
    }
    monitorThread.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const bool stayedUp = monitor.failures == 0 && Answers(service);
    long connections = 0;
    std::printf("connections:");
    for (int kind = 0; kind < KindCount; ++kind) {
        connections += tally.connections[kind];
        std::printf("%s %ld %s",
                    kind == 0 ? "" : ",",
                    tally.connections[kind].load(),
                    KindName(static_cast<Kind>(kind)));
    }
    std::printf("; %ld in all, %ld slow ones answered, %ld connects failed\n",
                connections,
                tally.slowAnswers.load(),
                tally.connectFailures.load());
    std::printf("service stayed up: %s%s%s\n",
                stayedUp ? "yes" : "NO",
                monitor.firstFailure.empty() ? "" : " (monitor: ",
                monitor.firstFailure.empty() ? "" : (monitor.firstFailure + ")").c_str());
    std::printf(
        "monitor: %ld requests, worst latency %.1f ms\n", monitor.requests, monitor.worstLatencyMs);
    if (!options.logPath.empty()) {
        int files = 0;
        std::uint64_t bytes = 0;
        LogOnDisk(options.logPath, files, bytes);
        std::printf("log: %.1f KB/s written; on disk %d files, %.1f MiB\n",
                    static_cast<double>(logWritten) / 1000.0 / seconds,
                    files,
                    static_cast<double>(bytes) / 1048576.0);
    }
    return stayedUp ? 0 : 1;
}

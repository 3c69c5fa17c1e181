#include "Win32Emu/ScmRequest.h"

#include "Win32Emu/ScmLineBuffer.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Win32Emu {

namespace {

class Descriptor {
public:
    explicit Descriptor(int value) : value(value) {}
    ~Descriptor() {
        if (value >= 0) {
            ::close(value);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return value; }

private:
    const int value;
};

bool addressOf(const std::string& socketPath, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    return true;
}

ScmReply failed(const std::string& text) {
    ScmReply reply;
    reply.outcome = ScmReply::Outcome::Failed;
    reply.failure = text;
    return reply;
}

}  // namespace

std::string ScmSocketPath(const std::string& hostRoot) {
    return hostRoot + "/" + ScmMessage::kSocketName;
}

bool ScmListening(const std::string& socketPath) {
    sockaddr_un address{};
    const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return addressOf(socketPath, address) && socket.get() >= 0 &&
           connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

ScmReply SendScmRequest(const std::string& socketPath,
                        const ScmMessage& request,
                        std::chrono::milliseconds timeout) {
    sockaddr_un address{};
    if (!addressOf(socketPath, address)) {
        return failed("the socket path " + socketPath + " is too long for a Unix socket");
    }
    const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0) {
        return failed(std::string("cannot create a Unix socket: ") + std::strerror(errno));
    }
    if (connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED) {
            ScmReply reply;
            reply.outcome = ScmReply::Outcome::NoScm;
            return reply;
        }
        return failed("cannot reach " + socketPath + ": " + std::strerror(errno));
    }
    const std::string line = request.toLine();
    if (send(socket.get(), line.data(), line.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(line.size())) {
        return failed(std::string("cannot send the request: ") + std::strerror(errno));
    }

    ScmLineBuffer buffer;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const std::optional<std::string> answer = buffer.nextLine()) {
            ScmReply reply;
            reply.outcome = ScmReply::Outcome::Answered;
            reply.answer = ScmMessage::parse(*answer);
            return reply;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || buffer.overflowed()) {
            return failed("no answer from the service control manager");
        }
        pollfd fd{socket.get(), POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        char bytes[512];
        const ssize_t received = ready > 0 ? recv(socket.get(), bytes, sizeof bytes, 0) : 0;
        if (ready < 0 || received < 0) {
            return failed(std::string("reading the answer failed: ") + std::strerror(errno));
        }
        if (ready > 0 && received == 0) {
            return failed("the service control manager closed the connection without an answer");
        }
        buffer.append(bytes, static_cast<size_t>(received));
    }
}

}  // namespace Win32Emu

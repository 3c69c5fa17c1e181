#include "ControlClient.h"

#include "ControlEndpoint.h"
#include "StatusText.h"
#include "UniqueFd.h"
#include "Win32Emu/ScmLineBuffer.h"
#include "Win32Emu/ScmMessage.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace OrvaneSc {

using Win32Emu::ScmMessage;

namespace {

// Longer than the SCM's own wait for the service's handler, so that its answer wins.
constexpr std::chrono::seconds kAnswerTimeout(40);

int fail(const std::string& text) {
    std::fprintf(stderr, "orvane-sc: %s\n", text.c_str());
    return 1;
}

std::optional<std::string> readAnswer(int socket) {
    Win32Emu::ScmLineBuffer buffer;
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
    for (;;) {
        if (std::optional<std::string> line = buffer.nextLine()) {
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || buffer.overflowed()) {
            return std::nullopt;
        }
        pollfd fd{socket, POLLIN, 0};
        const int ready = poll(&fd, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char bytes[512];
        const ssize_t received = recv(socket, bytes, sizeof bytes, 0);
        if (received <= 0) {
            return std::nullopt;
        }
        buffer.append(bytes, static_cast<size_t>(received));
    }
}

}  // namespace

int SendControl(const std::string& root, DWORD control) {
    const std::string path = ControlEndpoint::socketPath(root);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return fail("the socket path " + path + " is too long for a Unix socket");
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.isValid()) {
        return fail(std::string("cannot create a Unix socket: ") + std::strerror(errno));
    }
    if (connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (errno == ENOENT || errno == ECONNREFUSED) {
            return fail("no service is running under " + root + " (no orvane-sc run there)");
        }
        return fail("cannot reach " + path + ": " + std::strerror(errno));
    }
    const std::string request = ScmMessage::control(control).toLine();
    if (send(socket.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        return fail("cannot send the control: " + std::string(std::strerror(errno)));
    }
    const std::optional<std::string> line = readAnswer(socket.get());
    if (!line) {
        return fail("no answer from the service control manager");
    }
    const std::optional<ScmMessage> answer = ScmMessage::parse(*line);
    if (answer && answer->kind == ScmMessage::Kind::Status) {
        std::printf("status %s\n", StatusText(answer->statusReport).c_str());
        return 0;
    }
    if (answer && answer->kind == ScmMessage::Kind::Done && answer->result == ERROR_SUCCESS) {
        std::printf("control code=%s delivered\n", ControlText(control).c_str());
        return 0;
    }
    if (answer && answer->kind == ScmMessage::Kind::Done) {
        return fail(ControlText(control) + " refused: " + ControlErrorText(answer->result));
    }
    return fail("unexpected answer from the service control manager: " + *line);
}

}  // namespace OrvaneSc

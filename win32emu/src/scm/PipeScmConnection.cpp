// The line protocol to orvane-sc over the inherited socket.

#include "scm/PipeScmConnection.h"

#include "Win32Emu/ScmLineBuffer.h"
#include "Win32Emu/ScmLineWriter.h"
#include "Win32Emu/ScmMessage.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Win32Emu {

namespace {

// The variable's descriptor, if it names an open socket. Plain decimal only.
int inheritedSocket(const char* text) {
    if (text == nullptr || *text == '\0') {
        return -1;
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 0 || value > 65535) {
        return -1;
    }
    const int fd = static_cast<int>(value);
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) {
        return -1;
    }
    return fd;
}

}  // namespace

std::unique_ptr<ScmConnection> PipeScmConnection::claimInherited() {
    static std::mutex claimMutex;
    static bool claimed = false;
    const std::lock_guard<std::mutex> lock(claimMutex);
    const char* variable = std::getenv(ScmMessage::kChannelVariable);
    if (claimed || variable == nullptr) {
        return nullptr;
    }
    // Once only: after the first dispatcher has closed it, the number may name another file.
    claimed = true;
    const int fd = inheritedSocket(variable);
    if (fd < 0) {
        std::fprintf(stderr,
                     "win32emu: %s=%s is not an inherited socket; no service control manager\n",
                     ScmMessage::kChannelVariable,
                     variable);
        return nullptr;
    }
    // The channel is this process's alone: processes it starts must not inherit it.
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return std::make_unique<PipeScmConnection>(fd);
}

PipeScmConnection::PipeScmConnection(int fd) : socket(fd) {}

PipeScmConnection::~PipeScmConnection() {
    close();
}

void PipeScmConnection::open(const std::string& serviceName, ScmControlSink& sink) {
    if (!writeLine(ScmMessage::connect(serviceName).toLine())) {
        sink.postScmLost();
        return;
    }
    reader = std::thread([this, &sink] { readControls(sink); });
}

bool PipeScmConnection::reportStatus(const SERVICE_STATUS& status, DWORD& error) {
    if (!writeLine(ScmMessage::status(status).toLine())) {
        error = ERROR_BROKEN_PIPE;
        return false;
    }
    return true;
}

void PipeScmConnection::controlDone(DWORD control, DWORD result) {
    writeLine(ScmMessage::done(control, result).toLine());
}

void PipeScmConnection::reportEvent(const ScmMessage& event) {
    // Best effort: a lost SCM ends the process soon anyway.
    writeLine(event.toLine());
}

void PipeScmConnection::close() {
    {
        const std::lock_guard<std::mutex> lock(writeMutex);
        if (closed) {
            return;
        }
        closed = true;
    }
    closing = true;
    // Wakes the reader's blocking read and tells orvane-sc that the dispatcher has ended.
    shutdown(socket, SHUT_RDWR);
    if (reader.joinable()) {
        reader.join();
    }
    ::close(socket);
}

bool PipeScmConnection::writeLine(const std::string& line) {
    const std::lock_guard<std::mutex> lock(writeMutex);
    if (closed) {
        return false;
    }
    return WriteScmLine(socket, line);
}

void PipeScmConnection::readControls(ScmControlSink& sink) {
    ScmLineBuffer buffer;
    char bytes[512];
    for (;;) {
        const ssize_t received = recv(socket, bytes, sizeof bytes, 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            break;
        }
        buffer.append(bytes, static_cast<size_t>(received));
        while (const std::optional<std::string> line = buffer.nextLine()) {
            const std::optional<ScmMessage> message = ScmMessage::parse(*line);
            if (message && message->kind == ScmMessage::Kind::Control) {
                sink.postControl(message->code);
            } else {
                std::fprintf(stderr, "win32emu: ignored from the SCM: %s\n", line->c_str());
            }
        }
        if (buffer.overflowed()) {
            std::fprintf(stderr, "win32emu: the SCM channel carries no protocol; dropping it\n");
            break;
        }
    }
    if (!closing) {
        sink.postScmLost();
    }
}

}  // namespace Win32Emu

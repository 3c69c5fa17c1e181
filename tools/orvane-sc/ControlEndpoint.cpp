#include "ControlEndpoint.h"

#include "Win32Emu/ScmRequest.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

namespace OrvaneSc {

std::string ControlEndpoint::socketPath(const std::string& root) {
    return Win32Emu::ScmSocketPath(root);
}

ControlEndpoint::~ControlEndpoint() {
    if (listening.isValid()) {
        listening.reset();
        ::unlink(path.c_str());
    }
}

bool ControlEndpoint::open(const std::string& root, std::string& error) {
    UniqueFd lock(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!lock.isValid()) {
        error = "cannot open " + root + ": " + std::strerror(errno);
        return false;
    }
    if (flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK
                    ? "another orvane-sc is already running a service under " + root
                    : "cannot lock " + root + ": " + std::strerror(errno);
        return false;
    }

    const std::string socketFile = socketPath(root);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketFile.size() >= sizeof address.sun_path) {
        error = "the socket path " + socketFile +
                " is too long for a Unix socket; use a shorter --root";
        return false;
    }
    std::memcpy(address.sun_path, socketFile.c_str(), socketFile.size() + 1);

    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.isValid()) {
        error = std::string("cannot create a Unix socket: ") + std::strerror(errno);
        return false;
    }
    // Holding the lock, any socket file there is a leftover of an SCM that was killed.
    ::unlink(socketFile.c_str());
    // Only the owner may stop the service: the socket is made without group or other rights.
    const mode_t previous = ::umask(0077);
    const int bound = ::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    const int bindError = errno;
    ::umask(previous);
    if (bound != 0) {
        error = "cannot bind " + socketFile + ": " + std::strerror(bindError);
        return false;
    }
    if (::listen(socket.get(), 8) != 0) {
        error = "cannot listen on " + socketFile + ": " + std::strerror(errno);
        ::unlink(socketFile.c_str());
        return false;
    }
    rootLock = std::move(lock);
    listening = std::move(socket);
    path = socketFile;
    return true;
}

}  // namespace OrvaneSc

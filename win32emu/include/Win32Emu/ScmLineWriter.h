#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>

namespace Win32Emu {

// Writes all of `line` to the stream socket `socket`, retrying short and interrupted sends;
// false when the peer is gone or the socket failed (errno tells why). Never raises SIGPIPE.
// Both ends of the SCM channel (the emulated service and orvane-sc) write their lines so.
inline bool WriteScmLine(int socket, const std::string& line) {
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t sent =
            send(socket, line.data() + written, line.size() - written, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace Win32Emu

#include "Output.h"

#include <cstdio>
#include <sys/socket.h>

namespace OrvaneSc {

void PrintLine(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void Note(const std::string& text) {
    std::fprintf(stderr, "orvane-sc: %s\n", text.c_str());
    std::fflush(stderr);
}

void Answer(UniqueFd& client, const Win32Emu::ScmMessage& message) {
    if (!client.isValid()) {
        return;
    }
    const std::string line = message.toLine();
    // The socket is non-blocking; a short or failed send only loses the answer.
    const ssize_t sent = send(client.get(), line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    static_cast<void>(sent);
    client.reset();
}

}  // namespace OrvaneSc

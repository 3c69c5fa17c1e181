#pragma once

// Where `orvane-sc stop` and `orvane-sc interrogate` reach the running `orvane-sc run`: a Unix
// stream socket <root>/scm.sock, owner-only, removed when the endpoint is destroyed. The root
// directory itself is locked (flock) while the endpoint lives, so one SCM runs per root.

#include "UniqueFd.h"

#include <string>

namespace OrvaneSc {

class ControlEndpoint {
public:
    static std::string socketPath(const std::string& root);

    ControlEndpoint() = default;
    ControlEndpoint(const ControlEndpoint&) = delete;
    ControlEndpoint& operator=(const ControlEndpoint&) = delete;
    ~ControlEndpoint();

    // Locks `root` (an existing directory) and listens on its socket, non-blocking. False with
    // `error` set when another orvane-sc runs under the root or the socket cannot be made. A
    // socket file left by an SCM that was killed is replaced.
    bool open(const std::string& root, std::string& error);
    int listener() const { return listening.get(); }

private:
    UniqueFd rootLock;
    UniqueFd listening;
    std::string path;
};

}  // namespace OrvaneSc

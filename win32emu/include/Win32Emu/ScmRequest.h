#pragma once

// One request to `orvane-sc serve` (or `run`) over its Unix socket, and its one-line answer
// (the lines are in Win32Emu/ScmMessage.h). Used by the emulated service-control calls and by
// orvane-sc's own clients.

#include "Win32Emu/ScmMessage.h"

#include <chrono>
#include <optional>
#include <string>

namespace Win32Emu {

struct ScmReply {
    enum class Outcome {
        Answered,
        // Nothing listens at the socket: no orvane-sc for that root.
        NoScm,
        // The socket could not be used, or no whole answer came in time.
        Failed,
    };
    Outcome outcome = Outcome::Failed;
    std::optional<ScmMessage> answer;  // Answered: empty when the line did not parse
    std::string failure;               // Failed: what went wrong, for a person
};

// The socket of the SCM for the emulated machine whose drives lie under `hostRoot`.
std::string ScmSocketPath(const std::string& hostRoot);

// Whether an SCM accepts connections at `socketPath`; the connection is closed at once.
bool ScmListening(const std::string& socketPath);

ScmReply SendScmRequest(const std::string& socketPath,
                        const ScmMessage& request,
                        std::chrono::milliseconds timeout);

}  // namespace Win32Emu

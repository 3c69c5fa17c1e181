#pragma once

// What orvane-sc says: its own lines on stdout (one per event, for people and scripts), notes
// and errors on stderr, and answers to the clients of its control socket.

#include "UniqueFd.h"
#include "Win32Emu/ScmMessage.h"

#include <string>

namespace OrvaneSc {

// One line on stdout, flushed at once: a script reading a pipe sees each event as it happens.
void PrintLine(const std::string& line);
// "orvane-sc: <text>" on stderr.
void Note(const std::string& text);
// Sends `message` to `client` and closes it. Best effort and never blocking: a client that does
// not read loses its answer. Nothing happens for a client already closed.
void Answer(UniqueFd& client, const Win32Emu::ScmMessage& message);

}  // namespace OrvaneSc

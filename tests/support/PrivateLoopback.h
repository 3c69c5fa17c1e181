#pragma once

// A network namespace of this process's own, with only its loopback interface, up: tests that
// start the real executables then have 127.0.0.1:9977 to themselves, whatever the machine's own
// service or another test run holds there. Linux only.

#include <string>

namespace OrvaneClient::Testing {

// Moves the calling process (and every process it starts afterwards) into a new network
// namespace and brings its loopback interface up; with `privateTmp`, into a new mount namespace
// too, with an empty /tmp of its own (for commands that name fixed paths there). As root the
// namespaces alone are made; otherwise a user namespace too, with the caller's own user and
// group mapped, which needs the process to have a single thread yet. Empty on success, else
// what failed.
std::string EnterPrivateLoopback(bool privateTmp = false);

}  // namespace OrvaneClient::Testing

#pragma once

#include "core/windows/Win32Api.h"

#include <Poco/Net/StreamSocket.h>

#include <optional>
#include <string>

namespace OrvaneClient {

// Decides whether the process at the other end of one loopback connection may have privileged
// requests served: only a process of the person at the console may. Anyone on the machine can
// connect to the listener, and every privileged request acts as the console user.
//
// The calling process is found once, when the connection is accepted, from the system's TCP
// table: the row whose local endpoint is the client's and whose remote endpoint is ours. Who
// may call is decided anew for every request, since the person at the console can change while
// a connection stays open. A caller is allowed when it runs in the active console session,
// under the account of the user logged on there (its token's user equal to that of the
// session's token), at medium integrity or above (Vista and later), and is not an AppContainer
// (Windows 8 and later). Every handle it opens is closed before a call returns; it logs nothing.
// Thread: the reactor thread, like the handler that owns it.
class CallerVerifier {
public:
    // Identifies the owner of `connection`. Never throws: a socket whose endpoints cannot be
    // read leaves the caller unknown, and every check then refuses.
    explicit CallerVerifier(const Poco::Net::StreamSocket& connection);

    // Empty when the caller may be served; otherwise why not, for the log: "other session",
    // "other user", "no process owns the connection", "OpenProcess failed, error code 5"...
    std::optional<std::string> refusal() const;

    // The calling process id in decimal, or "-" when it is not known.
    std::string processText() const;

private:
    std::optional<DWORD> processId;
    // Why the owner is unknown, when it is.
    std::string identificationFailure;
};

}  // namespace OrvaneClient

#pragma once

#include "core/windows/ScopedHandle.h"
#include "core/windows/TcpTable.h"
#include "core/windows/Win32Api.h"

#include <Poco/Net/StreamSocket.h>

#include <optional>
#include <string>

namespace OrvaneClient {

// Decides whether the process at the other end of one loopback connection may have privileged
// requests served: only a process of the person at the console may. Anyone on the machine can
// connect to the listener, and every privileged request acts as the console user.
//
// A caller is its connection. At the first privileged request (not at accept: library-info needs
// no caller, and the table is slow to read) the process that owns the client's end is found in
// the system's TCP table, the row whose local endpoint is the client's and whose remote endpoint
// is ours, and opened; the handle is held for the life of the connection, so that the process's
// id cannot pass to another process meanwhile. A process started after the connection was
// accepted cannot own it: its id was reused. That is done once, and the table is not read again
// for the connection: a row keeps naming the process that created the socket, whoever holds it
// later, so a second reading proves nothing. A connection whose owner cannot be found or opened
// is refused for good. Who may call is decided anew for every request, since the person at the
// console can change while a connection stays open. A caller is allowed while its process runs
// and its token is not restricted; it runs in the active console session, under the account of
// the user logged on there (its token's user equal to that of the session's token), at medium
// integrity or above (Vista and later), and is not an AppContainer (Windows 8 and later). Every
// other handle it opens is closed before a call returns; it logs nothing.
// Thread: one thread at a time; the connection's handler hands it between the reactor thread and
// a worker, never to both at once.
class CallerVerifier {
public:
    // Reads the endpoints of `connection`. Never throws: a socket whose endpoints cannot be
    // read leaves the caller unknown, and every check then refuses.
    explicit CallerVerifier(const Poco::Net::StreamSocket& connection);

    // Empty when the caller may be served; otherwise why not, for the log: "other session",
    // "other user", "process exited", "OpenProcess failed, error code 5"...
    std::optional<std::string> refusal();

    // The calling process id in decimal, or "-" when it is not known.
    std::string processText() const;

private:
    // Finds and opens the owner, once.
    void identify();

    std::optional<TcpTable::Endpoint> peer;    // the client's end
    std::optional<TcpTable::Endpoint> server;  // ours
    FILETIME accepted = {};                    // when the connection was accepted
    bool identified = false;
    std::optional<DWORD> processId;
    ScopedHandle process;  // the owner, for the life of the connection
    // Why the owner is unknown or not open, when it is.
    std::string identificationFailure;
};

}  // namespace OrvaneClient

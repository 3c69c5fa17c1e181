#pragma once

#include "core/windows/Win32Api.h"

#include <Poco/Net/SocketAddress.h>

#include <optional>
#include <vector>

namespace OrvaneClient {

// The system's IPv4 TCP table with the process that owns each row (GetExtendedTcpTable), read
// whole. The table grows between the call that sizes it and the call that reads it whenever
// connections are made meanwhile, so a read grows its buffer and asks again until the table fits
// or ReadPatienceMilliseconds have passed: a busy machine delays a reader, it does not fail it.
// Thread: any, one thread at a time per object. Logs nothing and leaves the last error alone.
class TcpTable {
public:
    // An endpoint as a row holds it: the address as stored (network byte order), the port in
    // host byte order.
    struct Endpoint {
        DWORD address = 0;
        WORD port = 0;
    };

    static constexpr unsigned ReadPatienceMilliseconds = 200;

    // The IPv4 endpoint of a socket; none for any other family.
    static std::optional<Endpoint> Ipv4Endpoint(const Poco::Net::SocketAddress& address);

    // Reads the table of `tableClass` (one of the TCP_TABLE_OWNER_PID_ classes). NO_ERROR, or the
    // code the last call returned (ERROR_INSUFFICIENT_BUFFER when the table outgrew every buffer
    // for the whole patience); the rows are then empty.
    DWORD read(TCP_TABLE_CLASS tableClass);

    const std::vector<MIB_TCPROW_OWNER_PID>& rows() const { return tableRows; }

    // The owner named by the row whose local endpoint is `local` and remote endpoint `remote`;
    // none when no row of the last read has them.
    std::optional<DWORD> connectionOwner(const Endpoint& local, const Endpoint& remote) const;

    // A row's port field (network byte order in its low 16 bits) in host byte order.
    static WORD RowPort(DWORD rowPort);

private:
    std::vector<MIB_TCPROW_OWNER_PID> tableRows;
};

}  // namespace OrvaneClient

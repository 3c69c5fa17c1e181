#include "core/windows/TcpTable.h"

#include <Poco/ByteOrder.h>
#include <Poco/Net/IPAddress.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>

namespace OrvaneClient {

namespace {

constexpr DWORD RowsSize(DWORD rows) {
    return static_cast<DWORD>(offsetof(MIB_TCPTABLE_OWNER_PID, table) +
                              rows * sizeof(MIB_TCPROW_OWNER_PID));
}

// Room for rows added while the table is read again.
constexpr DWORD SpareRows = 16;

// What the last read needed, and a few rows more. The system walks every process's sockets for
// each call, so a first call that already fits saves a whole walk.
std::atomic<DWORD> sizeHint{RowsSize(SpareRows)};

}  // namespace

std::optional<TcpTable::Endpoint> TcpTable::Ipv4Endpoint(const Poco::Net::SocketAddress& address) {
    if (address.family() != Poco::Net::AddressFamily::IPv4) {
        return std::nullopt;
    }
    Endpoint endpoint;
    std::memcpy(&endpoint.address, address.host().addr(), sizeof(endpoint.address));
    endpoint.port = address.port();
    return endpoint;
}

WORD TcpTable::RowPort(DWORD rowPort) {
    return Poco::ByteOrder::fromNetwork(static_cast<Poco::UInt16>(rowPort & 0xFFFF));
}

DWORD TcpTable::read(TCP_TABLE_CLASS tableClass) {
    tableRows.clear();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ReadPatienceMilliseconds);
    std::vector<BYTE> buffer;
    DWORD size = std::max(sizeHint.load(), RowsSize(0));
    for (;;) {
        buffer.assign(size, 0);
        DWORD needed = size;
        const DWORD result =
            GetExtendedTcpTable(buffer.data(), &needed, FALSE, AF_INET, tableClass, 0);
        if (result == NO_ERROR) {
            break;
        }
        if (result != ERROR_INSUFFICIENT_BUFFER || std::chrono::steady_clock::now() >= deadline) {
            return result;
        }
        // It is still growing: leave room for more than it needs now.
        if (needed > size) {
            size = needed + SpareRows * static_cast<DWORD>(sizeof(MIB_TCPROW_OWNER_PID));
        }
    }
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    tableRows.assign(table->table, table->table + table->dwNumEntries);
    sizeHint = RowsSize(table->dwNumEntries + SpareRows);
    return NO_ERROR;
}

std::optional<DWORD> TcpTable::connectionOwner(const Endpoint& local,
                                               const Endpoint& remote) const {
    for (const MIB_TCPROW_OWNER_PID& row : tableRows) {
        if (row.dwLocalAddr == local.address && RowPort(row.dwLocalPort) == local.port &&
            row.dwRemoteAddr == remote.address && RowPort(row.dwRemotePort) == remote.port) {
            return row.dwOwningPid;
        }
    }
    return std::nullopt;
}

}  // namespace OrvaneClient

// The TCP connection table: GetExtendedTcpTable. The connections are the host's own IPv4
// loopback connections, read from /proc/net/tcp, so a real client socket appears as it would on
// Windows; which emulated process owns each one is the machine's to say.

#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iphlpapi.h>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace Win32Emu;

namespace {

// The address family constant of IPv6 in the SDK (the host's differs).
constexpr ULONG WindowsAfInet6 = 23;

struct HostConnection {
    DWORD state = 0;       // MIB_TCP_STATE
    DWORD localAddr = 0;   // network byte order
    WORD localPort = 0;    // host byte order
    DWORD remoteAddr = 0;  // network byte order
    WORD remotePort = 0;   // host byte order
    unsigned long inode = 0;
};

// Linux's TCP states (include/net/tcp_states.h) as Windows names them.
DWORD windowsState(unsigned linuxState) {
    switch (linuxState) {
        case 1:
            return MIB_TCP_STATE_ESTAB;
        case 2:
            return MIB_TCP_STATE_SYN_SENT;
        case 3:
            return MIB_TCP_STATE_SYN_RCVD;
        case 4:
            return MIB_TCP_STATE_FIN_WAIT1;
        case 5:
            return MIB_TCP_STATE_FIN_WAIT2;
        case 6:
            return MIB_TCP_STATE_TIME_WAIT;
        case 8:
            return MIB_TCP_STATE_CLOSE_WAIT;
        case 9:
            return MIB_TCP_STATE_LAST_ACK;
        case 10:
            return MIB_TCP_STATE_LISTEN;
        case 11:
            return MIB_TCP_STATE_CLOSING;
        default:
            return MIB_TCP_STATE_CLOSED;
    }
}

bool isLoopback(DWORD networkOrderAddress) {
    // 127.0.0.0/8: the first byte in memory is the address's first octet.
    return (reinterpret_cast<const unsigned char*>(&networkOrderAddress))[0] == 127;
}

// The kernel prints each address as the 32-bit value that holds it in network byte order, so
// reading it back into a DWORD on the same machine gives that value again.
std::vector<HostConnection> hostConnections() {
    std::vector<HostConnection> connections;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // column titles
    while (std::getline(table, line)) {
        unsigned slot = 0;
        unsigned localAddr = 0, localPort = 0, remoteAddr = 0, remotePort = 0, state = 0;
        unsigned long txQueue = 0, rxQueue = 0, timerWhen = 0;
        unsigned timerActive = 0, retransmits = 0, uid = 0, timeout = 0;
        unsigned long inode = 0;
        if (std::sscanf(line.c_str(),
                        " %u: %x:%x %x:%x %x %lx:%lx %x:%lx %x %u %u %lu",
                        &slot,
                        &localAddr,
                        &localPort,
                        &remoteAddr,
                        &remotePort,
                        &state,
                        &txQueue,
                        &rxQueue,
                        &timerActive,
                        &timerWhen,
                        &retransmits,
                        &uid,
                        &timeout,
                        &inode) != 14) {
            continue;
        }
        HostConnection connection;
        connection.state = windowsState(state);
        connection.localAddr = localAddr;
        connection.localPort = static_cast<WORD>(localPort);
        connection.remoteAddr = remoteAddr;
        connection.remotePort = static_cast<WORD>(remotePort);
        connection.inode = inode;
        if (isLoopback(connection.localAddr)) {
            connections.push_back(connection);
        }
    }
    return connections;
}

// The socket inodes of a host process ("self" for this one).
std::set<unsigned long> socketInodes(const std::string& process = "self") {
    std::set<unsigned long> inodes;
    const std::string folder = "/proc/" + process + "/fd";
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return inodes;
    }
    while (const dirent* entry = readdir(directory)) {
        const std::string path = folder + "/" + entry->d_name;
        char target[64] = {};
        const ssize_t length = readlink(path.c_str(), target, sizeof(target) - 1);
        unsigned long inode = 0;
        if (length > 0 && std::sscanf(target, "socket:[%lu]", &inode) == 1) {
            inodes.insert(inode);
        }
    }
    closedir(directory);
    return inodes;
}

// Which host process holds each socket: read from /proc once, when a row first needs it. A
// socket of another program is that program's: an emulated service started by orvane-sc, whose
// SCM reports its host process id, or any other.
class HostSocketHolders {
public:
    // The host process that holds the socket `inode`, 0 when none that may be looked at does.
    DWORD holder(unsigned long inode) {
        if (!read) {
            readHolders();
        }
        const auto found = holders.find(inode);
        return found == holders.end() ? 0 : found->second;
    }

private:
    void readHolders() {
        read = true;
        DIR* directory = opendir("/proc");
        if (directory == nullptr) {
            return;
        }
        while (const dirent* entry = readdir(directory)) {
            const std::string name = entry->d_name;
            if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            const DWORD pid = static_cast<DWORD>(std::stoul(name));
            for (const unsigned long inode : socketInodes(name)) {
                holders.emplace(inode, pid);
            }
        }
        closedir(directory);
    }

    bool read = false;
    std::map<unsigned long, DWORD> holders;
};

WORD networkPort(WORD port) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(port >> 8),
                                    static_cast<unsigned char>(port & 0xFF)};
    WORD value = 0;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

std::vector<MIB_TCPROW_OWNER_PID> ownedRows(TCP_TABLE_CLASS tableClass) {
    const std::vector<HostConnection> connections = hostConnections();
    const std::set<unsigned long> ownInodes = socketInodes();
    std::set<WORD> ownListeningPorts;
    for (const HostConnection& connection : connections) {
        if (connection.state == MIB_TCP_STATE_LISTEN && ownInodes.count(connection.inode) > 0) {
            ownListeningPorts.insert(connection.localPort);
        }
    }

    Configuration configuration;
    {
        std::lock_guard<std::mutex> guard(Model().lock);
        configuration = Model().configuration;
    }
    HostSocketHolders holders;
    // The owner of a listening socket: the emulated process for one of this host process's, the
    // host process that holds it for another's.
    const auto listenerOwner = [&](const HostConnection& listener) {
        if (ownInodes.count(listener.inode) > 0) {
            return configuration.currentProcessId;
        }
        const DWORD holder = holders.holder(listener.inode);
        return holder != 0 ? holder : configuration.defaultConnectionOwner;
    };
    std::map<WORD, const HostConnection*> listeners;
    for (const HostConnection& connection : connections) {
        if (connection.state == MIB_TCP_STATE_LISTEN) {
            listeners.emplace(connection.localPort, &connection);
        }
    }
    std::vector<MIB_TCPROW_OWNER_PID> rows;
    for (const HostConnection& connection : connections) {
        const bool listening = connection.state == MIB_TCP_STATE_LISTEN;
        if ((tableClass == TCP_TABLE_OWNER_PID_LISTENER && !listening) ||
            (tableClass == TCP_TABLE_OWNER_PID_CONNECTIONS && listening)) {
            continue;
        }
        // A connection whose local port a socket listens on is the server's end of one that
        // listener accepted.
        const auto listener = listening ? listeners.end() : listeners.find(connection.localPort);
        const bool ownSocket = ownInodes.count(connection.inode) > 0;
        DWORD owner = configuration.defaultConnectionOwner;
        const auto endpoint =
            configuration.endpointOwners.find({connection.localPort, connection.remotePort});
        const auto registered = configuration.connectionOwners.find(connection.localPort);
        if (!listening && endpoint != configuration.endpointOwners.end()) {
            owner = endpoint->second;
        } else if (registered != configuration.connectionOwners.end()) {
            owner = registered->second;
        } else if (ownListeningPorts.count(connection.localPort) > 0 && ownSocket) {
            // The listening socket and the connections it accepted: the service's own.
            owner = configuration.currentProcessId;
        } else if (listening) {
            owner = listenerOwner(connection);
        } else if (connection.state == MIB_TCP_STATE_TIME_WAIT) {
            // A connection in TIME_WAIT belongs to no process any more.
            owner = 0;
        } else if (listener != listeners.end() && connection.inode == 0) {
            // Accepted by the system, not yet by the program: its listener's, as on Windows.
            owner = listenerOwner(*listener->second);
        } else if (listener != listeners.end() && !ownSocket) {
            if (const DWORD holder = holders.holder(connection.inode)) {
                owner = holder;
            }
        }
        MIB_TCPROW_OWNER_PID row{};
        row.dwState = connection.state;
        row.dwLocalAddr = connection.localAddr;
        row.dwLocalPort = networkPort(connection.localPort);
        // Windows reports no remote endpoint for a listening socket.
        row.dwRemoteAddr = listening ? 0 : connection.remoteAddr;
        row.dwRemotePort = listening ? 0 : networkPort(connection.remotePort);
        row.dwOwningPid = owner;
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

extern "C" {

DWORD WINAPI GetExtendedTcpTable(PVOID pTcpTable,
                                 PDWORD pdwSize,
                                 BOOL bOrder,
                                 ULONG ulAf,
                                 TCP_TABLE_CLASS TableClass,
                                 ULONG /*Reserved*/) {
    if (const std::optional<DWORD> error =
            InjectedError("GetExtendedTcpTable", std::to_string(static_cast<int>(TableClass)))) {
        return *error;
    }
    if (pdwSize == nullptr || TableClass < TCP_TABLE_BASIC_LISTENER ||
        TableClass > TCP_TABLE_OWNER_MODULE_ALL || (ulAf != AF_INET && ulAf != WindowsAfInet6)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (ulAf != AF_INET ||
        (TableClass != TCP_TABLE_OWNER_PID_LISTENER &&
         TableClass != TCP_TABLE_OWNER_PID_CONNECTIONS && TableClass != TCP_TABLE_OWNER_PID_ALL)) {
        // Only the IPv4 tables with owner pids are emulated.
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    std::vector<MIB_TCPROW_OWNER_PID> rows = ownedRows(TableClass);
    if (bOrder) {
        // Windows sorts by local address, local port, remote address, remote port, each as
        // the number it stands for.
        const auto key = [](const MIB_TCPROW_OWNER_PID& row) {
            const auto host32 = [](DWORD value) {
                const auto* b = reinterpret_cast<const unsigned char*>(&value);
                return (DWORD{b[0]} << 24) | (DWORD{b[1]} << 16) | (DWORD{b[2]} << 8) | b[3];
            };
            const auto host16 = [](DWORD value) {
                const auto* b = reinterpret_cast<const unsigned char*>(&value);
                return (DWORD{b[0]} << 8) | b[1];
            };
            return std::make_tuple(host32(row.dwLocalAddr),
                                   host16(row.dwLocalPort),
                                   host32(row.dwRemoteAddr),
                                   host16(row.dwRemotePort));
        };
        std::stable_sort(rows.begin(), rows.end(), [&](const auto& left, const auto& right) {
            return key(left) < key(right);
        });
    }
    const DWORD needed = static_cast<DWORD>(offsetof(MIB_TCPTABLE_OWNER_PID, table) +
                                            rows.size() * sizeof(MIB_TCPROW_OWNER_PID));
    if (pTcpTable == nullptr || *pdwSize < needed) {
        *pdwSize = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    auto* table = static_cast<MIB_TCPTABLE_OWNER_PID*>(pTcpTable);
    table->dwNumEntries = static_cast<DWORD>(rows.size());
    if (!rows.empty()) {
        std::memcpy(table->table, rows.data(), rows.size() * sizeof(MIB_TCPROW_OWNER_PID));
    }
    *pdwSize = needed;
    return NO_ERROR;
}

}  // extern "C"

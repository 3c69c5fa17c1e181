#include "tests/support/LoopbackPair.h"

#include <Poco/Exception.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Timestamp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace OrvaneClient::Testing {

LoopbackPair::LoopbackPair() {
    Poco::Net::ServerSocket listener;
    listener.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true, false);
    listener.listen(1);
    client.connect(listener.address(), Poco::Timespan(5, 0));
    if (!listener.poll(Poco::Timespan(5, 0), Poco::Net::Socket::SELECT_READ)) {
        throw Poco::TimeoutException("loopback connection was not accepted in time");
    }
    server = listener.acceptConnection();
}

void SendAll(Poco::Net::StreamSocket& socket, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int count =
            socket.sendBytes(bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (count <= 0) {
            throw Poco::IOException("loopback send wrote nothing");
        }
        sent += static_cast<size_t>(count);
    }
}

bool WaitForAvailable(Poco::Net::StreamSocket& socket, int count, Poco::Timespan timeout) {
    const Poco::Timestamp start;
    while (socket.available() < count) {
        const Poco::Timespan left = timeout - Poco::Timespan(start.elapsed());
        if (left <= 0) {
            return false;
        }
        // Wakes on the first byte; a short slice lets later bytes of the same write arrive.
        socket.poll(std::min(left, Poco::Timespan(0, 10000)), Poco::Net::Socket::SELECT_READ);
    }
    return true;
}

std::string ReceiveUpTo(Poco::Net::StreamSocket& socket, size_t count, Poco::Timespan timeout) {
    const Poco::Timestamp start;
    std::string bytes;
    char chunk[4096];
    while (bytes.size() < count) {
        const Poco::Timespan left = timeout - Poco::Timespan(start.elapsed());
        if (left <= 0 || !socket.poll(left, Poco::Net::Socket::SELECT_READ)) {
            break;
        }
        const size_t wanted = std::min(count - bytes.size(), sizeof(chunk));
        const int received = socket.receiveBytes(chunk, static_cast<int>(wanted), 0);
        if (received <= 0) {
            break;
        }
        bytes.append(chunk, static_cast<size_t>(received));
    }
    return bytes;
}

void ResetConnection(Poco::Net::StreamSocket& socket) {
    socket.setLinger(true, 0);
    socket.close();
}

bool ResetReadsAsOrderlyEnd() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

std::string HexBytes(const std::string& hex) {
    std::string bytes;
    std::string pair;
    for (const char c : hex) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            pair.push_back(c);
            if (pair.size() == 2) {
                bytes.push_back(static_cast<char>(std::stoi(pair, nullptr, 16)));
                pair.clear();
            }
        }
    }
    return bytes;
}

std::string ToHex(const std::string& bytes) {
    std::string hex;
    char pair[4];
    for (const char c : bytes) {
        std::snprintf(pair, sizeof(pair), "%02X", static_cast<unsigned char>(c));
        if (!hex.empty()) {
            hex.push_back(' ');
        }
        hex += pair;
    }
    return hex;
}

}  // namespace OrvaneClient::Testing

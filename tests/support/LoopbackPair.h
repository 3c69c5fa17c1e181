#pragma once

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/Timespan.h>

#include <string>

namespace OrvaneClient::Testing {

// Two connected TCP sockets on 127.0.0.1: `client` connected to an ephemeral port, `server`
// the connection accepted there. The listening socket is closed once the pair is made.
// Construction throws a Poco exception when loopback networking is unavailable.
class LoopbackPair {
public:
    LoopbackPair();

    Poco::Net::StreamSocket client;
    Poco::Net::StreamSocket server;
};

// Writes all of `bytes`, looping over partial sends.
void SendAll(Poco::Net::StreamSocket& socket, const std::string& bytes);

// Waits until at least `count` bytes can be read from `socket` without blocking, or until
// `timeout` has passed. True when they are there.
bool WaitForAvailable(Poco::Net::StreamSocket& socket,
                      int count,
                      Poco::Timespan timeout = Poco::Timespan(5, 0));

// Reads exactly `count` bytes, or fewer when the peer closes or `timeout` passes first.
std::string ReceiveUpTo(Poco::Net::StreamSocket& socket,
                        size_t count,
                        Poco::Timespan timeout = Poco::Timespan(5, 0));

// Closes `socket` so that the peer sees a reset instead of an orderly end (SO_LINGER 0).
void ResetConnection(Poco::Net::StreamSocket& socket);

// True under Wine, whose server takes a socket's pending error when it polls it: a reset then
// reads as an orderly end, where Windows reports WSAECONNRESET.
bool ResetReadsAsOrderlyEnd();

// Builds bytes from hexadecimal text such as "00 0B 08 01", spaces ignored.
std::string HexBytes(const std::string& hex);
// Renders bytes as upper-case hexadecimal pairs separated by spaces, for failure messages.
std::string ToHex(const std::string& bytes);

}  // namespace OrvaneClient::Testing

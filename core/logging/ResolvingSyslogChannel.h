#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/Message.h>
#include <Poco/Net/SocketAddress.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace OrvaneClient {

// Sends messages as syslog datagrams (through Poco::Net::RemoteSyslogChannel) without ever
// making the logging thread wait for the name service or the network.
//
// The log host is resolved once per channel, on a thread of its own, when the first message
// arrives. Messages that arrive meanwhile wait (at most MaxPendingMessages of them; later ones
// are dropped) and are sent in their order once the address is known. When the host cannot be
// resolved, or the socket cannot be opened, the waiting messages and every later one are
// dropped at once, for the life of the channel: a lost remote copy costs nothing but the copy.
// log never throws for the network; it returns without waiting for the resolution.
//
// Properties: "loghost" ("host", "host:port", "[v6 address]:port"; port 514 when none is given)
// is the channel's own and is read when the first message arrives; every other property
// ("name", "facility", "format", "host", ...) goes to the syslog channel, with its exceptions.
// Thread-safe.
class ResolvingSyslogChannel : public Poco::Channel {
public:
    using Ptr = Poco::AutoPtr<ResolvingSyslogChannel>;
    // Turns "host:port" into an address; throws on failure. May take as long as it likes.
    using Resolver = std::function<Poco::Net::SocketAddress(const std::string& hostAndPort)>;

    static constexpr size_t MaxPendingMessages = 100;

    enum class Resolution { NotStarted, Pending, Resolved, Failed };

    ResolvingSyslogChannel();
    // With a resolver of the caller's instead of the name service (tests).
    explicit ResolvingSyslogChannel(Resolver resolver);

    void setProperty(const std::string& name, const std::string& value) override;
    std::string getProperty(const std::string& name) const override;
    void log(const Poco::Message& message) override;

    // Where the one resolution stands: NotStarted until the first message, Pending while the
    // name service is asked, then Resolved (messages are sent) or Failed (they are dropped).
    Resolution resolution() const;

protected:
    ~ResolvingSyslogChannel() override;

private:
    struct State;
    static void resolve(const std::shared_ptr<State>& state);

    // Shared with the resolving thread, which may outlive the channel.
    std::shared_ptr<State> state;
};

}  // namespace OrvaneClient

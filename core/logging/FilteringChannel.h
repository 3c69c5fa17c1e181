#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/Message.h>

namespace OrvaneClient {

// Passes a message on to the wrapped channel only when its priority number is at most `level`
// (1 fatal ... 8 trace), the test a logger applies with its own level; level 4 passes fatal,
// critical, error and warning. Holds one reference to the wrapped channel for its whole life.
// Takes no lock of its own: the wrapped channel guards itself. Has no properties: setProperty
// and getProperty raise Poco::PropertyNotSupportedException. A null wrapped channel raises
// Poco::NullPointerException for every message that passes the level.
class FilteringChannel : public Poco::Channel {
public:
    using Ptr = Poco::AutoPtr<FilteringChannel>;

    FilteringChannel(Poco::Channel::Ptr channel, int level);

    void log(const Poco::Message& message) override;

protected:
    ~FilteringChannel() override;

private:
    Poco::Channel::Ptr channel;
    const int level;
};

}  // namespace OrvaneClient

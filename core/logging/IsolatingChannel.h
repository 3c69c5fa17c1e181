#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/Message.h>

namespace OrvaneClient {

// Passes every message to the wrapped channel and drops a Poco::Exception that the channel
// raises, so that one failing output (a log file that cannot be opened) does not keep the
// message from the outputs behind it in a Poco::SplitterChannel, which stops at the first
// exception. The lost copy is the failing channel's only. Holds one reference to the wrapped
// channel; forwards properties, open and close to it. Takes no lock of its own.
class IsolatingChannel : public Poco::Channel {
public:
    using Ptr = Poco::AutoPtr<IsolatingChannel>;

    explicit IsolatingChannel(Poco::Channel::Ptr channel);

    void open() override;
    void close() override;
    void log(const Poco::Message& message) override;
    void setProperty(const std::string& name, const std::string& value) override;
    std::string getProperty(const std::string& name) const override;

protected:
    ~IsolatingChannel() override;

private:
    Poco::Channel::Ptr channel;
};

}  // namespace OrvaneClient

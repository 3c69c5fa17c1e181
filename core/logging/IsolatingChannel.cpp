#include "core/logging/IsolatingChannel.h"

#include <Poco/Exception.h>

#include <utility>

namespace OrvaneClient {

IsolatingChannel::IsolatingChannel(Poco::Channel::Ptr channel) : channel(std::move(channel)) {}

IsolatingChannel::~IsolatingChannel() = default;

void IsolatingChannel::open() {
    channel->open();
}

void IsolatingChannel::close() {
    channel->close();
}

void IsolatingChannel::log(const Poco::Message& message) {
    try {
        channel->log(message);
    } catch (const Poco::Exception&) {
        // The caller could do nothing with it either: the log facade drops it.
    }
}

void IsolatingChannel::setProperty(const std::string& name, const std::string& value) {
    channel->setProperty(name, value);
}

std::string IsolatingChannel::getProperty(const std::string& name) const {
    return channel->getProperty(name);
}

}  // namespace OrvaneClient

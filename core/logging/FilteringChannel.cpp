#include "core/logging/FilteringChannel.h"

#include <utility>

namespace OrvaneClient {

FilteringChannel::FilteringChannel(Poco::Channel::Ptr channel, int level)
    : channel(std::move(channel)), level(level) {}

FilteringChannel::~FilteringChannel() = default;

void FilteringChannel::log(const Poco::Message& message) {
    if (message.getPriority() > level) {
        return;
    }
    // AutoPtr's operator-> raises Poco::NullPointerException when there is no channel.
    channel->log(message);
}

}  // namespace OrvaneClient

#include "core/logging/FilteringChannel.h"
#include "core/logging/RecentMemoryBufferChannel.h"
#include "tests/support/LogCapture.h"

#include <Poco/Exception.h>
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <string>

namespace OrvaneClient {
namespace {

using Testing::CaptureChannel;

TEST(FilteringChannel, PassesExactlyThePrioritiesUpToItsLevelUnchanged) {
    for (const int level : {4, 1}) {
        SCOPED_TRACE("level " + std::to_string(level));
        CaptureChannel::Ptr capture(new CaptureChannel);
        FilteringChannel::Ptr filter(new FilteringChannel(capture, level));
        for (int priority = Poco::Message::PRIO_FATAL; priority <= Poco::Message::PRIO_TRACE;
             ++priority) {
            filter->log(Poco::Message("source",
                                      "text " + std::to_string(priority),
                                      static_cast<Poco::Message::Priority>(priority)));
        }
        const auto lines = capture->lines();
        ASSERT_EQ(lines.size(), static_cast<size_t>(level));
        for (int i = 0; i < level; ++i) {
            EXPECT_EQ(lines[i].priority, i + 1);
            EXPECT_EQ(lines[i].text, "text " + std::to_string(i + 1));
            EXPECT_EQ(lines[i].source, "source");
        }
    }
}

TEST(FilteringChannel, HoldsItsChannelAndRaisesNullPointerWithoutOne) {
    CaptureChannel::Ptr capture(new CaptureChannel);
    {
        FilteringChannel::Ptr filter(new FilteringChannel(capture, 4));
        EXPECT_EQ(capture->referenceCount(), 2);
    }
    EXPECT_EQ(capture->referenceCount(), 1);

    FilteringChannel::Ptr empty(new FilteringChannel(nullptr, 4));
    EXPECT_THROW(empty->log(Poco::Message("s", "w", Poco::Message::PRIO_WARNING)),
                 Poco::NullPointerException);
    EXPECT_NO_THROW(empty->log(Poco::Message("s", "n", Poco::Message::PRIO_NOTICE)));
}

TEST(OwnChannels, HaveNoProperties) {
    Poco::Channel::Ptr channels[] = {new FilteringChannel(new CaptureChannel, 4),
                                     new RecentMemoryBufferChannel};
    for (Poco::Channel::Ptr& channel : channels) {
        EXPECT_THROW(channel->setProperty("level", "4"), Poco::PropertyNotSupportedException);
        EXPECT_THROW(channel->getProperty("level"), Poco::PropertyNotSupportedException);
    }
}

}  // namespace
}  // namespace OrvaneClient

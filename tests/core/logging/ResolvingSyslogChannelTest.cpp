#include "core/logging/ResolvingSyslogChannel.h"
#include "tests/core/logging/SyslogReceiver.h"

#include <Poco/Event.h>
#include <Poco/Exception.h>
#include <Poco/Message.h>
#include <Poco/Net/NetException.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace OrvaneClient {
namespace {

using Testing::SyslogReceiver;
using Resolution = ResolvingSyslogChannel::Resolution;

constexpr auto Deadline = std::chrono::seconds(10);

Poco::Message Warning(const std::string& text) {
    return Poco::Message("orvane_test", text, Poco::Message::PRIO_WARNING);
}

// Waits, up to the deadline, for the channel's resolution to leave Pending.
Resolution SettledResolution(const ResolvingSyslogChannel& channel) {
    const auto end = std::chrono::steady_clock::now() + Deadline;
    Resolution resolution = channel.resolution();
    while (resolution == Resolution::Pending && std::chrono::steady_clock::now() < end) {
        std::this_thread::yield();
        resolution = channel.resolution();
    }
    return resolution;
}

// A name service that answers only when the test lets it.
struct HeldResolver {
    Poco::Event asked;
    Poco::Event answer;
    std::atomic<int> calls{0};
    std::atomic<bool> fail{false};
    Poco::Net::SocketAddress address;

    ResolvingSyslogChannel::Resolver resolver() {
        return [this](const std::string&) {
            ++calls;
            asked.set();
            answer.wait();
            if (fail) {
                throw Poco::Net::HostNotFoundException("logs.orvane.invalid");
            }
            return address;
        };
    }
};

TEST(ResolvingSyslogChannel, SendsEveryMessageInOrderToTheReceiver) {
    SyslogReceiver receiver;
    ResolvingSyslogChannel::Ptr channel(new ResolvingSyslogChannel);
    channel->setProperty("loghost", receiver.hostAndPort());
    channel->setProperty("name", "orvane_service");
    for (int i = 1; i <= 3; ++i) {
        channel->log(Warning("warning " + std::to_string(i)));
    }
    for (int i = 1; i <= 3; ++i) {
        const auto datagram = receiver.receive();
        ASSERT_TRUE(datagram);
        EXPECT_EQ(datagram->rfind("<12>1 ", 0), 0u) << *datagram;  // USER * 8 + warning, RFC 5424
        EXPECT_NE(datagram->find(" orvane_service "), std::string::npos) << *datagram;
        EXPECT_EQ(datagram->substr(datagram->size() - 10), " warning " + std::to_string(i));
    }
    // A port of its own is kept; a host without one gets the syslog port.
    channel->setProperty("loghost", "[::1]");
    EXPECT_EQ(channel->getProperty("loghost"), "[::1]:514");
}

TEST(ResolvingSyslogChannel, LogDoesNotWaitForTheNameServiceAndSendsWhatWaitedInOrder) {
    SyslogReceiver receiver;
    HeldResolver held;
    held.address = Poco::Net::SocketAddress(receiver.hostAndPort());
    ResolvingSyslogChannel::Ptr channel(new ResolvingSyslogChannel(held.resolver()));
    channel->setProperty("loghost", "logs.orvane.invalid");

    // If log waited for the resolver, this would not finish before the answer is released.
    auto logging = std::async(std::launch::async, [&channel] {
        for (int i = 1; i <= 3; ++i) {
            channel->log(Warning("queued " + std::to_string(i)));
        }
    });
    ASSERT_EQ(logging.wait_for(Deadline), std::future_status::ready);
    ASSERT_TRUE(held.asked.tryWait(10000));
    EXPECT_EQ(channel->resolution(), Resolution::Pending);

    held.answer.set();
    for (int i = 1; i <= 3; ++i) {
        EXPECT_TRUE(receiver.receiveEndingWith(" queued " + std::to_string(i)));
    }
    ASSERT_EQ(SettledResolution(*channel), Resolution::Resolved);
    channel->log(Warning("after"));
    EXPECT_TRUE(receiver.receiveEndingWith(" after"));
    EXPECT_EQ(held.calls, 1);
}

TEST(ResolvingSyslogChannel, AHostThatCannotBeResolvedIsAskedForOnceAndCostsNoException) {
    HeldResolver held;
    held.fail = true;
    held.answer.set();
    ResolvingSyslogChannel::Ptr channel(new ResolvingSyslogChannel(held.resolver()));
    channel->setProperty("loghost", "logs.orvane.invalid");

    EXPECT_NO_THROW(channel->log(Warning("first")));
    ASSERT_EQ(SettledResolution(*channel), Resolution::Failed);
    for (int i = 0; i < 100; ++i) {
        EXPECT_NO_THROW(channel->log(Warning("dropped")));
    }
    EXPECT_EQ(channel->resolution(), Resolution::Failed);
    EXPECT_EQ(held.calls, 1);
}

TEST(ResolvingSyslogChannel, MayBeDestroyedWhileTheNameServiceIsStillAsked) {
    HeldResolver held;
    held.address = Poco::Net::SocketAddress("127.0.0.1", 9);
    // Set when the last copy of the resolver is gone, that is when the resolving thread has
    // finished and the state it shares with the channel has been freed.
    Poco::Event released;
    struct ReleaseSignal {
        explicit ReleaseSignal(Poco::Event& event) : event(event) {}
        ~ReleaseSignal() { event.set(); }
        Poco::Event& event;
    };
    {
        auto signal = std::make_shared<ReleaseSignal>(released);
        ResolvingSyslogChannel::Resolver asked = held.resolver();
        ResolvingSyslogChannel::Ptr channel(new ResolvingSyslogChannel(
            [asked, signal](const std::string& host) { return asked(host); }));
        signal.reset();
        channel->log(Warning("never sent"));
        ASSERT_TRUE(held.asked.tryWait(10000));
    }
    EXPECT_FALSE(released.tryWait(0));
    held.answer.set();
    EXPECT_TRUE(released.tryWait(10000));
}

}  // namespace
}  // namespace OrvaneClient

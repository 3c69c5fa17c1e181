#include "core/logging/RecentMemoryBufferChannel.h"

#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace OrvaneClient {
namespace {

Poco::Message Line(const std::string& text) {
    return Poco::Message("source", text, Poco::Message::PRIO_INFORMATION);
}

std::string LinesFromTo(int first, int last) {
    std::string text;
    for (int i = first; i <= last; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    return text;
}

TEST(RecentMemoryBufferChannel, KeepsTheTextsOfTheLast49Messages) {
    const struct {
        int logged, firstKept;
    } cases[] = {{0, 1}, {2, 1}, {49, 1}, {50, 2}, {1000, 952}};
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::to_string(entry.logged) + " messages");
        RecentMemoryBufferChannel::Ptr buffer(new RecentMemoryBufferChannel);
        for (int i = 1; i <= entry.logged; ++i) {
            buffer->log(Line("line " + std::to_string(i)));
        }
        EXPECT_EQ(buffer->recentMessages(), LinesFromTo(entry.firstKept, entry.logged));
    }
}

TEST(RecentMemoryBufferChannel, TheProcessInstanceOutlivesTheGraphsThatHoldIt) {
    RecentMemoryBufferChannel* instance = RecentMemoryBufferChannel::instance();
    ASSERT_EQ(RecentMemoryBufferChannel::instance(), instance);
    {
        Poco::Channel::Ptr graph(instance, true);
        graph->log(Line("held by a graph"));
    }
    instance->log(Line("after the graph"));
    EXPECT_NE(instance->recentMessages().find("held by a graph\nafter the graph\n"),
              std::string::npos);
}

TEST(RecentMemoryBufferChannel, ConcurrentWritersAndReadersSeeWholeLines) {
    RecentMemoryBufferChannel::Ptr buffer(new RecentMemoryBufferChannel);
    const std::string payload(200, 'p');
    std::vector<std::future<void>> workers;
    for (int writer = 0; writer < 4; ++writer) {
        workers.push_back(std::async(std::launch::async, [&] {
            for (int i = 0; i < 500; ++i) {
                buffer->log(Line(payload));
            }
        }));
    }
    workers.push_back(std::async(std::launch::async, [&] {
        for (int i = 0; i < 200; ++i) {
            const std::string text = buffer->recentMessages();
            const size_t lines = text.size() / (payload.size() + 1);
            ASSERT_EQ(text.size() % (payload.size() + 1), 0u);
            ASSERT_LE(lines, RecentMemoryBufferChannel::MaxLines);
        }
    }));
    // A lock that was not given back would leave the others waiting for ever.
    for (auto& worker : workers) {
        ASSERT_EQ(worker.wait_for(std::chrono::seconds(30)), std::future_status::ready);
        worker.get();
    }
    EXPECT_EQ(buffer->recentMessages().size(), 49 * (payload.size() + 1));
}

}  // namespace
}  // namespace OrvaneClient

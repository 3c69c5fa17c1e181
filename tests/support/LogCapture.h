#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/Message.h>
#include <Poco/Mutex.h>

#include <string>
#include <vector>

namespace OrvaneClient::Testing {

struct CapturedLine {
    int priority;
    std::string text;
    std::string source;
};

// A channel that records every message it is given. Thread-safe.
class CaptureChannel : public Poco::Channel {
public:
    using Ptr = Poco::AutoPtr<CaptureChannel>;

    void log(const Poco::Message& message) override;

    std::vector<CapturedLine> lines() const;
    void clear();

private:
    mutable Poco::FastMutex mutex;
    std::vector<CapturedLine> captured;
};

// While alive, the root logger and every existing logger write to a CaptureChannel at the
// given level, and the facade's default logger is "orvane_test". Restores no channel and the
// information level on destruction.
class LogCapture {
public:
    explicit LogCapture(int level = Poco::Message::PRIO_TRACE);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<CapturedLine> lines() const { return channel->lines(); }
    void clear() { channel->clear(); }

    // Number of lines with exactly this text and priority.
    size_t count(int priority, const std::string& text) const;
    bool contains(int priority, const std::string& text) const { return count(priority, text) > 0; }
    // Lines whose text starts with `prefix`, any priority.
    std::vector<CapturedLine> startingWith(const std::string& prefix) const;
    // Every line, one per row, with its priority: for failure messages.
    std::string dump() const;

private:
    CaptureChannel::Ptr channel;
    std::string previousDefaultLoggerName;
};

}  // namespace OrvaneClient::Testing

#pragma once

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/Message.h>

#include <cstddef>
#include <deque>
#include <string>

namespace OrvaneClient {

// Keeps the texts of the most recent messages in memory, oldest first: at most
// RecentMemoryBufferChannel::MaxLines (49) after every log call. In the logger setup it is fed
// through a formatting channel, so each text is a whole formatted log line.
//
// log and recentMessages may be called from any thread: they are serialised by one class-wide
// Windows mutex, created unnamed during static initialisation and never closed (one handle for
// the life of the process). Has no properties: setProperty and getProperty raise
// Poco::PropertyNotSupportedException.
class RecentMemoryBufferChannel : public Poco::Channel {
public:
    using Ptr = Poco::AutoPtr<RecentMemoryBufferChannel>;

    // A buffer of 50 or more lines is cut back to this many from its oldest end.
    static constexpr size_t MaxLines = 49;

    RecentMemoryBufferChannel();

    // Appends a copy of the message's text (the text only: source, priority and time are not
    // kept) and drops the oldest lines beyond MaxLines.
    void log(const Poco::Message& message) override;

    // Every kept line, oldest first, each followed by "\n"; empty for an empty buffer.
    std::string recentMessages() const;

    // The process-wide buffer, created on the first call and never destroyed: it keeps one
    // reference to itself, so a caller that wraps the pointer takes a reference of its own
    // (Poco::AutoPtr with shared = true) and may let it go. Thread-safe.
    static RecentMemoryBufferChannel* instance();

protected:
    ~RecentMemoryBufferChannel() override;

private:
    std::deque<std::string> lines;
};

}  // namespace OrvaneClient

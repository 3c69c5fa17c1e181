#include "core/logging/RecentMemoryBufferChannel.h"

#include "core/windows/ScopedMutexLock.h"
#include "core/windows/Win32Api.h"

#include <sstream>

namespace OrvaneClient {
namespace {

// Shared by every instance (there is one) and never closed: log lines may come from any thread
// up to the end of the process, static destruction included. Created unnamed and not owned.
const HANDLE bufferMutex = CreateMutexA(nullptr, FALSE, nullptr);

}  // namespace

RecentMemoryBufferChannel::RecentMemoryBufferChannel() = default;

RecentMemoryBufferChannel::~RecentMemoryBufferChannel() = default;

void RecentMemoryBufferChannel::log(const Poco::Message& message) {
    // A failed wait goes on unguarded: losing the lock is better than losing the line.
    const ScopedMutexLock lock(bufferMutex);
    lines.push_back(message.getText());
    while (lines.size() > MaxLines) {
        lines.pop_front();
    }
}

std::string RecentMemoryBufferChannel::recentMessages() const {
    const ScopedMutexLock lock(bufferMutex);
    std::ostringstream text;
    for (const std::string& line : lines) {
        text << line << "\n";
    }
    return text.str();
}

RecentMemoryBufferChannel* RecentMemoryBufferChannel::instance() {
    // The reference taken at construction is the instance's own and is never given up, so the
    // buffer outlives any channel graph that holds it.
    static RecentMemoryBufferChannel* const processInstance = new RecentMemoryBufferChannel;
    return processInstance;
}

}  // namespace OrvaneClient

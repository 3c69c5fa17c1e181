#include "tests/support/LogCapture.h"

#include "core/logfacade/LogFacade.h"

#include <Poco/Logger.h>

namespace OrvaneClient::Testing {

void CaptureChannel::log(const Poco::Message& message) {
    Poco::FastMutex::ScopedLock lock(mutex);
    captured.push_back({message.getPriority(), message.getText(), message.getSource()});
}

std::vector<CapturedLine> CaptureChannel::lines() const {
    Poco::FastMutex::ScopedLock lock(mutex);
    return captured;
}

void CaptureChannel::clear() {
    Poco::FastMutex::ScopedLock lock(mutex);
    captured.clear();
}

LogCapture::LogCapture(int level) : channel(new CaptureChannel) {
    previousDefaultLoggerName = GetLoggingState().defaultLoggerName;
    GetLoggingState().defaultLoggerName = "orvane_test";
    // The static setters only reach loggers that exist; make sure the root does, so loggers
    // created later inherit the capture.
    Poco::Logger::root();
    Poco::Logger::setChannel("", channel);
    Poco::Logger::setLevel("", level);
}

LogCapture::~LogCapture() {
    Poco::Logger::setChannel("", nullptr);
    Poco::Logger::setLevel("", Poco::Message::PRIO_INFORMATION);
    GetLoggingState().defaultLoggerName = previousDefaultLoggerName;
}

size_t LogCapture::count(int priority, const std::string& text) const {
    size_t matches = 0;
    for (const CapturedLine& line : lines()) {
        if (line.priority == priority && line.text == text) {
            ++matches;
        }
    }
    return matches;
}

std::vector<CapturedLine> LogCapture::startingWith(const std::string& prefix) const {
    std::vector<CapturedLine> result;
    for (const CapturedLine& line : lines()) {
        if (line.text.compare(0, prefix.size(), prefix) == 0) {
            result.push_back(line);
        }
    }
    return result;
}

std::string LogCapture::dump() const {
    std::string text;
    for (const CapturedLine& line : lines()) {
        text += "[" + std::to_string(line.priority) + "] " + line.text + "\n";
    }
    return text;
}

}  // namespace OrvaneClient::Testing

#include "core/logfacade/LogFacade.h"

#include "core/logfacade/LineFormat.h"

#include <Poco/Logger.h>
#include <Poco/Message.h>

#include <cstdarg>
#include <string>

namespace OrvaneClient {
namespace {

// Static storage, initialised before the process entry runs.
LoggingState loggingState;

void LogFormatted(const std::string& loggerName,
                  Poco::Message::Priority priority,
                  const char* format,
                  va_list arguments) ORVANE_PRINTF_FORMAT(3, 0);

void LogFormatted(const std::string& loggerName,
                  Poco::Message::Priority priority,
                  const char* format,
                  va_list arguments) {
    // One extra byte for the terminating zero gives exactly LogLineMaxCharacters of text.
    char buffer[LogLineMaxCharacters + 1];
    try {
        FormatLogLine(buffer, sizeof(buffer), format, arguments);
        const std::string text(buffer);
        Poco::Logger& logger = Poco::Logger::get(loggerName);
        Poco::Channel::Ptr channel = logger.getChannel();
        if (logger.getLevel() >= priority && channel) {
            channel->log(Poco::Message(logger.name(), text, priority));
        }
    } catch (...) {
        // A log line must never take its caller down; the line is lost for this channel and
        // the ones behind it.
    }
}

}  // namespace

LoggingState& GetLoggingState() {
    return loggingState;
}

bool IsLoggingChannelEnabled(const char* channel) {
    if (channel == nullptr) {
        return false;
    }
    for (const LoggingChannelEntry& entry : loggingState.enabledChannels) {
        if (entry.name == channel) {
            return true;
        }
    }
    return false;
}

// clang-format off
#define ORVANE_DEFINE_DEFAULT_LOG(function, priority)                       \
    void function(const char* format, ...) {                               \
        va_list arguments;                                                  \
        va_start(arguments, format);                                        \
        LogFormatted(loggingState.defaultLoggerName, priority, format, arguments); \
        va_end(arguments);                                                  \
    }

#define ORVANE_DEFINE_NAMED_LOG(function, priority)                         \
    void function(const char* channel, const char* format, ...) {          \
        if (!IsLoggingChannelEnabled(channel)) {                            \
            return;                                                         \
        }                                                                   \
        va_list arguments;                                                  \
        va_start(arguments, format);                                        \
        LogFormatted(channel, priority, format, arguments);                 \
        va_end(arguments);                                                  \
    }

ORVANE_DEFINE_DEFAULT_LOG(LogFatal, Poco::Message::PRIO_FATAL)
ORVANE_DEFINE_DEFAULT_LOG(LogError, Poco::Message::PRIO_ERROR)
ORVANE_DEFINE_DEFAULT_LOG(LogWarning, Poco::Message::PRIO_WARNING)
ORVANE_DEFINE_DEFAULT_LOG(LogInfo, Poco::Message::PRIO_INFORMATION)
ORVANE_DEFINE_DEFAULT_LOG(LogDebug, Poco::Message::PRIO_DEBUG)

ORVANE_DEFINE_NAMED_LOG(LogFatalTo, Poco::Message::PRIO_FATAL)
ORVANE_DEFINE_NAMED_LOG(LogErrorTo, Poco::Message::PRIO_ERROR)
ORVANE_DEFINE_NAMED_LOG(LogWarningTo, Poco::Message::PRIO_WARNING)
ORVANE_DEFINE_NAMED_LOG(LogInfoTo, Poco::Message::PRIO_INFORMATION)
ORVANE_DEFINE_NAMED_LOG(LogDebugTo, Poco::Message::PRIO_DEBUG)
// clang-format on

}  // namespace OrvaneClient

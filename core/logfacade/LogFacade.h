#pragma once

// The printf-style log facade that every log line of the system goes through.
//
// The default family (LogFatal ... LogDebug) writes to the logger named
// LoggingState::defaultLoggerName; the named family (LogFatalTo ... LogDebugTo) writes to the
// logger named by the caller, and only when that name was enabled in the registry at start.
// Every function formats into at most 16,384 characters (FormatLogLine: a control character
// of a string argument is written as an escape, so one call is one line), may be called from
// any thread, and never throws: an exception from the logging library or a channel is dropped.

#include "core/logfacade/FormatChecks.h"

#include <cstddef>
#include <string>
#include <vector>

namespace OrvaneClient {

// Characters of text a log line keeps; the buffer holds one more for the terminating zero.
constexpr size_t LogLineMaxCharacters = 16384;

struct LoggingChannelEntry {
    std::string name;
    bool enabled = true;
};

// Written only by SetupLogging, once, before any other thread exists; read-only afterwards,
// so nothing guards it.
struct LoggingState {
    std::string defaultLoggerName = "Default";
    bool isSetUp = false;
    std::vector<LoggingChannelEntry> enabledChannels;
};

LoggingState& GetLoggingState();

// True when `channel` equals an enabled channel name byte for byte.
bool IsLoggingChannelEnabled(const char* channel);

void LogFatal(ORVANE_FORMAT_STRING(const char* format), ...) ORVANE_PRINTF_FORMAT(1, 2);
void LogError(ORVANE_FORMAT_STRING(const char* format), ...) ORVANE_PRINTF_FORMAT(1, 2);
void LogWarning(ORVANE_FORMAT_STRING(const char* format), ...) ORVANE_PRINTF_FORMAT(1, 2);
void LogInfo(ORVANE_FORMAT_STRING(const char* format), ...) ORVANE_PRINTF_FORMAT(1, 2);
void LogDebug(ORVANE_FORMAT_STRING(const char* format), ...) ORVANE_PRINTF_FORMAT(1, 2);

void LogFatalTo(const char* channel, ORVANE_FORMAT_STRING(const char* format), ...)
    ORVANE_PRINTF_FORMAT(2, 3);
void LogErrorTo(const char* channel, ORVANE_FORMAT_STRING(const char* format), ...)
    ORVANE_PRINTF_FORMAT(2, 3);
void LogWarningTo(const char* channel, ORVANE_FORMAT_STRING(const char* format), ...)
    ORVANE_PRINTF_FORMAT(2, 3);
void LogInfoTo(const char* channel, ORVANE_FORMAT_STRING(const char* format), ...)
    ORVANE_PRINTF_FORMAT(2, 3);
void LogDebugTo(const char* channel, ORVANE_FORMAT_STRING(const char* format), ...)
    ORVANE_PRINTF_FORMAT(2, 3);

}  // namespace OrvaneClient

#pragma once

#include "tests/core/logging/SyslogReceiver.h"
#include "tests/support/EmulatedMachineTest.h"

#include <iostream>
#include <sstream>
#include <string>

namespace OrvaneClient::Testing {

// SetupLogging runs once per process. This fixture undoes it around every test (logging state,
// every logger's channel, the loggers themselves), so that each test sees a first setup whether
// it runs in a process of its own or with all the others. The console is read from std::clog;
// the remote log host is a receiver on 127.0.0.1. The machine runs Windows 7 SP1 x64 Professional.
class LoggerSetupFixture : public EmulatedMachineTest {
protected:
    static constexpr const char* LoggerName = "orvane_service";
    const std::string logFilePath = "C:\\ProgramData\\OrvaneClient\\logs\\OrvaneService.log";

    void SetUp() override;
    void TearDown() override;

    void setUpLogging();
    // Every logger lets go of its channels: the log file is flushed and closed.
    static void releaseGraph();
    // The logging state as before any setup, no channel anywhere, only the root logger.
    static void resetLogging();

    std::string readFile(const std::string& windowsPath);
    void writeFile(const std::string& windowsPath, const std::string& content);
    bool isDirectory(const std::string& windowsPath);

    // Lines of `text` of the form "<local time> [source][priority]: message".
    static size_t countLines(const std::string& text,
                             const std::string& priority,
                             const std::string& message,
                             const std::string& source = LoggerName);
    // The process-wide memory buffer's lines since this test began (it is never cleared; a test
    // logs fewer than its 49 lines).
    std::string recentMessages() const;
    std::string consoleText() const { return console.str(); }

    SyslogReceiver receiver;

private:
    std::string startLine;
    std::ostringstream console;
    std::streambuf* previousClog = nullptr;
};

}  // namespace OrvaneClient::Testing

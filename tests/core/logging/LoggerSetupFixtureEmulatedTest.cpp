#include "core/logfacade/LogFacade.h"
#include "core/logging/LoggerSetup.h"
#include "core/logging/RecentMemoryBufferChannel.h"
#include "tests/core/logging/LoggerSetupFixture.h"

#include <Poco/File.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <Poco/Path.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <vector>

namespace OrvaneClient::Testing {

void LoggerSetupFixture::SetUp() {
    EmulatedMachineTest::SetUp();
    resetLogging();
    previousClog = std::clog.rdbuf(console.rdbuf());
    machine().setVersion(Win32Emu::VersionInfo());
    machine().setProcessorArchitecture(PROCESSOR_ARCHITECTURE_AMD64);
    machine().setProductInfo(PRODUCT_PROFESSIONAL);
    static int testsStarted = 0;
    startLine = "-- test " + std::to_string(++testsStarted) + " starts here --";
    RecentMemoryBufferChannel::instance()->log(
        Poco::Message("test", startLine, Poco::Message::PRIO_INFORMATION));
}

void LoggerSetupFixture::TearDown() {
    resetLogging();
    std::clog.rdbuf(previousClog);
    EmulatedMachineTest::TearDown();
}

void LoggerSetupFixture::setUpLogging() {
    SetupLogging(LoggerName, logFilePath, receiver.hostAndPort());
}

void LoggerSetupFixture::releaseGraph() {
    Poco::Logger::setChannel("", nullptr);
}

void LoggerSetupFixture::resetLogging() {
    releaseGraph();
    std::vector<std::string> names;
    Poco::Logger::names(names);
    for (const std::string& name : names) {
        if (!name.empty()) {
            Poco::Logger::destroy(name);
        }
    }
    Poco::Logger::root().setLevel(Poco::Message::PRIO_INFORMATION);
    GetLoggingState() = LoggingState();
}

std::string LoggerSetupFixture::readFile(const std::string& windowsPath) {
    std::ifstream file(machine().hostPath(windowsPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void LoggerSetupFixture::writeFile(const std::string& windowsPath, const std::string& content) {
    const std::string path = machine().hostPath(windowsPath);
    Poco::File(Poco::Path(path).parent()).createDirectories();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool LoggerSetupFixture::isDirectory(const std::string& windowsPath) {
    Poco::File entry(machine().hostPath(windowsPath));
    return entry.exists() && entry.isDirectory();
}

size_t LoggerSetupFixture::countLines(const std::string& text,
                                      const std::string& priority,
                                      const std::string& message,
                                      const std::string& source) {
    const std::string expected = "[" + source + "][" + priority + "]: " + message;
    const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )");
    std::istringstream lines(text);
    std::string line;
    size_t count = 0;
    while (std::getline(lines, line)) {
        if (line.size() == 20 + expected.size() &&
            line.compare(20, expected.size(), expected) == 0 &&
            std::regex_match(line.substr(0, 20), stamp)) {
            ++count;
        }
    }
    return count;
}

std::string LoggerSetupFixture::recentMessages() const {
    const std::string all = RecentMemoryBufferChannel::instance()->recentMessages();
    const auto position = all.rfind(startLine + "\n");
    if (position == std::string::npos) {
        ADD_FAILURE() << "the start of the test is no longer in the memory buffer";
        return all;
    }
    return all.substr(position + startLine.size() + 1);
}

}  // namespace OrvaneClient::Testing

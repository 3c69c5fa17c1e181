#include "core/logging/LoggerSetup.h"

#include "core/logfacade/LogFacade.h"
#include "core/logging/ArchiveCappedFileChannel.h"
#include "core/logging/FilteringChannel.h"
#include "core/logging/IsolatingChannel.h"
#include "core/logging/RecentMemoryBufferChannel.h"
#include "core/logging/ResolvingSyslogChannel.h"
#include "core/util/Constants.h"
#include "core/windows/HostPath.h"
#include "core/windows/OperatingSystem.h"
#include "core/windows/ServiceFolder.h"
#include "core/windows/Win32Api.h"

#include <Poco/AutoPtr.h>
#include <Poco/ConsoleChannel.h>
#include <Poco/Exception.h>
#include <Poco/FormattingChannel.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <Poco/Path.h>
#include <Poco/PatternFormatter.h>
#include <Poco/SplitterChannel.h>
#include <Poco/Util/WinRegistryKey.h>

#include <algorithm>
#include <cstddef>
#include <utility>

namespace OrvaneClient {
namespace {

const char LinePattern[] = "%Y-%m-%d %H:%M:%S [%s][%p]: %t";
const char LoggingChannelsSubkey[] = "\\loggingChannels";
const char LoggerLevelValueName[] = "loggerLevel";
constexpr int RemoteLogLevel = Poco::Message::PRIO_WARNING;
// With 5 MiB files, the log stays under about 55 MiB on the system drive however busy it is.
constexpr std::size_t LogArchivesKept = 10;

Poco::Channel::Ptr Formatted(const Poco::Channel::Ptr& channel) {
    Poco::AutoPtr<Poco::PatternFormatter> formatter(new Poco::PatternFormatter(LinePattern));
    formatter->setProperty("times", "local");
    return new Poco::FormattingChannel(formatter, channel);
}

void EnableConfiguredLoggingChannels() {
    const std::string keyName = ClientRegistryKey + LoggingChannelsSubkey;
    try {
        Poco::Util::WinRegistryKey key(keyName, true);
        if (!key.exists()) {
            return;
        }
        Poco::Util::WinRegistryKey::Values names;
        key.values(names);
        for (const std::string& name : names) {
            int value = 0;
            try {
                value = key.getInt(name);
            } catch (const Poco::Exception&) {
                LogWarning("Ignoring registry value %s of %s: not a 32-bit number",
                           name.c_str(),
                           keyName.c_str());
                continue;
            }
            if (value == 1) {
                GetLoggingState().enabledChannels.push_back({name, true});
            }
        }
    } catch (const Poco::Exception& exception) {
        LogWarning("Could not read logging settings from %s: %s",
                   keyName.c_str(),
                   exception.displayText().c_str());
    }
}

int ConfiguredRootLevel() {
    int level = Poco::Message::PRIO_INFORMATION;
    try {
        Poco::Util::WinRegistryKey key(ClientRegistryKey, true);
        if (!key.exists() || !key.exists(LoggerLevelValueName)) {
            return level;
        }
        try {
            level = std::clamp(key.getInt(LoggerLevelValueName),
                               static_cast<int>(Poco::Message::PRIO_FATAL),
                               static_cast<int>(Poco::Message::PRIO_DEBUG));
        } catch (const Poco::Exception&) {
            LogWarning("Ignoring registry value %s of %s: not a 32-bit number",
                       LoggerLevelValueName,
                       ClientRegistryKey.c_str());
        }
    } catch (const Poco::Exception& exception) {
        LogWarning("Could not read logging settings from %s: %s",
                   ClientRegistryKey.c_str(),
                   exception.displayText().c_str());
    }
    return level;
}

// The log file's channel, holding the log folder by handle for as long as it writes there:
// the folder can be neither renamed nor removed, so the file's path keeps leading into it.
class FolderHoldingChannel : public Poco::Channel {
public:
    FolderHoldingChannel(ServiceFolder folder, Poco::Channel::Ptr channel)
        : folder(std::move(folder)), channel(std::move(channel)) {}

    void open() override { channel->open(); }
    void close() override { channel->close(); }
    void log(const Poco::Message& message) override { channel->log(message); }
    void setProperty(const std::string& name, const std::string& value) override {
        channel->setProperty(name, value);
    }
    std::string getProperty(const std::string& name) const override {
        return channel->getProperty(name);
    }

protected:
    // The channel first: the file is closed before the folder is let go.
    ~FolderHoldingChannel() override { channel.reset(); }

private:
    ServiceFolder folder;
    Poco::Channel::Ptr channel;
};

void UseChannel(const std::string& loggerName, const Poco::Channel::Ptr& channel) {
    Poco::Logger::root().setChannel(channel);
    // A logger of that name made earlier would otherwise keep writing nowhere for the whole run.
    Poco::Logger::get(loggerName).setChannel(channel);
}

// The folder that holds `filePath`, without a trailing separator; empty when it cannot be read.
std::string FolderOf(const std::string& filePath) {
    std::string folder;
    try {
        Poco::Path directory(filePath, Poco::Path::PATH_WINDOWS);
        directory.makeParent();
        folder = directory.toString(Poco::Path::PATH_WINDOWS);
    } catch (const Poco::Exception&) {
        // Left empty: ServiceFolder refuses it.
    }
    if (folder.size() > 3 && folder.back() == '\\') {
        folder.pop_back();
    }
    return folder;
}

void LogTakenBack(const std::string& folder, const std::string& takenBackFrom) {
    if (takenBackFrom.empty()) {
        return;
    }
    // clang-format off
    LogWarning("The folder %s could be changed by others (%s): resetting its owner and access list",
               folder.c_str(),
               takenBackFrom.c_str());
    // clang-format on
}

}  // namespace

void SetupLogging(const std::string& loggerName, const std::string& logFilePath) {
    SetupLogging(loggerName, logFilePath, DefaultRemoteLogHost);
}

void SetupLogging(const std::string& loggerName,
                  const std::string& logFilePath,
                  const std::string& remoteLogHost) {
    LoggingState& state = GetLoggingState();
    if (state.isSetUp) {
        return;
    }
    state.isSetUp = true;
    state.defaultLoggerName = loggerName;

    Poco::Channel::Ptr console(new Poco::ConsoleChannel);
    // The buffer keeps a reference to itself; the graph takes one of its own.
    Poco::Channel::Ptr memory(RecentMemoryBufferChannel::instance(), true);
    Poco::Channel::Ptr syslog(new ResolvingSyslogChannel);
    syslog->setProperty("loghost", remoteLogHost);
    syslog->setProperty("name", loggerName);
    Poco::Channel::Ptr remote(new FilteringChannel(syslog, RemoteLogLevel));
    Poco::Channel::Ptr consoleFormatting = Formatted(console);
    Poco::Channel::Ptr memoryFormatting = Formatted(memory);

    // Until the folder is checked, no file: what the check logs goes to the other outputs.
    Poco::AutoPtr<Poco::SplitterChannel> withoutFile(new Poco::SplitterChannel);
    withoutFile->addChannel(consoleFormatting);
    withoutFile->addChannel(memoryFormatting);
    withoutFile->addChannel(remote);
    UseChannel(loggerName, withoutFile);
    const std::string logsFolder = FolderOf(logFilePath);
    ServiceFolder folder = ServiceFolder::Secure(logsFolder);
    const std::string takenBackFrom = folder.takenBackFrom();
    if (!folder.isSafe()) {
        LogTakenBack(logsFolder, takenBackFrom);
        LogError("Not writing the log file %s: %s", logFilePath.c_str(), folder.refusal().c_str());
    } else {
        Poco::Channel::Ptr file(
            new ArchiveCappedFileChannel(HostPathFromWindowsPath(logFilePath), LogArchivesKept));
        file->setProperty("flush", "false");
        file->setProperty("rotation", "5 M");
        file->setProperty("purgeAge", "1 weeks");
        Poco::Channel::Ptr fileFormatting = Formatted(file);
        fileFormatting->setProperty("flush", "false");

        Poco::AutoPtr<Poco::SplitterChannel> splitter(new Poco::SplitterChannel);
        splitter->addChannel(consoleFormatting);
        // The splitter stops at the first channel that throws; a log file that cannot be written
        // must not cost the memory buffer and the remote receiver their copies.
        splitter->addChannel(Poco::Channel::Ptr(
            new IsolatingChannel(new FolderHoldingChannel(std::move(folder), fileFormatting))));
        splitter->addChannel(memoryFormatting);
        splitter->addChannel(remote);
        UseChannel(loggerName, splitter);
        // Only now, so that the administrator's record, the file, says so too.
        LogTakenBack(logsFolder, takenBackFrom);
    }

    LogInfo("Log started. Application version: %s (%s).",
            ApplicationVersion.c_str(),
            ApplicationBuildTime.c_str());
    LogInfo("Operating system: %s", GetWindowsVersionName().c_str());

    EnableConfiguredLoggingChannels();
    // Loggers made from here on (the named family's) inherit it; the default logger already
    // exists and keeps the information level.
    Poco::Logger::root().setLevel(ConfiguredRootLevel());
}

}  // namespace OrvaneClient

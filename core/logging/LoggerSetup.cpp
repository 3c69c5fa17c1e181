#include "core/logging/LoggerSetup.h"

#include "core/logging/ArchiveCappedFileChannel.h"
#include "core/logging/FilteringChannel.h"
#include "core/logging/IsolatingChannel.h"
#include "core/logging/LogFacade.h"
#include "core/logging/RecentMemoryBufferChannel.h"
#include "core/logging/ResolvingSyslogChannel.h"
#include "core/util/Constants.h"
#include "core/util/OperatingSystem.h"
#include "core/windows/HostPath.h"
#include "core/windows/Win32Api.h"

#include <Poco/AutoPtr.h>
#include <Poco/ConsoleChannel.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/FormattingChannel.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <Poco/Path.h>
#include <Poco/PatternFormatter.h>
#include <Poco/SplitterChannel.h>
#include <Poco/Util/WinRegistryKey.h>

#include <algorithm>
#include <cstddef>

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
    Poco::Channel::Ptr file(
        new ArchiveCappedFileChannel(HostPathFromWindowsPath(logFilePath), LogArchivesKept));
    file->setProperty("flush", "false");
    file->setProperty("rotation", "5 M");
    file->setProperty("purgeAge", "1 weeks");
    // The buffer keeps a reference to itself; the graph takes one of its own.
    Poco::Channel::Ptr memory(RecentMemoryBufferChannel::instance(), true);

    Poco::Channel::Ptr syslog(new ResolvingSyslogChannel);
    syslog->setProperty("loghost", remoteLogHost);
    syslog->setProperty("name", loggerName);
    Poco::Channel::Ptr remote(new FilteringChannel(syslog, RemoteLogLevel));

    Poco::Channel::Ptr fileFormatting = Formatted(file);
    fileFormatting->setProperty("flush", "false");

    Poco::AutoPtr<Poco::SplitterChannel> splitter(new Poco::SplitterChannel);
    splitter->addChannel(Formatted(console));
    // The splitter stops at the first channel that throws; a log file that cannot be written
    // must not cost the memory buffer and the remote receiver their copies.
    splitter->addChannel(Poco::Channel::Ptr(new IsolatingChannel(fileFormatting)));
    splitter->addChannel(Formatted(memory));
    splitter->addChannel(remote);
    Poco::Logger::root().setChannel(splitter);
    // A logger of that name made earlier would otherwise keep writing nowhere for the whole run.
    Poco::Logger::get(loggerName).setChannel(splitter);

    // Only now, so that a failure to make the directory is logged where it can be read.
    EnsureFileDirectory(logFilePath);

    LogInfo("Log started. Application version: %s (%s).",
            ApplicationVersion.c_str(),
            ApplicationBuildTime.c_str());
    LogInfo("Operating system: %s", GetWindowsVersionName().c_str());

    EnableConfiguredLoggingChannels();
    // Loggers made from here on (the named family's) inherit it; the default logger already
    // exists and keeps the information level.
    Poco::Logger::root().setLevel(ConfiguredRootLevel());
}

bool EnsureFileDirectory(const std::string& filePath) {
    std::string hostDirectory;
    try {
        Poco::Path directory(filePath, Poco::Path::PATH_WINDOWS);
        directory.makeParent();
        const std::string windowsDirectory = directory.toString(Poco::Path::PATH_WINDOWS);
        if (windowsDirectory.empty()) {
            return true;  // a bare file name: the current directory holds it
        }
        hostDirectory = HostPathFromWindowsPath(windowsDirectory);
    } catch (const Poco::Exception&) {
        LogError("Could not create directory for file %s: Error creating directory.",
                 filePath.c_str());
        return false;
    }

    Poco::File entry(hostDirectory);
    bool exists = false;
    bool isDirectory = false;
    try {
        exists = entry.exists();
        isDirectory = exists && entry.isDirectory();
    } catch (const Poco::Exception&) {
        // Cannot look at it: let creating the directory tell.
        exists = false;
    }
    if (isDirectory) {
        return true;
    }
    if (exists) {
        try {
            entry.remove(false);
        } catch (const Poco::Exception&) {
            LogError("Could not create directory for file %s: Error removing file.",
                     filePath.c_str());
            return false;
        }
    }
    try {
        entry.createDirectories();
    } catch (const Poco::Exception&) {
        LogError("Could not create directory for file %s: Error creating directory.",
                 filePath.c_str());
        return false;
    }
    return true;
}

}  // namespace OrvaneClient

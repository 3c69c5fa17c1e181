#pragma once

// The process's logging, built once at start. The root logger gets one Poco::SplitterChannel
// that feeds, in this order:
//   1. the console (Poco::ConsoleChannel),
//   2. the log file (ArchiveCappedFileChannel: rotated at 5 MiB, archives purged after a week,
//      at most 10 kept), only when its folder could be made the service's own,
//   3. the process-wide RecentMemoryBufferChannel,
//   each through a Poco::PatternFormatter "%Y-%m-%d %H:%M:%S [%s][%p]: %t" in local time, and
//   4. a FilteringChannel at level 4 (warnings and more severe) in front of a remote syslog
//      channel, unformatted, that never makes the logging thread wait for the network.
// A failing log file loses the file's copy only.

#include <string>

namespace OrvaneClient {

// The first call builds the graph above, makes `loggerName` the log facade's default logger,
// writes the start lines "Log started. Application version: %s (%s)." and "Operating system: %s"
// at information level, and applies the registry overrides under ClientRegistryKey: the values
// of "\loggingChannels" equal to 1 enable those names for the named log family, and
// "loggerLevel" (clamped to 1..7, default 6) becomes the root logger's level. The default
// logger itself keeps the information level. A value that is no 32-bit number is skipped with a
// warning line. Later calls return at once and change nothing.
//
// `logFilePath` is a Windows path. Before the first line reaches it, its folder is made the
// service's own and held by handle for as long as the file channel lives (ServiceFolder::Secure).
// When that cannot be done, nothing is written to a file: the other outputs go on, and get
// "Not writing the log file %s: %s" (the path, the reason) at error level.
// `remoteLogHost` ("host" or "host:port", port 514 by default) receives warnings and errors;
// the two-argument form uses DefaultRemoteLogHost.
//
// Not thread-safe: call it on the process entry's thread before any other thread exists.
void SetupLogging(const std::string& loggerName, const std::string& logFilePath);
void SetupLogging(const std::string& loggerName,
                  const std::string& logFilePath,
                  const std::string& remoteLogHost);

}  // namespace OrvaneClient

#pragma once

#include "service/IOrvaneService.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace OrvaneClient::Testing {

struct LaunchCall {
    std::string processPath;
    std::string commandLineArgs;
    std::string workingDir;
    bool elevated = false;
};

struct FixDirectoryCall {
    std::string directory;  // the text up to its terminator
    size_t length = 0;      // the length the caller passed
};

// An IOrvaneService that records every call and answers with configured results. Configure
// before requests arrive; calls come on the reactor thread and the records are read on the
// test's thread, so everything is guarded.
class FakeOrvaneService : public IOrvaneService {
public:
    // What the operations (all but stop) do instead of answering.
    enum class Failure { None, PocoException, StdException };

    void setLaunchResult(bool launched, uint32_t processId);
    void setFixDirectoryResult(bool fixed);
    // No token: getRefreshToken returns false.
    void setRefreshToken(std::optional<std::string> token);
    void setLibraryLocation(const std::string& location);
    void setFailure(Failure failure);
    // While held, fixDirectoryPrivileges blocks (after recording its call) until released.
    void holdFixDirectory();
    void releaseFixDirectory();
    // True once `count` fix-directory calls have begun, false when `milliseconds` pass first.
    bool waitForFixDirectoryCalls(size_t count, long milliseconds) const;

    bool launchProcess(const char* processPath,
                       const char* commandLineArgs,
                       const char* workingDir,
                       bool elevated,
                       uint32_t* processId) override;
    bool fixDirectoryPrivileges(const char* directory, size_t length) override;
    bool getRefreshToken(std::string& token) override;
    std::string getLibraryLocation() override;
    void stop() override;

    std::vector<LaunchCall> launchCalls() const;
    std::vector<FixDirectoryCall> fixDirectoryCalls() const;
    int refreshTokenCalls() const;
    int libraryLocationCalls() const;
    int stopCalls() const;
    // True once stop has been called, false when `milliseconds` pass first.
    bool waitForStop(long milliseconds) const;

private:
    void failIfConfigured() const;

    mutable std::mutex mutex;
    mutable std::condition_variable stopped;
    mutable std::condition_variable fixDirectoryChanged;
    bool fixDirectoryHeld = false;

    bool launchResult = false;
    uint32_t launchProcessId = 0;
    bool fixDirectoryResult = false;
    std::optional<std::string> refreshToken;
    std::string libraryLocation = "C:\\Program Files\\Orvane Client";
    Failure failure = Failure::None;

    std::vector<LaunchCall> launches;
    std::vector<FixDirectoryCall> fixDirectories;
    int refreshTokenCount = 0;
    int libraryLocationCount = 0;
    int stopCount = 0;
};

}  // namespace OrvaneClient::Testing

#include "tests/support/FakeOrvaneService.h"

#include <Poco/Exception.h>

#include <chrono>
#include <stdexcept>

namespace OrvaneClient::Testing {

void FakeOrvaneService::setLaunchResult(bool launched, uint32_t processId) {
    std::lock_guard<std::mutex> lock(mutex);
    launchResult = launched;
    launchProcessId = processId;
}

void FakeOrvaneService::setFixDirectoryResult(bool fixed) {
    std::lock_guard<std::mutex> lock(mutex);
    fixDirectoryResult = fixed;
}

void FakeOrvaneService::setRefreshToken(std::optional<std::string> token) {
    std::lock_guard<std::mutex> lock(mutex);
    refreshToken = std::move(token);
}

void FakeOrvaneService::setLibraryLocation(const std::string& location) {
    std::lock_guard<std::mutex> lock(mutex);
    libraryLocation = location;
}

void FakeOrvaneService::setFailure(Failure newFailure) {
    std::lock_guard<std::mutex> lock(mutex);
    failure = newFailure;
}

void FakeOrvaneService::failIfConfigured() const {
    switch (failure) {
        case Failure::None:
            return;
        case Failure::PocoException:
            throw Poco::RuntimeException("fake service failure");
        case Failure::StdException:
            throw std::runtime_error("fake service failure");
    }
}

bool FakeOrvaneService::launchProcess(const char* processPath,
                                      const char* commandLineArgs,
                                      const char* workingDir,
                                      bool elevated,
                                      uint32_t* processId) {
    std::lock_guard<std::mutex> lock(mutex);
    launches.push_back({processPath, commandLineArgs, workingDir, elevated});
    failIfConfigured();
    if (launchResult) {
        *processId = launchProcessId;
    }
    return launchResult;
}

void FakeOrvaneService::holdFixDirectory() {
    std::lock_guard<std::mutex> lock(mutex);
    fixDirectoryHeld = true;
}

void FakeOrvaneService::releaseFixDirectory() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        fixDirectoryHeld = false;
    }
    fixDirectoryChanged.notify_all();
}

bool FakeOrvaneService::waitForFixDirectoryCalls(size_t count, long milliseconds) const {
    std::unique_lock<std::mutex> lock(mutex);
    return fixDirectoryChanged.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
        return fixDirectories.size() >= count;
    });
}

bool FakeOrvaneService::fixDirectoryPrivileges(const char* directory, size_t length) {
    std::unique_lock<std::mutex> lock(mutex);
    fixDirectories.push_back({directory, length});
    fixDirectoryChanged.notify_all();
    fixDirectoryChanged.wait(lock, [this] { return !fixDirectoryHeld; });
    failIfConfigured();
    return fixDirectoryResult;
}

bool FakeOrvaneService::getRefreshToken(std::string& token) {
    std::lock_guard<std::mutex> lock(mutex);
    ++refreshTokenCount;
    failIfConfigured();
    if (!refreshToken) {
        return false;
    }
    token = *refreshToken;
    return true;
}

std::string FakeOrvaneService::getLibraryLocation() {
    std::lock_guard<std::mutex> lock(mutex);
    ++libraryLocationCount;
    failIfConfigured();
    return libraryLocation;
}

void FakeOrvaneService::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++stopCount;
    }
    stopped.notify_all();
}

std::vector<LaunchCall> FakeOrvaneService::launchCalls() const {
    std::lock_guard<std::mutex> lock(mutex);
    return launches;
}

std::vector<FixDirectoryCall> FakeOrvaneService::fixDirectoryCalls() const {
    std::lock_guard<std::mutex> lock(mutex);
    return fixDirectories;
}

int FakeOrvaneService::refreshTokenCalls() const {
    std::lock_guard<std::mutex> lock(mutex);
    return refreshTokenCount;
}

int FakeOrvaneService::libraryLocationCalls() const {
    std::lock_guard<std::mutex> lock(mutex);
    return libraryLocationCount;
}

int FakeOrvaneService::stopCalls() const {
    std::lock_guard<std::mutex> lock(mutex);
    return stopCount;
}

bool FakeOrvaneService::waitForStop(long milliseconds) const {
    std::unique_lock<std::mutex> lock(mutex);
    return stopped.wait_for(
        lock, std::chrono::milliseconds(milliseconds), [this] { return stopCount > 0; });
}

}  // namespace OrvaneClient::Testing

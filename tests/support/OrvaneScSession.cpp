#include "OrvaneScSession.h"

#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/FileStream.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace OrvaneClient::Testing {

namespace {

using Clock = std::chrono::steady_clock;

struct Spawned {
    pid_t pid = -1;
    int output = -1;
    int error = -1;
};

// Starts `arguments` with stdin from /dev/null and stdout/stderr into two pipes.
Spawned spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& extra) {
    int output[2];
    int error[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (pipe2(error, O_CLOEXEC) != 0) {
        close(output[0]);
        close(output[1]);
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, error[1], STDERR_FILENO);

    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.emplace_back(*entry);
    }
    environment.insert(environment.end(), extra.begin(), extra.end());
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argumentCopies(arguments);
    std::vector<char*> argv;
    for (std::string& argument : argumentCopies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    Spawned spawned;
    const int result =
        posix_spawn(&spawned.pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    close(error[1]);
    if (result != 0) {
        close(output[0]);
        close(error[0]);
        throw std::runtime_error("cannot start " + arguments[0] + ": " + std::strerror(result));
    }
    spawned.output = output[0];
    spawned.error = error[0];
    return spawned;
}

// Appends what `fd` has; false at its end.
bool drain(int& fd, std::string& into) {
    char bytes[4096];
    const ssize_t received = read(fd, bytes, sizeof bytes);
    if (received > 0) {
        into.append(bytes, static_cast<size_t>(received));
        return true;
    }
    if (received < 0 && errno == EINTR) {
        return true;
    }
    close(fd);
    fd = -1;
    return false;
}

int exitCodeOf(int status) {
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

}  // namespace

std::string OrvaneScSession::defaultScPath() {
    const char* binaryDir = std::getenv("ORVANE_BINARY_DIR");
    return std::string(binaryDir != nullptr ? binaryDir : ".") + "/tools/orvane-sc/orvane-sc";
}

std::string OrvaneScSession::readServiceLog(const std::string& root) {
    const std::string path = root + "/C/ProgramData/OrvaneClient/logs/OrvaneService.log";
    if (!Poco::File(path).exists()) {
        return std::string();
    }
    Poco::FileInputStream stream(path);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

std::optional<OrvaneScSession::Status> OrvaneScSession::parseStatus(const std::string& line) {
    if (line.rfind("status ", 0) != 0) {
        return std::nullopt;
    }
    Status status;
    status.line = line;
    std::istringstream fields(line.substr(7));
    std::string field;
    while (fields >> field) {
        const size_t equals = field.find('=');
        if (equals == std::string::npos) {
            return std::nullopt;
        }
        const std::string key = field.substr(0, equals);
        const std::string value = field.substr(equals + 1);
        // "RUNNING(4)", "STOP(0x1)" or a plain number.
        const size_t open = value.find('(');
        const std::string number =
            open == std::string::npos ? value : value.substr(open + 1, value.size() - open - 2);
        const unsigned parsed = static_cast<unsigned>(std::strtoul(number.c_str(), nullptr, 0));
        if (key == "state") {
            status.state = value.substr(0, open);
            status.stateCode = parsed;
        } else if (key == "accepted") {
            status.accepted = parsed;
        } else if (key == "exit") {
            status.exitCode = parsed;
        } else if (key == "specific") {
            status.specificExitCode = parsed;
        } else if (key == "checkpoint") {
            status.checkPoint = parsed;
        } else if (key == "wait") {
            status.waitHint = parsed;
        }
    }
    return status;
}

OrvaneScSession::OrvaneScSession(const std::string& service,
                                 const std::vector<std::string>& environment,
                                 const std::string& profile,
                                 const std::string& sc,
                                 const std::string& mode)
    : scPath(sc) {
    char pattern[] = "/tmp/orvane-sc-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot create a temporary host root");
    }
    hostRoot = pattern;
    std::vector<std::string> arguments = {scPath, mode, "--root", hostRoot, "--exe", service};
    if (!profile.empty()) {
        arguments.insert(arguments.end(), {"--profile", profile});
    }
    try {
        const Spawned spawned = spawn(arguments, environment);
        processId = spawned.pid;
        outputPipe = spawned.output;
        errorPipe = spawned.error;
    } catch (...) {
        Poco::File(hostRoot).remove(true);
        throw;
    }
}

OrvaneScSession::~OrvaneScSession() {
    if (processId > 0 && !exited) {
        // orvane-sc's service ends itself once its SCM has gone.
        kill(processId, SIGKILL);
        int status = 0;
        while (waitpid(processId, &status, 0) < 0 && errno == EINTR) {
        }
    }
    for (int fd : {outputPipe, errorPipe}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    try {
        Poco::File(hostRoot).remove(true);
    } catch (const Poco::Exception&) {
        // A leftover temporary directory is no reason to fail a test.
    }
}

bool OrvaneScSession::pump(Clock::time_point deadline) {
    std::vector<pollfd> fds;
    if (outputPipe >= 0) {
        fds.push_back({outputPipe, POLLIN, 0});
    }
    if (errorPipe >= 0) {
        fds.push_back({errorPipe, POLLIN, 0});
    }
    if (fds.empty()) {
        return false;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const int ready =
        poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, left.count())));
    if (ready <= 0) {
        return ready < 0 && errno == EINTR;
    }
    for (const pollfd& fd : fds) {
        if (fd.revents == 0) {
            continue;
        }
        if (fd.fd == outputPipe) {
            drain(outputPipe, pendingOutput);
            size_t end = 0;
            while ((end = pendingOutput.find('\n')) != std::string::npos) {
                outputLines.push_back(pendingOutput.substr(0, end));
                pendingOutput.erase(0, end + 1);
            }
        } else {
            drain(errorPipe, errors);
        }
    }
    return true;
}

std::optional<std::string> OrvaneScSession::readLine(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (linesReturned == outputLines.size()) {
        if (Clock::now() >= deadline || outputPipe < 0) {
            if (linesReturned == outputLines.size()) {
                return std::nullopt;
            }
            break;
        }
        pump(deadline);
    }
    return outputLines[linesReturned++];
}

std::optional<OrvaneScSession::Status> OrvaneScSession::waitForStatus(
    const std::string& state, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const std::optional<std::string> line =
            readLine(std::max(left, std::chrono::milliseconds(0)));
        if (!line) {
            return std::nullopt;
        }
        const std::optional<Status> status = parseStatus(*line);
        if (status && status->state == state) {
            return status;
        }
    }
}

bool OrvaneScSession::waitForErrorOutput(const std::string& text,
                                         std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (errors.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || (outputPipe < 0 && errorPipe < 0)) {
            return false;
        }
        pump(deadline);
    }
    return true;
}

OrvaneScSession::CommandResult OrvaneScSession::command(const std::vector<std::string>& arguments,
                                                        std::chrono::milliseconds timeout) {
    std::vector<std::string> full = {scPath};
    full.insert(full.end(), arguments.begin(), arguments.end());
    full.insert(full.end(), {"--root", hostRoot});
    return runProgram(full, {}, timeout);
}

OrvaneScSession::CommandResult OrvaneScSession::runProgram(
    const std::vector<std::string>& arguments,
    const std::vector<std::string>& environment,
    std::chrono::milliseconds timeout) {
    Spawned spawned = spawn(arguments, environment);
    CommandResult result;
    const Clock::time_point deadline = Clock::now() + timeout;
    while ((spawned.output >= 0 || spawned.error >= 0) && Clock::now() < deadline) {
        std::vector<pollfd> fds;
        for (int fd : {spawned.output, spawned.error}) {
            if (fd >= 0) {
                fds.push_back({fd, POLLIN, 0});
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, left.count()))) <=
            0) {
            continue;
        }
        for (const pollfd& fd : fds) {
            if (fd.revents != 0) {
                if (fd.fd == spawned.output) {
                    drain(spawned.output, result.output);
                } else {
                    drain(spawned.error, result.errorOutput);
                }
            }
        }
    }
    for (int fd : {spawned.output, spawned.error}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    int status = 0;
    if (Clock::now() >= deadline && waitpid(spawned.pid, &status, WNOHANG) == 0) {
        kill(spawned.pid, SIGKILL);
        waitpid(spawned.pid, &status, 0);
        return result;
    }
    while (waitpid(spawned.pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = exitCodeOf(status);
    return result;
}

void OrvaneScSession::signal(int number) {
    if (processId > 0 && !exited) {
        kill(processId, number);
    }
}

std::optional<int> OrvaneScSession::waitForExit(std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while ((outputPipe >= 0 || errorPipe >= 0) && Clock::now() < deadline) {
        pump(deadline);
    }
    if (!pendingOutput.empty()) {
        outputLines.push_back(pendingOutput);
        pendingOutput.clear();
    }
    while (!exited) {
        int status = 0;
        const pid_t result = waitpid(processId, &status, WNOHANG);
        if (result == processId) {
            exited = true;
            exitStatus = exitCodeOf(status);
            break;
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        // The pipes are closed, so the process is at its very end; poll the wait briefly.
        poll(nullptr, 0, 5);
    }
    return exitStatus;
}

}  // namespace OrvaneClient::Testing

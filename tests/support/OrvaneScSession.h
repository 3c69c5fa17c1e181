#pragma once

// One `orvane-sc run` (or `serve`) of a service executable, in a fresh temporary host root, for
// process-level tests: read what orvane-sc prints with deadlines, stop or interrogate the
// service, signal orvane-sc, wait for its exit. The destructor kills whatever still runs and
// removes the root. Linux only (the emulated SCM).

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace OrvaneClient::Testing {

class OrvaneScSession {
public:
    // One `status ...` line of orvane-sc, parsed.
    struct Status {
        std::string state;  // "RUNNING"
        unsigned stateCode = 0;
        unsigned accepted = 0;
        unsigned exitCode = 0;
        unsigned specificExitCode = 0;
        unsigned checkPoint = 0;
        unsigned waitHint = 0;
        std::string line;
    };
    struct CommandResult {
        int exitCode = -1;  // -1: did not end in time (it was killed)
        std::string output;
        std::string errorOutput;
    };

    // $ORVANE_BINARY_DIR/tools/orvane-sc/orvane-sc, the one the build made.
    static std::string defaultScPath();
    // Parses a `status ...` line; empty for any other line.
    static std::optional<Status> parseStatus(const std::string& line);
    // The service's log file on the emulated machine whose host root is `root`
    // (C:\ProgramData\OrvaneClient\logs\OrvaneService.log); empty while there is none.
    static std::string readServiceLog(const std::string& root);

    // Starts `orvane-sc <mode> --root <new temporary directory> --exe service` (and --profile
    // when given), with `environment` ("NAME=value") added to this process's environment; mode
    // "run" or "serve". Throws std::runtime_error when orvane-sc cannot be started.
    OrvaneScSession(const std::string& service,
                    const std::vector<std::string>& environment = {},
                    const std::string& profile = std::string(),
                    const std::string& scPath = defaultScPath(),
                    const std::string& mode = "run");
    ~OrvaneScSession();
    OrvaneScSession(const OrvaneScSession&) = delete;
    OrvaneScSession& operator=(const OrvaneScSession&) = delete;

    const std::string& root() const { return hostRoot; }
    pid_t pid() const { return processId; }

    // The next line orvane-sc prints on stdout; empty at its end or when `timeout` passes.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Reads lines until a status line of `state` ("RUNNING"), within `timeout`.
    std::optional<Status> waitForStatus(const std::string& state,
                                        std::chrono::milliseconds timeout);
    // Every stdout line read so far, and everything orvane-sc (and the service) wrote on stderr.
    const std::vector<std::string>& lines() const { return outputLines; }
    const std::string& errorOutput() const { return errors; }
    // Reads on until `text` appears in the stderr output, within `timeout`.
    bool waitForErrorOutput(const std::string& text, std::chrono::milliseconds timeout);

    // Runs `arguments` (the program's path first) to its end with `environment` ("NAME=value")
    // added to this process's, stdin from /dev/null; killed when `timeout` passes first.
    static CommandResult runProgram(const std::vector<std::string>& arguments,
                                    const std::vector<std::string>& environment,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Runs `orvane-sc <command> --root <root>` (stop, interrogate, run...) to its end.
    CommandResult command(const std::vector<std::string>& arguments,
                          std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void signal(int number);
    // Reads the rest of the output and waits for orvane-sc's exit code; empty on timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);

private:
    // Reads what is there from both pipes, waiting until `deadline` for something.
    bool pump(std::chrono::steady_clock::time_point deadline);

    std::string scPath;
    std::string hostRoot;
    pid_t processId = -1;
    bool exited = false;
    int exitStatus = 0;
    int outputPipe = -1;
    int errorPipe = -1;
    std::string pendingOutput;
    std::vector<std::string> outputLines;
    size_t linesReturned = 0;
    std::string errors;
};

}  // namespace OrvaneClient::Testing

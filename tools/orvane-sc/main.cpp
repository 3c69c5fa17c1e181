// orvane-sc: the emulated service control manager. `serve` is the machine's services.exe, with
// the service installed and started on demand; `run` starts the service once and stays its SCM
// until it has stopped; `start`, `stop` and `interrogate` reach that SCM from another terminal.

#include "ControlClient.h"
#include "ServiceSupervisor.h"
#include "Win32Emu/Machine.h"

#include <Poco/Exception.h>
#include <Poco/File.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: orvane-sc serve [--profile FILE] [--root DIR] [--exe PATH]\n"
    "       orvane-sc run [--profile FILE] [--root DIR] [--exe PATH]\n"
    "       orvane-sc start [--root DIR]\n"
    "       orvane-sc stop [--root DIR]\n"
    "       orvane-sc interrogate [--root DIR]\n"
    "\n"
    "serve        keep \"Orvane Client Service\" installed (demand start) and start it whenever\n"
    "             asked, printing each run's status reports; Ctrl-C ends it and a running service\n"
    "run          start OrvaneService as a service, print each status report it makes, and\n"
    "             stop it on Ctrl-C or SIGTERM; exits with the service process's exit code\n"
    "start        start the service that `serve` keeps installed\n"
    "stop         send the stop control to the service that `run` or `serve` runs\n"
    "interrogate  ask that service to report its status again\n"
    "\n"
    "--root DIR      the emulated machine's host root (default $WIN32EMU_ROOT, else\n"
    "                $HOME/.orvane-win32emu); drive C: is DIR/C\n"
    "--profile FILE  the machine profile for the service (JSON); default: the built-in one\n"
    "--exe PATH      the service executable (default: the OrvaneService built beside orvane-sc)\n";

struct Arguments {
    std::string command;
    std::string root;
    std::string profile;
    std::string executable;
};

int usageError(const std::string& text) {
    std::fprintf(stderr, "orvane-sc: %s\n%s", text.c_str(), kUsage);
    return 2;
}

int fail(const std::string& text) {
    std::fprintf(stderr, "orvane-sc: %s\n", text.c_str());
    return 1;
}

std::string absolute(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) {
        return resolved;
    }
    return path;
}

std::string defaultRoot() {
    const char* root = std::getenv("WIN32EMU_ROOT");
    if (root != nullptr && *root != '\0') {
        return root;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        return "";
    }
    return std::string(home) + "/.orvane-win32emu";
}

bool isExecutableFile(const std::string& path) {
    try {
        return !path.empty() && Poco::File(path).isFile() && access(path.c_str(), X_OK) == 0;
    } catch (const Poco::Exception&) {
        return false;
    }
}

// The OrvaneService of the same build tree: <build>/service/OrvaneService for
// <build>/tools/orvane-sc/orvane-sc, or where the build said it put it.
std::vector<std::string> defaultServiceCandidates() {
    std::vector<std::string> candidates;
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = '\0';
        std::string directory(self);
        directory.erase(directory.rfind('/'));
        candidates.push_back(directory + "/../../service/OrvaneService");
    }
#ifdef ORVANE_SC_BUILT_SERVICE
    candidates.push_back(ORVANE_SC_BUILT_SERVICE);
#endif
    return candidates;
}

int runService(const Arguments& arguments, bool serve) {
    OrvaneSc::RunOptions options;
    const std::string root = arguments.root.empty() ? defaultRoot() : arguments.root;
    if (root.empty()) {
        return fail("no host root: give --root DIR, or set WIN32EMU_ROOT or HOME");
    }
    try {
        Poco::File(root).createDirectories();
    } catch (const Poco::Exception& error) {
        return fail("cannot create the host root " + root + ": " + error.displayText());
    }
    options.root = absolute(root);

    if (!arguments.profile.empty()) {
        if (access(arguments.profile.c_str(), R_OK) != 0) {
            return fail("cannot read the profile " + arguments.profile + ": " +
                        std::strerror(errno));
        }
        options.profile = absolute(arguments.profile);
        // The service would refuse it at its first start, which a client sees only as 1067.
        try {
            Win32Emu::Machine::checkProfileFile(options.profile);
        } catch (const Poco::Exception& error) {
            std::fprintf(stderr,
                         "orvane-sc: the profile %s cannot be used: %s\n",
                         arguments.profile.c_str(),
                         error.displayText().c_str());
            return 2;
        }
    }

    if (!arguments.executable.empty()) {
        if (!isExecutableFile(arguments.executable)) {
            return fail("cannot start the service: " + arguments.executable +
                        " is not an executable file");
        }
        options.executable = absolute(arguments.executable);
    } else {
        const std::vector<std::string> candidates = defaultServiceCandidates();
        for (const std::string& candidate : candidates) {
            if (isExecutableFile(candidate)) {
                options.executable = absolute(candidate);
                break;
            }
        }
        if (options.executable.empty()) {
            std::string looked;
            for (const std::string& candidate : candidates) {
                looked += "\n  " + candidate;
            }
            return fail(
                "cannot find the OrvaneService executable; build it, or name it with "
                "--exe PATH. Looked for:" +
                looked);
        }
    }
    OrvaneSc::ServiceSupervisor supervisor(options);
    return serve ? supervisor.serve() : supervisor.run();
}

int sendControl(const Arguments& arguments, DWORD control) {
    const std::string root = arguments.root.empty() ? defaultRoot() : arguments.root;
    if (root.empty()) {
        return fail("no host root: give --root DIR, or set WIN32EMU_ROOT or HOME");
    }
    return OrvaneSc::SendControl(absolute(root), control);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usageError("no command");
    }
    Arguments arguments;
    arguments.command = argv[1];
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h" || (i == 1 && argument == "help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    if (arguments.command != "run" && arguments.command != "serve" &&
        arguments.command != "start" && arguments.command != "stop" &&
        arguments.command != "interrogate") {
        return usageError("unknown command " + arguments.command);
    }
    const bool isRun = arguments.command == "run" || arguments.command == "serve";
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        const bool takesValue =
            option == "--root" || (isRun && (option == "--profile" || option == "--exe"));
        if (!takesValue) {
            return usageError("unknown option " + option + " for " + arguments.command);
        }
        if (i + 1 >= argc || argv[i + 1][0] == '\0') {
            return usageError(option + " needs a value");
        }
        const std::string value = argv[++i];
        if (option == "--root") {
            arguments.root = value;
        } else if (option == "--profile") {
            arguments.profile = value;
        } else {
            arguments.executable = value;
        }
    }
    if (isRun) {
        return runService(arguments, arguments.command == "serve");
    }
    if (arguments.command == "start") {
        const std::string root = arguments.root.empty() ? defaultRoot() : arguments.root;
        if (root.empty()) {
            return fail("no host root: give --root DIR, or set WIN32EMU_ROOT or HOME");
        }
        return OrvaneSc::StartService(absolute(root), "Orvane Client Service");
    }
    if (arguments.command == "stop") {
        return sendControl(arguments, SERVICE_CONTROL_STOP);
    }
    if (arguments.command == "interrogate") {
        return sendControl(arguments, SERVICE_CONTROL_INTERROGATE);
    }
    return usageError("unknown command " + arguments.command);
}

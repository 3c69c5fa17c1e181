#include "ControlClient.h"

#include "StatusText.h"
#include "Win32Emu/ScmRequest.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace OrvaneSc {

using Win32Emu::ScmMessage;
using Win32Emu::ScmReply;

namespace {

// Longer than the SCM's own wait for the service's handler, or for a new service process to
// connect, so that its answer wins.
constexpr std::chrono::seconds kAnswerTimeout(40);

int fail(const std::string& text) {
    std::fprintf(stderr, "orvane-sc: %s\n", text.c_str());
    return 1;
}

// The answer, or empty after saying on stderr why there is none.
std::optional<ScmMessage> ask(const std::string& root, const ScmMessage& request) {
    const ScmReply reply =
        Win32Emu::SendScmRequest(Win32Emu::ScmSocketPath(root), request, kAnswerTimeout);
    switch (reply.outcome) {
        case ScmReply::Outcome::NoScm:
            fail("no service is running under " + root + " (no orvane-sc run or serve there)");
            return std::nullopt;
        case ScmReply::Outcome::Failed:
            fail(reply.failure);
            return std::nullopt;
        case ScmReply::Outcome::Answered:
            break;
    }
    if (!reply.answer) {
        fail("unexpected answer from the service control manager");
    }
    return reply.answer;
}

std::string startErrorText(DWORD error) {
    switch (error) {
        case ERROR_SERVICE_ALREADY_RUNNING:
            return "error 1056: the service is already running";
        case ERROR_SERVICE_DOES_NOT_EXIST:
            return "error 1060: no such service is installed (is this orvane-sc serve?)";
        case ERROR_PROCESS_ABORTED:
            return "error 1067: the service process ended before it connected";
        default:
            return ControlErrorText(error);
    }
}

// "exit code 1066 (the service's own error 3)" and the like.
std::string StartFailureText(const SERVICE_STATUS& report) {
    std::string text = "exit code " + std::to_string(report.dwWin32ExitCode);
    if (report.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR) {
        text +=
            " (the service's own error " + std::to_string(report.dwServiceSpecificExitCode) + ")";
    }
    return text;
}

// The service's own error for ERROR_SERVICE_SPECIFIC_ERROR, else its Win32 exit code; 1 for
// one that does not fit in an exit status.
int StartFailureExitCode(const SERVICE_STATUS& report) {
    const DWORD code = report.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR
                           ? report.dwServiceSpecificExitCode
                           : report.dwWin32ExitCode;
    return code >= 1 && code <= 255 ? static_cast<int>(code) : 1;
}

}  // namespace

int SendControl(const std::string& root, DWORD control) {
    const std::optional<ScmMessage> answer = ask(root, ScmMessage::control(control));
    if (!answer) {
        return 1;
    }
    if (answer->kind == ScmMessage::Kind::Status) {
        std::printf("status %s\n", StatusText(answer->statusReport).c_str());
        return 0;
    }
    if (answer->kind == ScmMessage::Kind::Done && answer->result == ERROR_SUCCESS) {
        std::printf("control code=%s delivered\n", ControlText(control).c_str());
        return 0;
    }
    if (answer->kind == ScmMessage::Kind::Done) {
        return fail(ControlText(control) + " refused: " + ControlErrorText(answer->result));
    }
    return fail("unexpected answer from the service control manager: " + answer->toLine());
}

int StartService(const std::string& root, const std::string& serviceName) {
    const std::optional<ScmMessage> answer = ask(root, ScmMessage::start(serviceName));
    if (!answer) {
        return 1;
    }
    if (answer->kind != ScmMessage::Kind::Done || answer->result != ERROR_SUCCESS) {
        return fail("start refused: " + startErrorText(answer->kind == ScmMessage::Kind::Done
                                                           ? answer->result
                                                           : ERROR_INVALID_PARAMETER));
    }
    // The process has connected; whether it starts is what it reports next. A service that
    // cannot run (its port held, say) reports SERVICE_STOPPED with its exit code instead.
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
    for (;;) {
        const std::optional<ScmMessage> status = ask(root, ScmMessage::query(serviceName));
        if (!status) {
            return 1;
        }
        if (status->kind != ScmMessage::Kind::Process) {
            return fail("unexpected answer from the service control manager: " + status->toLine());
        }
        const SERVICE_STATUS& report = status->statusReport;
        if (report.dwCurrentState == SERVICE_RUNNING) {
            std::printf("started service=\"%s\" pid=%u\n", serviceName.c_str(), status->processId);
            return 0;
        }
        if (report.dwCurrentState == SERVICE_STOPPED) {
            std::printf("status %s\n", StatusText(report).c_str());
            fail("the service stopped before it was running: " + StartFailureText(report));
            return StartFailureExitCode(report);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return fail("the service did not reach RUNNING within " +
                        std::to_string(kAnswerTimeout.count()) + " seconds: status " +
                        StatusText(report));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace OrvaneSc

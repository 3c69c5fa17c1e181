#include "ControlClient.h"

#include "StatusText.h"
#include "Win32Emu/ScmRequest.h"

#include <chrono>
#include <cstdio>

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
    const std::optional<ScmMessage> status = ask(root, ScmMessage::query(serviceName));
    if (!status || status->kind != ScmMessage::Kind::Process) {
        return 1;
    }
    std::printf("started service=\"%s\" pid=%u\n", serviceName.c_str(), status->processId);
    return 0;
}

}  // namespace OrvaneSc

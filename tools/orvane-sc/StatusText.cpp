#include "StatusText.h"

#include <cstdio>
#include <utility>

namespace OrvaneSc {

namespace {

std::string hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

const char* stateName(DWORD state) {
    switch (state) {
        case SERVICE_STOPPED:
            return "STOPPED";
        case SERVICE_START_PENDING:
            return "START_PENDING";
        case SERVICE_STOP_PENDING:
            return "STOP_PENDING";
        case SERVICE_RUNNING:
            return "RUNNING";
        case SERVICE_CONTINUE_PENDING:
            return "CONTINUE_PENDING";
        case SERVICE_PAUSE_PENDING:
            return "PAUSE_PENDING";
        case SERVICE_PAUSED:
            return "PAUSED";
        default:
            return "UNKNOWN";
    }
}

const std::pair<DWORD, const char*> kAcceptNames[] = {
    {SERVICE_ACCEPT_STOP, "STOP"},
    {SERVICE_ACCEPT_PAUSE_CONTINUE, "PAUSE_CONTINUE"},
    {SERVICE_ACCEPT_SHUTDOWN, "SHUTDOWN"},
    {SERVICE_ACCEPT_PARAMCHANGE, "PARAMCHANGE"},
    {SERVICE_ACCEPT_NETBINDCHANGE, "NETBINDCHANGE"},
    {SERVICE_ACCEPT_HARDWAREPROFILECHANGE, "HARDWAREPROFILECHANGE"},
    {SERVICE_ACCEPT_POWEREVENT, "POWEREVENT"},
    {SERVICE_ACCEPT_SESSIONCHANGE, "SESSIONCHANGE"},
    {SERVICE_ACCEPT_PRESHUTDOWN, "PRESHUTDOWN"},
    {SERVICE_ACCEPT_TIMECHANGE, "TIMECHANGE"},
    {SERVICE_ACCEPT_TRIGGEREVENT, "TRIGGEREVENT"},
};

const std::pair<DWORD, const char*> kControlNames[] = {
    {SERVICE_CONTROL_STOP, "STOP"},
    {SERVICE_CONTROL_PAUSE, "PAUSE"},
    {SERVICE_CONTROL_CONTINUE, "CONTINUE"},
    {SERVICE_CONTROL_INTERROGATE, "INTERROGATE"},
    {SERVICE_CONTROL_SHUTDOWN, "SHUTDOWN"},
    {SERVICE_CONTROL_PARAMCHANGE, "PARAMCHANGE"},
    {SERVICE_CONTROL_PRESHUTDOWN, "PRESHUTDOWN"},
};

}  // namespace

std::string StateText(DWORD state) {
    return std::string(stateName(state)) + "(" + std::to_string(state) + ")";
}

std::string AcceptedText(DWORD accepted) {
    std::string names;
    DWORD unnamed = accepted;
    for (const auto& [bit, name] : kAcceptNames) {
        if ((accepted & bit) != 0) {
            names += names.empty() ? "" : "|";
            names += name;
            unnamed &= ~bit;
        }
    }
    if (unnamed != 0) {
        names += names.empty() ? "" : "|";
        names += hex(unnamed);
    }
    return (names.empty() ? "NONE" : names) + "(" + hex(accepted) + ")";
}

std::string ControlText(DWORD control) {
    for (const auto& [code, name] : kControlNames) {
        if (code == control) {
            return std::string(name) + "(" + std::to_string(control) + ")";
        }
    }
    const char* kind = control >= 128 && control <= 255 ? "USER" : "CONTROL";
    return std::string(kind) + "(" + std::to_string(control) + ")";
}

std::string StatusText(const SERVICE_STATUS& status) {
    return "state=" + StateText(status.dwCurrentState) +
           " accepted=" + AcceptedText(status.dwControlsAccepted) +
           " exit=" + std::to_string(status.dwWin32ExitCode) +
           " specific=" + std::to_string(status.dwServiceSpecificExitCode) +
           " checkpoint=" + std::to_string(status.dwCheckPoint) +
           " wait=" + std::to_string(status.dwWaitHint) + " type=" + hex(status.dwServiceType);
}

std::string ControlErrorText(DWORD error) {
    switch (error) {
        case ERROR_INVALID_SERVICE_CONTROL:
            return "error 1052: the service does not accept this control";
        case ERROR_SERVICE_REQUEST_TIMEOUT:
            return "error 1053: the service did not answer the control in time";
        case ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
            return "error 1061: the service cannot accept control messages at this time";
        case ERROR_SERVICE_NOT_ACTIVE:
            return "error 1062: the service has not been started";
        default:
            return "error " + std::to_string(error);
    }
}

}  // namespace OrvaneSc

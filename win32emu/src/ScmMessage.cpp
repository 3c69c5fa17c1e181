// The SCM channel's line format (see Win32Emu/ScmMessage.h).

#include "Win32Emu/ScmMessage.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <vector>

namespace Win32Emu {

namespace {

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start <= line.size()) {
        const size_t end = line.find(' ', start);
        const size_t stop = end == std::string_view::npos ? line.size() : end;
        fields.push_back(line.substr(start, stop - start));
        start = stop + 1;
    }
    return fields;
}

// Plain decimal only: no sign, no spaces, no hex, nothing past 32 bits.
std::optional<DWORD> parseNumber(std::string_view text) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > std::numeric_limits<DWORD>::max()) {
        return std::nullopt;
    }
    return static_cast<DWORD>(value);
}

bool parseNumbers(const std::vector<std::string_view>& fields, std::vector<DWORD>& numbers) {
    for (size_t i = 1; i < fields.size(); ++i) {
        const std::optional<DWORD> number = parseNumber(fields[i]);
        if (!number) {
            return false;
        }
        numbers.push_back(*number);
    }
    return true;
}

}  // namespace

ScmMessage ScmMessage::connect(const std::string& serviceName) {
    ScmMessage message;
    message.kind = Kind::Connect;
    message.serviceName = serviceName;
    return message;
}

ScmMessage ScmMessage::status(const SERVICE_STATUS& status) {
    ScmMessage message;
    message.kind = Kind::Status;
    message.statusReport = status;
    return message;
}

ScmMessage ScmMessage::done(DWORD control, DWORD result) {
    ScmMessage message;
    message.kind = Kind::Done;
    message.code = control;
    message.result = result;
    return message;
}

ScmMessage ScmMessage::control(DWORD code) {
    ScmMessage message;
    message.kind = Kind::Control;
    message.code = code;
    return message;
}

std::optional<ScmMessage> ScmMessage::parse(std::string_view line) {
    if (line.size() > kMaxLineLength) {
        return std::nullopt;
    }
    constexpr std::string_view connectKeyword = "connect ";
    if (line.substr(0, connectKeyword.size()) == connectKeyword) {
        return connect(std::string(line.substr(connectKeyword.size())));
    }
    const std::vector<std::string_view> fields = splitFields(line);
    std::vector<DWORD> numbers;
    if (!parseNumbers(fields, numbers)) {
        return std::nullopt;
    }
    const std::string_view keyword = fields.front();
    if (keyword == "status" && numbers.size() == 7) {
        SERVICE_STATUS report{};
        report.dwServiceType = numbers[0];
        report.dwCurrentState = numbers[1];
        report.dwControlsAccepted = numbers[2];
        report.dwWin32ExitCode = numbers[3];
        report.dwServiceSpecificExitCode = numbers[4];
        report.dwCheckPoint = numbers[5];
        report.dwWaitHint = numbers[6];
        return status(report);
    }
    if (keyword == "done" && numbers.size() == 2) {
        return done(numbers[0], numbers[1]);
    }
    if (keyword == "control" && numbers.size() == 1) {
        return control(numbers[0]);
    }
    return std::nullopt;
}

std::string ScmMessage::toLine() const {
    switch (kind) {
        case Kind::Connect: {
            std::string line = "connect ";
            for (const char c : serviceName) {
                const bool isControl = static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
                line += isControl ? '?' : c;
            }
            return line + "\n";
        }
        case Kind::Status:
            return "status " + std::to_string(statusReport.dwServiceType) + " " +
                   std::to_string(statusReport.dwCurrentState) + " " +
                   std::to_string(statusReport.dwControlsAccepted) + " " +
                   std::to_string(statusReport.dwWin32ExitCode) + " " +
                   std::to_string(statusReport.dwServiceSpecificExitCode) + " " +
                   std::to_string(statusReport.dwCheckPoint) + " " +
                   std::to_string(statusReport.dwWaitHint) + "\n";
        case Kind::Done:
            return "done " + std::to_string(code) + " " + std::to_string(result) + "\n";
        case Kind::Control:
            return "control " + std::to_string(code) + "\n";
    }
    return "\n";
}

}  // namespace Win32Emu

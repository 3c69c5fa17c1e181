// The SCM channel's line format (see Win32Emu/ScmMessage.h).

#include "Win32Emu/ScmMessage.h"

#include "scm/EventFields.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <stdexcept>
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

std::string statusNumbers(const SERVICE_STATUS& report) {
    return std::to_string(report.dwServiceType) + " " + std::to_string(report.dwCurrentState) +
           " " + std::to_string(report.dwControlsAccepted) + " " +
           std::to_string(report.dwWin32ExitCode) + " " +
           std::to_string(report.dwServiceSpecificExitCode) + " " +
           std::to_string(report.dwCheckPoint) + " " + std::to_string(report.dwWaitHint);
}

SERVICE_STATUS statusFrom(const std::vector<DWORD>& numbers, size_t first) {
    SERVICE_STATUS report{};
    report.dwServiceType = numbers[first];
    report.dwCurrentState = numbers[first + 1];
    report.dwControlsAccepted = numbers[first + 2];
    report.dwWin32ExitCode = numbers[first + 3];
    report.dwServiceSpecificExitCode = numbers[first + 4];
    report.dwCheckPoint = numbers[first + 5];
    report.dwWaitHint = numbers[first + 6];
    return report;
}

// A service name as it may stand at the end of a line.
std::string lineSafe(const std::string& name) {
    std::string text;
    for (const char c : name) {
        const bool isControl = static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        text += isControl ? '?' : c;
    }
    return text;
}

std::vector<std::string> splitSids(std::string_view text) {
    std::vector<std::string> sids;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        sids.emplace_back(text.substr(start, comma - start));
        if (sids.back().empty()) {
            return {};
        }
        start = comma + 1;
    }
    return sids;
}

// `open <access> <sids> <name>`; empty when malformed.
std::optional<ScmMessage> parseOpen(std::string_view rest) {
    const size_t first = rest.find(' ');
    const size_t second = first == std::string_view::npos ? first : rest.find(' ', first + 1);
    if (second == std::string_view::npos || second + 1 >= rest.size()) {
        return std::nullopt;
    }
    const std::optional<DWORD> access = parseNumber(rest.substr(0, first));
    const std::vector<std::string> sids = splitSids(rest.substr(first + 1, second - first - 1));
    if (!access || sids.empty()) {
        return std::nullopt;
    }
    return ScmMessage::open(*access, sids, std::string(rest.substr(second + 1)));
}

}  // namespace

ScmMessage ScmMessage::named(Kind kind, const std::string& serviceName) {
    ScmMessage message;
    message.kind = kind;
    message.serviceName = serviceName;
    return message;
}

ScmMessage ScmMessage::connect(const std::string& serviceName) {
    return named(Kind::Connect, serviceName);
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

ScmMessage ScmMessage::open(DWORD access,
                            const std::vector<std::string>& callerSids,
                            const std::string& serviceName) {
    for (const std::string& sid : callerSids) {
        if (sid.empty() || sid.find_first_of(" ,\n") != std::string::npos) {
            throw std::invalid_argument("not a SID: " + sid);
        }
    }
    if (callerSids.empty()) {
        throw std::invalid_argument("an open request names the caller's SIDs");
    }
    ScmMessage message = named(Kind::Open, serviceName);
    message.code = access;
    message.sids = callerSids;
    return message;
}

ScmMessage ScmMessage::start(const std::string& serviceName) {
    return named(Kind::Start, serviceName);
}

ScmMessage ScmMessage::query(const std::string& serviceName) {
    return named(Kind::Query, serviceName);
}

ScmMessage ScmMessage::process(DWORD processId, const SERVICE_STATUS& status) {
    ScmMessage message;
    message.kind = Kind::Process;
    message.processId = processId;
    message.statusReport = status;
    return message;
}

ScmMessage ScmMessage::event(const std::string& kind, EventFields fields) {
    if (!IsEventWord(kind)) {
        throw std::invalid_argument("not an event kind: " + kind);
    }
    for (const auto& field : fields) {
        if (!IsEventWord(field.first)) {
            throw std::invalid_argument("not an event field name: " + field.first);
        }
    }
    // Each pass shortens the longest value, so the loop ends; the kinds and keys are short.
    while (RenderEvent(kind, fields).size() + 1 > kMaxLineLength) {
        auto longest = std::max_element(fields.begin(), fields.end(), [](auto& a, auto& b) {
            return a.second.size() < b.second.size();
        });
        // Below this, cutting a quarter and adding the mark would not make a value shorter.
        if (longest == fields.end() || longest->second.size() <= 16) {
            throw std::invalid_argument("event too large for one line: " + kind);
        }
        ShortenEventValue(longest->second);
    }
    ScmMessage message;
    message.kind = Kind::Event;
    message.eventKind = kind;
    message.eventFields = std::move(fields);
    return message;
}

std::optional<ScmMessage> ScmMessage::parse(std::string_view line) {
    if (line.size() > kMaxLineLength) {
        return std::nullopt;
    }
    constexpr std::string_view eventKeyword = "event ";
    if (line.substr(0, eventKeyword.size()) == eventKeyword) {
        const std::string_view rest = line.substr(eventKeyword.size());
        const size_t space = rest.find(' ');
        const std::string_view kind = rest.substr(0, space);
        ScmMessage message;
        message.kind = Kind::Event;
        message.eventKind = std::string(kind);
        if (!IsEventWord(kind) ||
            (space != std::string_view::npos &&
             !ParseEventFields(rest.substr(space + 1), message.eventFields)) ||
            (space != std::string_view::npos && message.eventFields.empty())) {
            return std::nullopt;
        }
        return message;
    }
    for (const auto& [keyword, kind] : {std::pair{std::string_view("connect "), Kind::Connect},
                                        std::pair{std::string_view("start "), Kind::Start},
                                        std::pair{std::string_view("query "), Kind::Query}}) {
        // A dispatcher may connect without a name; a request must name its service.
        if (line.substr(0, keyword.size()) == keyword &&
            (kind == Kind::Connect || line.size() > keyword.size())) {
            return named(kind, std::string(line.substr(keyword.size())));
        }
    }
    constexpr std::string_view openKeyword = "open ";
    if (line.substr(0, openKeyword.size()) == openKeyword) {
        return parseOpen(line.substr(openKeyword.size()));
    }
    const std::vector<std::string_view> fields = splitFields(line);
    std::vector<DWORD> numbers;
    if (!parseNumbers(fields, numbers)) {
        return std::nullopt;
    }
    const std::string_view keyword = fields.front();
    if (keyword == "status" && numbers.size() == 7) {
        return status(statusFrom(numbers, 0));
    }
    if (keyword == "process" && numbers.size() == 8) {
        return process(numbers[0], statusFrom(numbers, 1));
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
        case Kind::Connect:
            return "connect " + lineSafe(serviceName) + "\n";
        case Kind::Start:
            return "start " + lineSafe(serviceName) + "\n";
        case Kind::Query:
            return "query " + lineSafe(serviceName) + "\n";
        case Kind::Open: {
            std::string line = "open " + std::to_string(code) + " ";
            for (size_t i = 0; i < sids.size(); ++i) {
                line += (i == 0 ? "" : ",") + sids[i];
            }
            return line + " " + lineSafe(serviceName) + "\n";
        }
        case Kind::Status:
            return "status " + statusNumbers(statusReport) + "\n";
        case Kind::Process:
            return "process " + std::to_string(processId) + " " + statusNumbers(statusReport) +
                   "\n";
        case Kind::Done:
            return "done " + std::to_string(code) + " " + std::to_string(result) + "\n";
        case Kind::Control:
            return "control " + std::to_string(code) + "\n";
        case Kind::Event:
            return RenderEvent(eventKind, eventFields) + "\n";
    }
    return "\n";
}

}  // namespace Win32Emu

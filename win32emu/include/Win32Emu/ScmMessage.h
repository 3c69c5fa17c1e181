#pragma once

// The line protocol between an emulated service process and orvane-sc, the emulated service
// control manager, and between orvane-sc and its `stop`/`interrogate` clients. One message per
// line, '\n'-terminated, fields separated by one space, numbers in decimal:
//
//   service -> SCM   connect <service name>              the dispatcher has started; the name is
//                                                        the rest of the line
//                    status <type> <state> <accepted> <exit> <specific> <checkpoint> <wait>
//                                                        one SetServiceStatus report
//                    done <control> <result>             a control was dealt with: result 0 when
//                                                        the handler returned, otherwise the
//                                                        Win32 error why it was not delivered
//                    event <kind> <key>=<value>...       something happened on the emulated
//                                                        machine (a program launched, an access
//                                                        list changed), for people to see
//   SCM -> service   control <code>                      call the handler with this code
//
// An event's kind and keys are letters, digits, '_' and '-'. A value is written bare unless it
// is empty or holds a space, '"', '%' or a control character; then it is quoted, with '%', '"'
// and control characters as %XX (two hex digits), so Windows paths keep their backslashes:
//   event launch application="C:\Program Files (x86)\Game\run.exe" pid=4108
// An event that would make a line longer than kMaxLineLength has its longest values shortened
// (ending in "...") until it fits.
//
// A client of orvane-sc sends one request and gets one answer:
//   control <code>                     the `status` the service reported last after the control
//                                      was handled, or `done <code> <error>` when refused
//   open <access> <sid>,<sid>... <name>   `done 0 <error>`: 0 when the service's security
//                                      descriptor grants the caller's SIDs that access
//   start <name>                       `done 0 <error>` once the service process has connected,
//                                      or why it could not be started
//   query <name>                       `process <pid> <type> <state> <accepted> <exit>
//                                      <specific> <checkpoint> <wait>`, or `done 0 <error>`
// Service names are the rest of the line. orvane-sc listens for them on the Unix socket
// kSocketName in the host root.
//
// The service process finds its end of the channel in the environment variable named by
// kChannelVariable: the number of an inherited, connected Unix stream socket.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <windows.h>
#include <winsvc.h>

namespace Win32Emu {

class ScmMessage {
public:
    enum class Kind { Connect, Status, Done, Control, Event, Open, Start, Query, Process };
    using EventFields = std::vector<std::pair<std::string, std::string>>;

    static constexpr const char* kChannelVariable = "WIN32EMU_SCM_FD";
    static constexpr const char* kSocketName = "scm.sock";
    // Longer lines are a protocol error: nothing legitimate comes close.
    static constexpr size_t kMaxLineLength = 1024;

    static ScmMessage connect(const std::string& serviceName);
    static ScmMessage status(const SERVICE_STATUS& status);
    static ScmMessage done(DWORD control, DWORD result);
    static ScmMessage control(DWORD code);
    // A SID holds no space or comma, a name no control character: throws std::invalid_argument.
    static ScmMessage open(DWORD access,
                           const std::vector<std::string>& callerSids,
                           const std::string& serviceName);
    static ScmMessage start(const std::string& serviceName);
    static ScmMessage query(const std::string& serviceName);
    static ScmMessage process(DWORD processId, const SERVICE_STATUS& status);
    // Throws std::invalid_argument for a kind or key that is not a word as described above.
    static ScmMessage event(const std::string& kind, EventFields fields);

    // Parses one line without its '\n'. Empty for anything malformed: unknown keyword, missing
    // or extra fields, a number that is not a 32-bit unsigned decimal, an event field that is
    // not key=value or a quoted value that is not closed or holds a bad %XX.
    static std::optional<ScmMessage> parse(std::string_view line);

    // The message as one line, '\n' included. Control characters in a service name become '?'
    // so that a name can never split the line.
    std::string toLine() const;

private:
    static ScmMessage named(Kind kind, const std::string& serviceName);

public:
    Kind kind = Kind::Control;
    std::string serviceName;        // Connect, Open, Start, Query
    SERVICE_STATUS statusReport{};  // Status, Process
    DWORD code = 0;                 // Done, Control: the control code; Open: the access
    std::vector<std::string> sids;  // Open: the caller's user and groups
    DWORD processId = 0;            // Process
    DWORD result = 0;               // Done
    std::string eventKind;          // Event: "launch"
    EventFields eventFields;        // Event, in order
};

}  // namespace Win32Emu

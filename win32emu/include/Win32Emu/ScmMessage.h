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
// A client of orvane-sc sends `control <code>` and gets back either the `status` the service
// reported last after the control was handled, or `done <code> <error>` when the SCM refused it.
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
    enum class Kind { Connect, Status, Done, Control, Event };
    using EventFields = std::vector<std::pair<std::string, std::string>>;

    static constexpr const char* kChannelVariable = "WIN32EMU_SCM_FD";
    // Longer lines are a protocol error: nothing legitimate comes close.
    static constexpr size_t kMaxLineLength = 1024;

    static ScmMessage connect(const std::string& serviceName);
    static ScmMessage status(const SERVICE_STATUS& status);
    static ScmMessage done(DWORD control, DWORD result);
    static ScmMessage control(DWORD code);
    // Throws std::invalid_argument for a kind or key that is not a word as described above.
    static ScmMessage event(const std::string& kind, EventFields fields);

    // Parses one line without its '\n'. Empty for anything malformed: unknown keyword, missing
    // or extra fields, a number that is not a 32-bit unsigned decimal, an event field that is
    // not key=value or a quoted value that is not closed or holds a bad %XX.
    static std::optional<ScmMessage> parse(std::string_view line);

    // The message as one line, '\n' included. Control characters in a service name become '?'
    // so that a name can never split the line.
    std::string toLine() const;

    Kind kind = Kind::Control;
    std::string serviceName;        // Connect
    SERVICE_STATUS statusReport{};  // Status
    DWORD code = 0;                 // Done, Control: the control code
    DWORD result = 0;               // Done
    std::string eventKind;          // Event: "launch"
    EventFields eventFields;        // Event, in order
};

}  // namespace Win32Emu

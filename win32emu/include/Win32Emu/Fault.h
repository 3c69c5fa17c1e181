#pragma once

#include <optional>
#include <string>
#include <utility>
#include <windows.h>

namespace Win32Emu {

// A fault to inject into one emulated call (Machine::injectFault): the call fails the way it
// fails on Windows, with `error` as its last error (or as its result, for the registry calls).
// By default it hits the next call of that name.
class Fault {
public:
    Fault(std::string call, DWORD error) : callName(std::move(call)), errorCode(error) {}
    // The nth matching call from now fails (1: the next one); 0: every matching call.
    Fault& onOccurrence(unsigned n) {
        nth = n;
        return *this;
    }
    Fault& always() { return onOccurrence(0); }
    // Only calls whose principal argument equals `text`, without regard to case: a path, key,
    // value or function name, a process or session id or token information class in decimal,
    // a SID string (win32emu/SUPPORTED.md names each call's).
    Fault& withArgument(std::string text) {
        principal = std::move(text);
        return *this;
    }
    // Only calls given a handle to this kind of object ("Token", "Process", "Thread", "File",
    // "Snapshot", "Event", "Mutex", "Key").
    Fault& onObject(std::string type) {
        object = std::move(type);
        return *this;
    }

    const std::string& call() const { return callName; }
    DWORD error() const { return errorCode; }
    unsigned occurrence() const { return nth; }
    const std::optional<std::string>& argument() const { return principal; }
    const std::optional<std::string>& objectType() const { return object; }
    std::string describe() const;

private:
    std::string callName;
    DWORD errorCode;
    unsigned nth = 1;
    std::optional<std::string> principal;
    std::optional<std::string> object;
};

}  // namespace Win32Emu

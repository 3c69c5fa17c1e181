#pragma once

// Fault injection for the emulated calls. failNext arms one failure of a call (several arm as many
// failures, taken in order); failWhen fails every call whose principal argument equals the given
// text (case-insensitively, as Windows compares names) until cleared. A one-shot failure is taken
// before a standing one. Thread-safe.

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace Win32Emu {

class FaultInjector {
public:
    void failNext(const std::string& call, DWORD error);
    void failWhen(const std::string& call, const std::string& argument, DWORD error);
    void clear();

    // The error the call must fail with, if a fault is armed for it; consumes a one-shot fault.
    std::optional<DWORD> take(const std::string& call, const std::string& argument);

private:
    struct Standing {
        std::string call;
        std::string argument;
        DWORD error;
    };

    std::mutex lock;
    std::map<std::string, std::deque<DWORD>> oneShot;
    std::vector<Standing> standing;
};

}  // namespace Win32Emu

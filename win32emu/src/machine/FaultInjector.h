#pragma once

// Fault injection for the emulated calls. A fault names a call and the error it fails with, and
// optionally which of the calls it hits: the principal argument (compared without regard to
// case, as Windows compares names), the type of the object whose handle the call is given, and
// which occurrence among the matching calls (the first by default; 0 for every one). One-shot
// faults are taken in the order they were armed, before any standing one. Faults remember
// whether they fired, so a test can tell that one it armed never did. Thread-safe.

#include "Win32Emu/Fault.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace Win32Emu {

class FaultInjector {
public:
    void arm(const Fault& fault);
    void clear();

    // The error the call must fail with, if an armed fault hits it.
    std::optional<DWORD> take(const std::string& call,
                              const std::string& argument,
                              const std::string& objectType);
    // The faults armed since the last clear() that have not fired, described for a test report.
    std::vector<std::string> unfired() const;
    // `action` runs once, when the next call of that name starts (before its own faults).
    void hookBefore(const std::string& call, std::function<void()> action);
    void runHooks(const std::string& call);

private:
    struct Armed {
        Fault fault;
        unsigned callsToPass = 0;  // matching calls still to let through before firing
        bool fired = false;
    };

    static bool matches(const Fault& fault,
                        const std::string& call,
                        const std::string& argument,
                        const std::string& objectType);

    struct Hook {
        std::string call;
        std::function<void()> action;
    };

    mutable std::mutex lock;
    std::vector<Armed> faults;
    std::vector<Hook> hooks;  // not yet run
};

}  // namespace Win32Emu

#include "machine/FaultInjector.h"

#include <Poco/UTF8String.h>

namespace Win32Emu {

void FaultInjector::arm(const Fault& fault) {
    std::lock_guard<std::mutex> guard(lock);
    faults.push_back(Armed{fault, fault.occurrence() == 0 ? 0 : fault.occurrence() - 1, false});
}

void FaultInjector::clear() {
    std::lock_guard<std::mutex> guard(lock);
    faults.clear();
    hooks.clear();
}

void FaultInjector::hookBefore(const std::string& call, std::function<void()> action) {
    std::lock_guard<std::mutex> guard(lock);
    hooks.push_back(Hook{call, std::move(action)});
}

void FaultInjector::runHooks(const std::string& call) {
    std::function<void()> action;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto hook = hooks.begin(); hook != hooks.end(); ++hook) {
            if (hook->call == call) {
                action = std::move(hook->action);
                hooks.erase(hook);
                break;
            }
        }
    }
    // Run unlocked: the action drives the machine, and may make emulated calls.
    if (action) {
        action();
    }
}

bool FaultInjector::matches(const Fault& fault,
                            const std::string& call,
                            const std::string& argument,
                            const std::string& objectType) {
    return fault.call() == call &&
           (!fault.argument() || Poco::UTF8::icompare(*fault.argument(), argument) == 0) &&
           (!fault.objectType() || *fault.objectType() == objectType);
}

std::optional<DWORD> FaultInjector::take(const std::string& call,
                                         const std::string& argument,
                                         const std::string& objectType) {
    std::lock_guard<std::mutex> guard(lock);
    // Every matching one-shot fault counts this call; the first one due fires.
    Armed* firing = nullptr;
    for (Armed& armed : faults) {
        if (armed.fault.occurrence() == 0 || armed.fired ||
            !matches(armed.fault, call, argument, objectType)) {
            continue;
        }
        if (armed.callsToPass > 0) {
            --armed.callsToPass;
        } else if (firing == nullptr) {
            firing = &armed;
        }
    }
    if (firing == nullptr) {
        for (Armed& armed : faults) {
            if (armed.fault.occurrence() == 0 && matches(armed.fault, call, argument, objectType)) {
                firing = &armed;
                break;
            }
        }
    }
    if (firing == nullptr) {
        return std::nullopt;
    }
    firing->fired = true;
    return firing->fault.error();
}

std::vector<std::string> FaultInjector::unfired() const {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> descriptions;
    for (const Armed& armed : faults) {
        if (!armed.fired) {
            descriptions.push_back(armed.fault.describe());
        }
    }
    for (const Hook& hook : hooks) {
        descriptions.push_back("an action before " + hook.call);
    }
    return descriptions;
}

}  // namespace Win32Emu

#include "machine/EventObject.h"

#include <chrono>

namespace Win32Emu {

EventObject::EventObject(bool manualReset, bool initiallySignalled)
    : manualReset(manualReset), signalled(initiallySignalled) {}

DWORD EventObject::wait(DWORD milliseconds) {
    std::unique_lock<std::mutex> guard(lock);
    const auto isSignalled = [this] { return signalled; };
    if (milliseconds == INFINITE) {
        changed.wait(guard, isSignalled);
    } else if (milliseconds == 0) {
        // A poll: no timed wait, whose expired deadline still costs a trip into the kernel.
        if (!signalled) {
            return WAIT_TIMEOUT;
        }
    } else {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        if (!changed.wait_until(guard, deadline, isSignalled)) {
            return WAIT_TIMEOUT;
        }
    }
    if (!manualReset) {
        signalled = false;
    }
    return WAIT_OBJECT_0;
}

void EventObject::set() {
    std::lock_guard<std::mutex> guard(lock);
    signalled = true;
    if (manualReset) {
        changed.notify_all();
    } else {
        changed.notify_one();
    }
}

}  // namespace Win32Emu

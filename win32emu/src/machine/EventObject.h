#pragma once

#include "machine/KernelObject.h"

#include <condition_variable>
#include <mutex>

namespace Win32Emu {

// A Windows event: a manual-reset event stays signalled and releases every waiter; an
// auto-reset event releases exactly one waiter and is reset by that wait. Thread-safe.
class EventObject : public WaitableObject {
public:
    EventObject(bool manualReset, bool initiallySignalled);

    const char* typeName() const override { return "Event"; }
    DWORD wait(DWORD milliseconds) override;
    void set();

private:
    const bool manualReset;
    bool signalled;
    std::mutex lock;
    std::condition_variable changed;
};

}  // namespace Win32Emu

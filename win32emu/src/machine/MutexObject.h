#pragma once

#include "machine/KernelObject.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace Win32Emu {

// A Windows mutex: owned by one thread at a time and re-entrant for that thread (each wait must be
// matched by a release). When its owner thread ends without releasing it, the mutex is abandoned:
// the next wait acquires it and returns WAIT_ABANDONED. Thread-safe.
class MutexObject : public WaitableObject, public std::enable_shared_from_this<MutexObject> {
public:
    const char* typeName() const override { return "Mutex"; }
    MutexObject() = default;

    DWORD wait(DWORD milliseconds) override;
    // Acquires for the calling thread without waiting; for CreateMutex with an initial owner.
    void acquireNew();
    // false (ERROR_NOT_OWNER) when the calling thread does not own the mutex.
    bool release();
    // Called when `thread` ends: gives up its ownership as abandoned.
    void abandon(std::thread::id thread);

private:
    void takeOwnership();

    std::mutex lock;
    std::condition_variable released;
    bool owned = false;
    bool abandoned = false;
    std::thread::id owner;
    unsigned long recursion = 0;
};

}  // namespace Win32Emu

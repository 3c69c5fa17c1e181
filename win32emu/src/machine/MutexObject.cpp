#include "machine/MutexObject.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace Win32Emu {

namespace {

// The mutexes the current thread owns, so that they are abandoned when the thread ends, as the
// Windows kernel does. Weak: a mutex whose last handle is closed needs no abandoning.
class OwnedMutexes {
public:
    ~OwnedMutexes() {
        const std::thread::id self = std::this_thread::get_id();
        for (const auto& weak : mutexes) {
            if (const auto mutex = weak.lock()) {
                mutex->abandon(self);
            }
        }
    }
    void add(const std::shared_ptr<MutexObject>& mutex) { mutexes.push_back(mutex); }
    void remove(const MutexObject* mutex) {
        mutexes.erase(std::remove_if(mutexes.begin(),
                                     mutexes.end(),
                                     [mutex](const std::weak_ptr<MutexObject>& weak) {
                                         const auto locked = weak.lock();
                                         return !locked || locked.get() == mutex;
                                     }),
                      mutexes.end());
    }

private:
    std::vector<std::weak_ptr<MutexObject>> mutexes;
};

OwnedMutexes& ownedByThisThread() {
    thread_local OwnedMutexes owned;
    return owned;
}

}  // namespace

DWORD MutexObject::wait(DWORD milliseconds) {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(lock);
    if (owned && owner == self) {
        ++recursion;
        return WAIT_OBJECT_0;
    }
    const auto isFree = [this] { return !owned; };
    if (milliseconds == INFINITE) {
        released.wait(guard, isFree);
    } else {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        if (!released.wait_until(guard, deadline, isFree)) {
            return WAIT_TIMEOUT;
        }
    }
    const bool wasAbandoned = abandoned;
    takeOwnership();
    return wasAbandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

void MutexObject::acquireNew() {
    std::lock_guard<std::mutex> guard(lock);
    takeOwnership();
}

void MutexObject::takeOwnership() {
    owned = true;
    abandoned = false;
    owner = std::this_thread::get_id();
    recursion = 1;
    ownedByThisThread().add(shared_from_this());
}

bool MutexObject::release() {
    std::lock_guard<std::mutex> guard(lock);
    if (!owned || owner != std::this_thread::get_id()) {
        return false;
    }
    if (--recursion == 0) {
        owned = false;
        owner = std::thread::id();
        ownedByThisThread().remove(this);
        released.notify_one();
    }
    return true;
}

void MutexObject::abandon(std::thread::id thread) {
    std::lock_guard<std::mutex> guard(lock);
    if (owned && owner == thread) {
        owned = false;
        abandoned = true;
        owner = std::thread::id();
        recursion = 0;
        released.notify_one();
    }
}

}  // namespace Win32Emu

// Synchronisation: events, mutexes, waits and Sleep.

#include "machine/ApiSupport.h"
#include "machine/EventObject.h"
#include "machine/MachineModel.h"
#include "machine/MutexObject.h"
#include "machine/RegistryKeyObject.h"

#include <chrono>
#include <functional>
#include <thread>

using namespace Win32Emu;

namespace {

// CreateEventW and CreateMutexA: a new unnamed object; the last error is 0 after a creation, as
// callers test it for ERROR_ALREADY_EXISTS. Names (objects shared between processes) and
// security attributes (descriptors, inheritance) are not modelled.
template <class Object>
HANDLE createObject(const char* call,
                    LPSECURITY_ATTRIBUTES attributes,
                    bool named,
                    const std::function<std::shared_ptr<Object>()>& create) {
    if (RefuseUnmodelled(named || attributes != nullptr)) {
        return nullptr;
    }
    const HANDLE handle = Model().handles.insert(create(), call);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES lpEventAttributes,
                           BOOL bManualReset,
                           BOOL bInitialState,
                           LPCWSTR lpName) {
    if (InjectedFailure("CreateEventW", ToUtf8(lpName))) {
        return nullptr;
    }
    const bool named = lpName != nullptr && *lpName != L'\0';
    return createObject<EventObject>("CreateEventW", lpEventAttributes, named, [&] {
        return std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE);
    });
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
    if (InjectedFailure("SetEvent")) {
        return FALSE;
    }
    const auto event = Model().handles.findAs<EventObject>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->set();
    return TRUE;
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes,
                           BOOL bInitialOwner,
                           LPCSTR lpName) {
    const std::string name = lpName == nullptr ? std::string() : std::string(lpName);
    if (InjectedFailure("CreateMutexA", name)) {
        return nullptr;
    }
    return createObject<MutexObject>("CreateMutexA", lpMutexAttributes, !name.empty(), [&] {
        auto mutex = std::make_shared<MutexObject>();
        if (bInitialOwner) {
            mutex->acquireNew();
        }
        return mutex;
    });
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    if (InjectedFailure("ReleaseMutex")) {
        return FALSE;
    }
    const auto mutex = Model().handles.findAs<MutexObject>(hMutex);
    if (!mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!mutex->release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (InjectedFailure("WaitForSingleObject")) {
        return WAIT_FAILED;
    }
    // The object is held by this reference alone while waiting: no lock of the machine's.
    const std::optional<HandleEntry> entry = Model().handles.entry(hHandle);
    const auto object = entry ? std::dynamic_pointer_cast<WaitableObject>(entry->object) : nullptr;
    if (!object) {
        // The handle's access is checked before its type: a key handle without SYNCHRONIZE
        // (none of the KEY_ rights includes it) is refused as such.
        const auto key = Model().handles.findAs<RegistryKeyObject>(hHandle);
        SetLastError(key && (key->access & SYNCHRONIZE) == 0 ? ERROR_ACCESS_DENIED
                                                             : ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if ((entry->access & (SYNCHRONIZE | GENERIC_ALL)) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return WAIT_FAILED;
    }
    return object->wait(dwMilliseconds);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == INFINITE) {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(24));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

}  // extern "C"

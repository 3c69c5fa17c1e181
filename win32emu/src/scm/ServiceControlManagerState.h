#pragma once

// What the in-process SCM and its connection share (Win32Emu/ServiceControlManager.h).

#include "Win32Emu/ServiceControlManager.h"
#include "scm/ScmConnection.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace Win32Emu {

class InProcessScmConnection;

struct ServiceControlManager::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;

    bool attached = false;
    // The dispatcher's connection while it is connected, and where its controls go once open.
    InProcessScmConnection* connection = nullptr;
    ScmControlSink* sink = nullptr;

    std::optional<std::string> serviceName;
    bool serviceMainReturned = false;
    std::vector<SERVICE_STATUS> reports;
    // Controls are handled in the order they were posted; results[i] belongs to the i-th.
    size_t controlsPosted = 0;
    std::vector<DWORD> controlResults;

    std::optional<DWORD> holdState;
    bool holding = false;
    std::chrono::milliseconds serviceMainReturnTimeout{std::chrono::seconds(10)};

    // Cuts the connected dispatcher off its SCM. Called with `mutex` held.
    void disconnectLocked();
};

}  // namespace Win32Emu

#pragma once

// The process's handle table: every handle the emulated calls hand out, with its typed object,
// the access it was opened with and the call that created it, and the namespace of named
// objects. Handle values are never reused, so a stale handle fails with ERROR_INVALID_HANDLE
// instead of reaching a newer object. Thread-safe; no call blocks.

#include "machine/KernelObject.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Win32Emu {

struct HandleEntry {
    std::shared_ptr<KernelObject> object;
    ACCESS_MASK access = 0;
    std::string createdBy;
};

class HandleTable {
public:
    // Objects without access control of their own are opened with every right.
    HANDLE insert(std::shared_ptr<KernelObject> object,
                  const char* createdBy,
                  ACCESS_MASK access = GENERIC_ALL);
    // The object behind `handle`, or null for a handle that is not open.
    std::shared_ptr<KernelObject> find(HANDLE handle) const;
    template <class T>
    std::shared_ptr<T> findAs(HANDLE handle) const {
        return std::dynamic_pointer_cast<T>(find(handle));
    }
    std::optional<HandleEntry> entry(HANDLE handle) const;
    // Closes the handle; false when it was not open. The object goes with its last reference.
    bool remove(HANDLE handle);
    size_t size() const;
    std::vector<std::pair<HANDLE, HandleEntry>> entries() const;

private:
    HANDLE insertLocked(std::shared_ptr<KernelObject> object,
                        const char* createdBy,
                        ACCESS_MASK access);

    mutable std::mutex lock;
    std::map<std::uintptr_t, HandleEntry> objects;
    std::uintptr_t nextValue = 0x100;
};

}  // namespace Win32Emu

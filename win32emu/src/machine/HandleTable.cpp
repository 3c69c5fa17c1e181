#include "machine/HandleTable.h"

namespace Win32Emu {

HANDLE HandleTable::insert(std::shared_ptr<KernelObject> object,
                           const char* createdBy,
                           ACCESS_MASK access) {
    std::lock_guard<std::mutex> guard(lock);
    return insertLocked(std::move(object), createdBy, access);
}

HANDLE HandleTable::insertLocked(std::shared_ptr<KernelObject> object,
                                 const char* createdBy,
                                 ACCESS_MASK access) {
    // Multiples of four, as Windows hands out.
    const std::uintptr_t value = nextValue;
    nextValue += 4;
    objects.emplace(value, HandleEntry{std::move(object), access, createdBy});
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> HandleTable::find(HANDLE handle) const {
    std::lock_guard<std::mutex> guard(lock);
    const auto found = objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == objects.end() ? nullptr : found->second.object;
}

std::optional<HandleEntry> HandleTable::entry(HANDLE handle) const {
    std::lock_guard<std::mutex> guard(lock);
    const auto found = objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == objects.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool HandleTable::remove(HANDLE handle) {
    HandleEntry removed;
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto found = objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == objects.end()) {
            return false;
        }
        removed = std::move(found->second);
        objects.erase(found);
    }
    // The object may be destroyed here, outside the table's lock.
    return true;
}

size_t HandleTable::size() const {
    std::lock_guard<std::mutex> guard(lock);
    return objects.size();
}

std::vector<std::pair<HANDLE, HandleEntry>> HandleTable::entries() const {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::pair<HANDLE, HandleEntry>> result;
    for (const auto& entry : objects) {
        result.emplace_back(reinterpret_cast<HANDLE>(entry.first), entry.second);
    }
    return result;
}

}  // namespace Win32Emu

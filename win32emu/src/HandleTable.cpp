#include "HandleTable.h"

namespace Win32Emu {

HANDLE HandleTable::insert(std::shared_ptr<KernelObject> object) {
    std::lock_guard<std::mutex> guard(lock);
    return insertLocked(std::move(object));
}

HANDLE HandleTable::insertLocked(std::shared_ptr<KernelObject> object) {
    // Multiples of four, as Windows hands out.
    const std::uintptr_t value = nextValue;
    nextValue += 4;
    objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> HandleTable::find(HANDLE handle) const {
    std::lock_guard<std::mutex> guard(lock);
    const auto found = objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == objects.end() ? nullptr : found->second;
}

bool HandleTable::remove(HANDLE handle) {
    std::shared_ptr<KernelObject> removed;
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

}  // namespace Win32Emu

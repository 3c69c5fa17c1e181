#include "machine/MachineModel.h"

namespace Win32Emu {

DWORD MachineModel::majorVersion() const {
    std::lock_guard<std::mutex> guard(lock);
    return configuration.version.majorVersion;
}

bool MachineModel::addLocalAllocation(void* block, const char* call) {
    std::lock_guard<std::mutex> guard(accountingLock);
    return localBlocks.emplace(block, call).second;
}

bool MachineModel::removeLocalAllocation(void* block) {
    std::lock_guard<std::mutex> guard(accountingLock);
    return localBlocks.erase(block) > 0;
}

size_t MachineModel::localAllocationCount() const {
    std::lock_guard<std::mutex> guard(accountingLock);
    return localBlocks.size();
}

std::vector<std::pair<void*, std::string>> MachineModel::localAllocations() const {
    std::lock_guard<std::mutex> guard(accountingLock);
    return std::vector<std::pair<void*, std::string>>(localBlocks.begin(), localBlocks.end());
}

void MachineModel::addEnvironmentBlock(void* block, const EnvironmentOrigin& origin) {
    std::lock_guard<std::mutex> guard(accountingLock);
    environmentBlocks[block] = origin;
}

std::optional<EnvironmentOrigin> MachineModel::environmentBlockOrigin(void* block) const {
    std::lock_guard<std::mutex> guard(accountingLock);
    const auto found = environmentBlocks.find(block);
    if (found == environmentBlocks.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool MachineModel::removeEnvironmentBlock(void* block) {
    std::lock_guard<std::mutex> guard(accountingLock);
    return environmentBlocks.erase(block) > 0;
}

size_t MachineModel::environmentBlockCount() const {
    std::lock_guard<std::mutex> guard(accountingLock);
    return environmentBlocks.size();
}

bool MachineModel::uses32BitRegistryView(REGSAM access) const {
    std::lock_guard<std::mutex> guard(lock);
    const WORD architecture = configuration.processorArchitecture;
    if (architecture != PROCESSOR_ARCHITECTURE_AMD64 &&
        architecture != PROCESSOR_ARCHITECTURE_IA64 &&
        architecture != PROCESSOR_ARCHITECTURE_ARM64) {
        return false;
    }
    if (configuration.wow64) {
        return (access & KEY_WOW64_64KEY) == 0;
    }
    return (access & KEY_WOW64_32KEY) != 0;
}

}  // namespace Win32Emu

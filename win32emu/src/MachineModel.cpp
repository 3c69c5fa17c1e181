#include "MachineModel.h"

namespace Win32Emu {

bool MachineModel::addLocalAllocation(void* block) {
    std::lock_guard<std::mutex> guard(accountingLock);
    return localAllocations.insert(block).second;
}

bool MachineModel::removeLocalAllocation(void* block) {
    std::lock_guard<std::mutex> guard(accountingLock);
    return localAllocations.erase(block) > 0;
}

size_t MachineModel::localAllocationCount() const {
    std::lock_guard<std::mutex> guard(accountingLock);
    return localAllocations.size();
}

void MachineModel::addEnvironmentBlock(void* block) {
    std::lock_guard<std::mutex> guard(accountingLock);
    environmentBlocks.insert(block);
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

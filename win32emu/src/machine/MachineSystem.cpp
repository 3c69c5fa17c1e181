// The machine's Windows: version, architecture, exports, product, metrics, shell folders and the
// process's own module.

#include "Win32Emu/Machine.h"
#include "machine/Exports.h"
#include "machine/MachineModel.h"
#include "machine/MachineState.h"

#include <Poco/Exception.h>

#include <shlobj.h>

namespace Win32Emu {

void Machine::setVersion(const VersionInfo& version) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.version = version;
}

VersionInfo Machine::version() const {
    std::lock_guard<std::mutex> guard(state->model.lock);
    return state->model.configuration.version;
}

void Machine::setProcessorArchitecture(WORD architecture) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.processorArchitecture = architecture;
}

void Machine::setExported(const std::string& module, const std::string& function, bool exported) {
    const std::string entry = ExportEntryName(module, function);
    if (entry.empty()) {
        throw Poco::InvalidArgumentException("Not an emulated export", module + "!" + function);
    }
    std::lock_guard<std::mutex> guard(state->model.lock);
    if (exported) {
        state->model.configuration.hiddenExports.erase(entry);
    } else {
        state->model.configuration.hiddenExports.insert(entry);
    }
}

void Machine::setProductInfo(DWORD productType) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.productInfo = productType;
}

void Machine::setSystemMetric(int index, int value) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.systemMetrics[index] = value;
}

void Machine::setWow64(bool wow64) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.wow64 = wow64;
}

void Machine::setFolderPath(int csidl, const std::wstring& path) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.folders[csidl & ~CSIDL_FLAG_MASK] = path;
}

void Machine::setModuleFileName(const std::wstring& path) {
    std::lock_guard<std::mutex> guard(state->model.lock);
    state->model.configuration.moduleFileName = path;
}

}  // namespace Win32Emu

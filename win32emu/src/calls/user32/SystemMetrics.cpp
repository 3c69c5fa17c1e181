// System metrics: GetSystemMetrics, from the values the machine sets.

#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"

using namespace Win32Emu;

namespace {

Configuration configuration() {
    std::lock_guard<std::mutex> guard(Model().lock);
    return Model().configuration;
}

}  // namespace

extern "C" {

int WINAPI GetSystemMetrics(int nIndex) {
    if (InjectedFailure("GetSystemMetrics")) {
        return 0;
    }
    const Configuration current = configuration();
    const auto found = current.systemMetrics.find(nIndex);
    return found == current.systemMetrics.end() ? 0 : found->second;
}

}  // extern "C"

#include "FaultInjector.h"

#include <Poco/UTF8String.h>

namespace Win32Emu {

void FaultInjector::failNext(const std::string& call, DWORD error) {
    std::lock_guard<std::mutex> guard(lock);
    oneShot[call].push_back(error);
}

void FaultInjector::failWhen(const std::string& call, const std::string& argument, DWORD error) {
    std::lock_guard<std::mutex> guard(lock);
    standing.push_back(Standing{call, argument, error});
}

void FaultInjector::clear() {
    std::lock_guard<std::mutex> guard(lock);
    oneShot.clear();
    standing.clear();
}

std::optional<DWORD> FaultInjector::take(const std::string& call, const std::string& argument) {
    std::lock_guard<std::mutex> guard(lock);
    const auto armed = oneShot.find(call);
    if (armed != oneShot.end() && !armed->second.empty()) {
        const DWORD error = armed->second.front();
        armed->second.pop_front();
        return error;
    }
    for (const Standing& fault : standing) {
        if (fault.call == call && Poco::UTF8::icompare(fault.argument, argument) == 0) {
            return fault.error;
        }
    }
    return std::nullopt;
}

}  // namespace Win32Emu

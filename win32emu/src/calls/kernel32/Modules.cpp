// Modules: GetModuleHandleA/W, GetProcAddress, GetModuleFileNameW.

#include "machine/ApiSupport.h"
#include "machine/Exports.h"
#include "machine/MachineModel.h"

#include <algorithm>
#include <cstdint>

using namespace Win32Emu;

namespace {

HMODULE moduleHandle(const std::string* name) {
    if (name == nullptr) {
        return reinterpret_cast<HMODULE>(ExecutableBase);
    }
    const LoadedModule* module = LoadedModuleNamed(*name);
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(module->base);
}

}  // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    const std::string name = lpModuleName == nullptr ? std::string() : std::string(lpModuleName);
    if (InjectedFailure("GetModuleHandleA", name)) {
        return nullptr;
    }
    return moduleHandle(lpModuleName == nullptr ? nullptr : &name);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    // A value below 0x10000 is an ordinal; nothing is exported by ordinal here.
    const bool byOrdinal = (reinterpret_cast<std::uintptr_t>(lpProcName) >> 16) == 0;
    const std::string name = byOrdinal ? std::string() : std::string(lpProcName);
    if (InjectedFailure("GetProcAddress", name)) {
        return nullptr;
    }
    const LoadedModule* module = LoadedModuleAt(hModule);
    if (module == nullptr && !IsExecutableModule(hModule)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (module != nullptr && !byOrdinal) {
        const std::string entryName = std::string(module->name) + "!" + name;
        bool hidden = false;
        {
            std::lock_guard<std::mutex> guard(Model().lock);
            hidden = Model().configuration.hiddenExports.count(entryName) > 0;
        }
        hidden = hidden || !ExportedOnThisVersion(name);
        const FARPROC address = hidden ? nullptr : ExportAddress(module->name, name);
        if (address != nullptr) {
            return address;
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    if (InjectedFailure("GetModuleFileNameW")) {
        return 0;
    }
    std::wstring path;
    if (IsExecutableModule(hModule)) {
        std::lock_guard<std::mutex> guard(Model().lock);
        path = Model().configuration.moduleFileName;
    } else if (const LoadedModule* module = LoadedModuleAt(hModule)) {
        std::lock_guard<std::mutex> guard(Model().lock);
        const bool wow64 = Model().configuration.wow64;
        path = ToWide(std::string(wow64 ? "C:\\Windows\\SysWOW64\\" : "C:\\Windows\\system32\\") +
                      module->name);
    }
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (lpFilename == nullptr && nSize > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (path.size() < nSize) {
        std::copy(path.begin(), path.end(), lpFilename);
        lpFilename[path.size()] = L'\0';
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(path.size());
    }
    // Truncated to the buffer, terminating zero included, as Windows does since Vista.
    if (nSize > 0) {
        std::copy(path.begin(), path.begin() + (nSize - 1), lpFilename);
        lpFilename[nSize - 1] = L'\0';
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}

}  // extern "C"

// The current directory: GetCurrentDirectoryW.

#include "machine/ApiSupport.h"
#include "machine/MachineModel.h"

#include <algorithm>

using namespace Win32Emu;

extern "C" {

DWORD WINAPI GetCurrentDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer) {
    if (InjectedFailure("GetCurrentDirectoryW")) {
        return 0;
    }
    std::wstring directory;
    {
        std::lock_guard<std::mutex> guard(Model().lock);
        directory = Model().configuration.currentDirectory;
    }
    // Too small (or no buffer): the size needed, terminating zero included, and nothing written.
    if (lpBuffer == nullptr || nBufferLength <= directory.size()) {
        return static_cast<DWORD>(directory.size() + 1);
    }
    std::copy(directory.begin(), directory.end(), lpBuffer);
    lpBuffer[directory.size()] = L'\0';
    return static_cast<DWORD>(directory.size());
}

}  // extern "C"

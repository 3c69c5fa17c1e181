// Files and directories: GetCurrentDirectoryW, and the host path of a Windows path.

#include "Win32Emu/HostPath.h"
#include "machine/ApiSupport.h"
#include "machine/FileSystem.h"
#include "machine/MachineModel.h"

#include <algorithm>

using namespace Win32Emu;

namespace Win32Emu {

std::string HostPathFromWindowsPath(const std::string& windowsPath) {
    // A program that opens the path by name goes through the junctions on it to their targets.
    const std::optional<std::vector<std::string>> given = SplitDrivePath(windowsPath);
    if (given) {
        const SecurableObject object = Model().security.resolveFile(windowsPath);
        if (!object.components.empty() && object.components != *given) {
            return Model().drives.hostPath(SpelledPath(object.components, std::string()));
        }
    }
    return Model().drives.hostPath(windowsPath);
}

}  // namespace Win32Emu

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
